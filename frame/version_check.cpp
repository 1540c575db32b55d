#include "version_check.h"

#include <cstdio>

namespace zalmor::frame {

std::string build_version_text(int major, int minor) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "%d.%d", major, minor);
    return buf;
}

bool version_matches(const char* built, const char* running) {
    // Compare at most 4 characters; every character of the built text must match.
    std::size_t i = 0;
    for (; built[i] != '\0' && i < 4; ++i) {
        if (running[i] != built[i]) return false;
    }
    if (built[i] != '\0') return false;  // longer than the compared window
    const char next = running[i];
    return !(next >= '0' && next <= '9');
}

std::string running_version_prefix(const char* running) {
    std::string out;
    bool seen_dot = false;
    for (std::size_t i = 0; i < 4 && running[i] != '\0'; ++i) {
        const char c = running[i];
        if (c == '.') {
            if (seen_dot) break;
            seen_dot = true;
        } else if (!(c >= '0' && c <= '9')) {
            break;
        }
        out.push_back(c);
    }
    return out;
}

std::string version_mismatch_message(const char* built, const char* module, const char* running) {
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "compiletime version %s of module '%.100s' does not match runtime version %s",
                  built, module, running_version_prefix(running).c_str());
    return buf;
}

}  // namespace zalmor::frame

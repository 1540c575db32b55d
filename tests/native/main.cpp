#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "check.h"

namespace zalmor::testing {

namespace {
int g_failures_in_case = 0;
}

std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

void record_failure(const char* file, int line, const std::string& what) {
    ++g_failures_in_case;
    std::printf("  %s:%d: check failed: %s\n", file, line, what.c_str());
}

long long check_count(const char* name, long long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoll(value) : fallback;
}

}  // namespace zalmor::testing

int main(int argc, char** argv) {
    using namespace zalmor::testing;
    int passed = 0, failed = 0;
    for (const Case& c : registry()) {
        if (argc > 1 && std::strstr(c.name, argv[1]) == nullptr) continue;
        g_failures_in_case = 0;
        c.run();
        if (g_failures_in_case == 0) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED %s\n", c.name);
        }
    }
    std::printf("core tests: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

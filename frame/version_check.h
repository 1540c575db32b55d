// Comparison of the interpreter version a module was built for with the one running it.
// Pure C++: no Python here, so the rule can be tested on its own.
#pragma once

#include <cstddef>
#include <string>

namespace zalmor::frame {

// "3.11" for major 3, minor 11 (the text is cut to fit a 5-byte buffer, as the
// running version is compared on at most 4 characters).
std::string build_version_text(int major, int minor);

// True when `running` (the interpreter's version text, e.g. "3.11.7 (main, ...)")
// starts with `built` and the next character is not a decimal digit.
bool version_matches(const char* built, const char* running);

// The leading part of `running` used in the mismatch warning: at most 4 characters
// made of digits and at most one dot.
std::string running_version_prefix(const char* running);

// "compiletime version B of module 'M' does not match runtime version R", cut to
// fit a 200-byte buffer like the text it stands for.
std::string version_mismatch_message(const char* built, const char* module, const char* running);

}  // namespace zalmor::frame

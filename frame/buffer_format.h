// Checking a buffer's struct-style format text (PEP 3118) against the element
// type a typed view expects. Pure C++: no Python here, so the rule can be tested
// and fuzzed on its own; the module frame turns a failure into a ValueError.
#pragma once

#include <string>
#include <string_view>

#include "frame/type_info.h"

namespace zalmor::frame {

// Structures may nest this many levels deep, in the format and in the expected type.
inline constexpr int kMaxFormatNesting = 64;

// Checks that `format` describes exactly one item of type `expected`: the same
// kind and size, field by field at the same byte offsets when structures are
// involved (they are flattened on both sides). Returns an empty string when it
// does, else the text of the ValueError to raise.
//
// The text is read up to its end or its first NUL byte, and may be anything: the
// check always returns, its work is bounded by the format's length times the
// number of fields of `expected`, and absurd formats (numbers beyond the address
// space, structures nested deeper than kMaxFormatNesting) fail with a message.
// A message may quote one byte of the format as it is, which need not be ASCII.
std::string check_buffer_format(std::string_view format, const TypeInfo& expected);

}  // namespace zalmor::frame

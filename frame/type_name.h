#pragma once

namespace zalmor::frame {

// "<qualified>.<name>" in static storage, which outlives every type (some
// interpreters keep the pointer a type is made with). Null with MemoryError
// set when the storage is used up.
const char* type_name(const char* qualified, const char* name);

}  // namespace zalmor::frame

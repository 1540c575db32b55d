#pragma once

namespace zalmor::frame {

// "<qualified>.<name>", allocated once for the life of the process (type names
// must outlive their types). Null with MemoryError set when out of memory.
const char* type_name(const char* qualified, const char* name);

}  // namespace zalmor::frame

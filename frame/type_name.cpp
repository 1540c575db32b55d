#include "type_name.h"

#include <Python.h>

#include <cstdlib>
#include <cstring>

namespace zalmor::frame {

const char* type_name(const char* qualified, const char* name) {
    const std::size_t a = std::strlen(qualified), b = std::strlen(name);
    char* out = static_cast<char*>(std::malloc(a + b + 2));
    if (out == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    std::memcpy(out, qualified, a);
    out[a] = '.';
    std::memcpy(out + a + 1, name, b + 1);
    return out;
}

}  // namespace zalmor::frame

#include "type_name.h"

#include <Python.h>

#include <cstring>

namespace zalmor::frame {
namespace {

// Type names live in static storage: a module makes four of them, once.
char g_pool[1024];
std::size_t g_used = 0;

}  // namespace

const char* type_name(const char* qualified, const char* name) {
    const std::size_t a = std::strlen(qualified), b = std::strlen(name);
    if (a + b + 2 > sizeof g_pool - g_used) {
        PyErr_SetString(PyExc_MemoryError, "no room left for type names");
        return nullptr;
    }
    char* out = g_pool + g_used;
    std::memcpy(out, qualified, a);
    out[a] = '.';
    std::memcpy(out + a + 1, name, b + 1);
    g_used += a + b + 2;
    return out;
}

}  // namespace zalmor::frame

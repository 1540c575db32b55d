// Scoped acquisition of the interpreter lock for code that may run without it.
#pragma once

#include <Python.h>

namespace zalmor::frame {

class GilGuard {
public:
    GilGuard() noexcept : state_(PyGILState_Ensure()) {}
    ~GilGuard() { PyGILState_Release(state_); }
    GilGuard(const GilGuard&) = delete;
    GilGuard& operator=(const GilGuard&) = delete;

private:
    PyGILState_STATE state_;
};

}  // namespace zalmor::frame

// Owning handle for one strong reference to a Python object.
#pragma once

#include <Python.h>

#include "compat.h"

#include <utility>

namespace zalmor::frame {

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (may be null).
    static Ref steal(PyObject* o) noexcept { return Ref(o); }
    // Takes an additional reference to a borrowed object (may be null).
    static Ref borrow(PyObject* o) noexcept {
        Py_XINCREF(o);
        return Ref(o);
    }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) reset(std::exchange(other.obj_, nullptr));
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    PyObject* get() const noexcept { return obj_; }
    explicit operator bool() const noexcept { return obj_ != nullptr; }
    // Gives up ownership; the caller now owns the reference.
    PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
    void reset(PyObject* o = nullptr) noexcept {
        PyObject* old = std::exchange(obj_, o);
        Py_XDECREF(old);
    }

private:
    explicit Ref(PyObject* o) noexcept : obj_(o) {}
    PyObject* obj_ = nullptr;
};

}  // namespace zalmor::frame

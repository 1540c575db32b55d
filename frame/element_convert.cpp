#include "element_convert.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "ref.h"
#include "strided.h"

namespace zalmor::frame {
namespace {

template <class T>
constexpr const char* integer_name() {
    if constexpr (std::is_same_v<T, std::uint32_t>) return "unsigned int";
    if constexpr (std::is_same_v<T, std::int32_t>) return "int";
    if constexpr (std::is_same_v<T, std::uint64_t>) return "unsigned long";
    return "long";
}

template <class T>
PyObject* integer_to_object(const char* item) {
    if constexpr (std::is_signed_v<T>) return PyLong_FromLongLong(load<T>(item));
    return PyLong_FromUnsignedLongLong(load<T>(item));
}

template <class T>
int integer_from_object(char* item, PyObject* value) {
    Ref number;
    if (PyLong_Check(value)) {
        number = Ref::borrow(value);
    } else if (Py_TYPE(value)->tp_as_number != nullptr && Py_TYPE(value)->tp_as_number->nb_index != nullptr) {
        number = Ref::steal(PyNumber_Index(value));
        if (!number) return -1;
    } else {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return -1;
    }
    int overflow = 0;
    if constexpr (std::is_signed_v<T>) {
        const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
        if (v == -1 && PyErr_Occurred()) return -1;
        if (overflow != 0 || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) {
            PyErr_Format(PyExc_OverflowError, "value too large to convert to %s", integer_name<T>());
            return -1;
        }
        store<T>(item, static_cast<T>(v));
    } else {
        const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
        if (v == -1 && PyErr_Occurred()) return -1;
        if (overflow < 0 || (overflow == 0 && v < 0)) {
            PyErr_Format(PyExc_OverflowError, "can't convert negative value to %s", integer_name<T>());
            return -1;
        }
        unsigned long long u;
        if (overflow > 0) {
            u = PyLong_AsUnsignedLongLong(number.get());
            if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
                PyErr_Clear();
                overflow = 2;
            }
        } else {
            u = static_cast<unsigned long long>(v);
        }
        if (overflow == 2 || u > std::numeric_limits<T>::max()) {
            PyErr_Format(PyExc_OverflowError, "value too large to convert to %s", integer_name<T>());
            return -1;
        }
        store<T>(item, static_cast<T>(u));
    }
    return 0;
}

PyObject* double_to_object(const char* item) { return PyFloat_FromDouble(load<double>(item)); }

int double_from_object(char* item, PyObject* value) {
    const double v = PyFloat_AsDouble(value);
    if (v == -1.0 && PyErr_Occurred()) return -1;
    store<double>(item, v);
    return 0;
}

PyObject* complex_to_object(const char* item) {
    double both[2];
    std::memcpy(both, item, sizeof both);
    return PyComplex_FromDoubles(both[0], both[1]);
}

int complex_from_object(char* item, PyObject* value) {
    const Py_complex v = PyComplex_AsCComplex(value);
    if (v.real == -1.0 && PyErr_Occurred()) return -1;
    const double both[2] = {v.real, v.imag};
    std::memcpy(item, both, sizeof both);
    return 0;
}

}  // namespace

ElementConverters converters_for(const TypeInfo& type) noexcept {
    switch (type.kind) {
        case TypeKind::unsigned_integer:
            if (type.size == 4) return {&integer_to_object<std::uint32_t>, &integer_from_object<std::uint32_t>};
            if (type.size == 8) return {&integer_to_object<std::uint64_t>, &integer_from_object<std::uint64_t>};
            break;
        case TypeKind::signed_integer:
            if (type.size == 4) return {&integer_to_object<std::int32_t>, &integer_from_object<std::int32_t>};
            if (type.size == 8) return {&integer_to_object<std::int64_t>, &integer_from_object<std::int64_t>};
            break;
        case TypeKind::real:
            if (type.size == 8) return {&double_to_object, &double_from_object};
            break;
        case TypeKind::complex:
            if (type.size == 16) return {&complex_to_object, &complex_from_object};
            break;
        default: break;
    }
    return {nullptr, nullptr};
}

}  // namespace zalmor::frame

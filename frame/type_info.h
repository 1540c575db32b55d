// Element type records: what a typed view expects of a buffer's items. Pure C++.
#pragma once

#include <cstddef>

#include "limits.h"

namespace zalmor::frame {

enum class TypeKind : char {
    real,             // 'R'
    signed_integer,   // 'I' (signed)
    unsigned_integer, // 'U'
    complex,          // 'C'
    character,        // 'H'
    structure,        // 'S'
    object,           // 'O'
};

struct TypeInfo;

// One member of a structure type.
struct TypeField {
    const TypeInfo* type;  // null terminates a field list
    const char* name;
    std::size_t offset;
};

struct TypeInfo {
    const char* name;  // as it appears in messages, e.g. "unsigned int"
    std::size_t size;  // bytes
    const TypeField* fields;  // structure members, else null
    int ndim;                 // sub-array dimensions of the item (0 for scalars)
    std::size_t dims[kMaxDims];
    TypeKind kind;
    bool is_unsigned;
};

// The element types of this package's views.
inline constexpr TypeInfo kDouble{"double", 8, nullptr, 0, {}, TypeKind::real, false};
inline constexpr TypeInfo kInt{"int", 4, nullptr, 0, {}, TypeKind::signed_integer, false};
inline constexpr TypeInfo kDoubleComplex{"double complex", 16, nullptr, 0, {}, TypeKind::complex, false};
inline constexpr TypeInfo kUnsignedLong{"unsigned long", 8, nullptr, 0, {}, TypeKind::unsigned_integer, true};
inline constexpr TypeInfo kUnsignedInt{"unsigned int", 4, nullptr, 0, {}, TypeKind::unsigned_integer, true};
inline constexpr TypeInfo kUint32{"uint32_t", 4, nullptr, 0, {}, TypeKind::unsigned_integer, true};
inline constexpr TypeInfo kFloat64{"float64_t", 8, nullptr, 0, {}, TypeKind::real, false};

// Whether a view of type `a` may be used where `b` is expected without a new
// format check: same size, kind and signedness; a character type on either side
// needs only the same size.
constexpr bool same_element_type(const TypeInfo& a, const TypeInfo& b) noexcept {
    if (a.size != b.size) return false;
    if (a.kind == TypeKind::character || b.kind == TypeKind::character) return true;
    return a.kind == b.kind && a.is_unsigned == b.is_unsigned;
}

}  // namespace zalmor::frame

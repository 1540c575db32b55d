// libFuzzer target: the buffer format check against every element type the
// package uses, and against a small structure type. Any input must come back
// accepted or with a message; never a crash, a hang or an out-of-bounds read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/buffer_format.h"
#include "frame/type_info.h"

namespace {

using namespace zalmor::frame;

constexpr TypeInfo kChar{"char", 1, nullptr, 0, {}, TypeKind::character, false};
constexpr TypeField kPairFields[] = {{&kUnsignedInt, "a", 0}, {&kDouble, "b", 8}, {nullptr, nullptr, 0}};
constexpr TypeInfo kPair{"Pair", 16, kPairFields, 0, {}, TypeKind::structure, false};
constexpr TypeInfo kTriple{"double", 8, nullptr, 1, {3}, TypeKind::real, false};

const TypeInfo* const kTypes[] = {&kDouble,      &kInt,    &kDoubleComplex, &kUnsignedLong,
                                  &kUnsignedInt, &kUint32, &kFloat64,       &kChar,
                                  &kPair,        &kTriple};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The text is copied so that a read past its end is caught.
    const std::string format(reinterpret_cast<const char*>(data), size);
    for (const TypeInfo* type : kTypes) {
        const std::string message = check_buffer_format(std::string_view(format), *type);
        if (message.size() > 4096) __builtin_trap();  // messages stay short
    }
    return 0;
}

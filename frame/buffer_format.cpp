// Reading a PEP 3118 format text left to right and matching its items against the
// fields of the expected element type.
//
// Both sides are flattened to scalar items. The expected type becomes a list of
// fields with absolute byte offsets (a structure contributes its members, a
// structure-typed sub-array as many copies of them as it has elements); the format
// is walked with a running byte offset, and each scalar item it describes must
// match the next field in kind, size, sub-array shape and offset.
//
// Choices the PEP leaves open:
// - Whitespace (space, CR, LF) is allowed between any two tokens, but not inside a
//   ':name:', whose bytes are skipped up to the closing ':'.
// - A byte-order prefix lasts until the end of the structure it appears in.
// - Under '@' an item is aligned to its natural alignment only inside a structure;
//   'x' padding and the structures themselves are never aligned, and a structure
//   gets no trailing padding (exporters spell it out with 'x').
// - A repeat count or shape followed by nothing describes nothing; padding after
//   the last field is allowed (the item size check catches a wrong total).
// - "(n,m)T{...}" is n*m consecutive copies of the structure, like a repeat count.

#include "frame/buffer_format.h"

#include <cstddef>
#include <limits>
#include <vector>

namespace zalmor::frame {
namespace {

// Offsets and sizes are kept below this so that they print as %zd and never wrap.
constexpr std::size_t kMaxBytes = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
constexpr std::size_t kMaxFields = std::size_t{1} << 16;

constexpr const char* kTooLarge = "Buffer format string describes an item too large to handle";
constexpr const char* kExpectedParen = "Unexpected end of format string, expected ')'";

enum class Regime { native_aligned, native_packed, standard };

enum class ItemKind { unsigned_integer, signed_integer, character, real, complex, object, pointer };

struct Item {
    ItemKind kind;
    std::size_t size;
    std::size_t align;
    const char* description;  // the found side of a mismatch message
};

// A scalar (or scalar sub-array) member of the expected type, at its absolute offset.
struct Field {
    const TypeInfo* type;
    const TypeInfo* parent;  // innermost structure holding it; null for a non-structure type
    const char* name;        // member name inside `parent`
    std::size_t offset;
};

struct Shape {
    int ndim = 0;
    std::size_t dims[kMaxDims] = {};
};

bool is_space(char c) { return c == ' ' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
const char* text(const char* s) { return s != nullptr ? s : ""; }

std::string not_understood(char c) {
    return std::string("Does not understand character buffer dtype format string ('") + c + "')";
}

const char* kLongDoubleStandard =
    "Python does not define a standard format string size for long double ('g')..";

// The scalar a type letter stands for; false (with `error` set) for any other byte.
bool scalar_item(char letter, Regime regime, Item& item, std::string& error) {
    const bool standard = regime == Regime::standard;
    const std::size_t long_size = standard ? 4 : 8;
    switch (letter) {
    case '?': item = {ItemKind::unsigned_integer, 1, 1, "'bool'"}; return true;
    case 'B': item = {ItemKind::unsigned_integer, 1, 1, "'unsigned char'"}; return true;
    case 'H': item = {ItemKind::unsigned_integer, 2, 2, "'unsigned short'"}; return true;
    case 'I': item = {ItemKind::unsigned_integer, 4, 4, "'unsigned int'"}; return true;
    case 'L': item = {ItemKind::unsigned_integer, long_size, long_size, "'unsigned long'"}; return true;
    case 'Q': item = {ItemKind::unsigned_integer, 8, 8, "'unsigned long long'"}; return true;
    case 'b': item = {ItemKind::signed_integer, 1, 1, "'signed char'"}; return true;
    case 'h': item = {ItemKind::signed_integer, 2, 2, "'short'"}; return true;
    case 'i': item = {ItemKind::signed_integer, 4, 4, "'int'"}; return true;
    case 'l': item = {ItemKind::signed_integer, long_size, long_size, "'long'"}; return true;
    case 'q': item = {ItemKind::signed_integer, 8, 8, "'long long'"}; return true;
    case 'c': item = {ItemKind::character, 1, 1, "'char'"}; return true;
    case 'f': item = {ItemKind::real, 4, 4, "'float'"}; return true;
    case 'd': item = {ItemKind::real, 8, 8, "'double'"}; return true;
    case 'O': item = {ItemKind::object, 8, 8, "Python object"}; return true;
    case 'P': item = {ItemKind::pointer, 8, 8, "a pointer"}; return true;
    case 'g':
        if (standard) {
            error = kLongDoubleStandard;
            return false;
        }
        item = {ItemKind::real, 16, 16, "'long double'"};
        return true;
    default:
        error = not_understood(letter);
        return false;
    }
}

// 'Z' followed by `letter`: twice the real size, aligned like the real part.
bool complex_item(char letter, Regime regime, Item& item, std::string& error) {
    switch (letter) {
    case 'f': item = {ItemKind::complex, 8, 4, "'complex float'"}; return true;
    case 'd': item = {ItemKind::complex, 16, 8, "'complex double'"}; return true;
    case 'g':
        if (regime == Regime::standard) {
            error = kLongDoubleStandard;
            return false;
        }
        item = {ItemKind::complex, 32, 16, "'complex long double'"};
        return true;
    default:
        error = std::string("Unexpected format string character: '") + letter + "'";
        return false;
    }
}

bool same_kind_and_size(const Item& item, const TypeInfo& type) {
    if (item.size != type.size) return false;
    if (item.kind == ItemKind::character || type.kind == TypeKind::character) return true;
    const bool integer = type.kind == TypeKind::signed_integer || type.kind == TypeKind::unsigned_integer;
    const bool is_unsigned = type.kind == TypeKind::unsigned_integer || type.is_unsigned;
    switch (item.kind) {
    case ItemKind::unsigned_integer: return integer && is_unsigned;
    case ItemKind::signed_integer: return integer && !is_unsigned;
    case ItemKind::real: return type.kind == TypeKind::real;
    case ItemKind::complex: return type.kind == TypeKind::complex;
    case ItemKind::object: return type.kind == TypeKind::object;
    default: return false;  // no element type is a pointer
    }
}

bool flattens(const TypeInfo& type) { return type.kind == TypeKind::structure && type.fields != nullptr; }

// a * b, or false when it exceeds kMaxBytes.
bool checked_product(std::size_t a, std::size_t b, std::size_t& result) {
    if (a != 0 && b > kMaxBytes / a) return false;
    result = a * b;
    return true;
}

class Checker {
public:
    explicit Checker(std::string_view format) : fmt_(format.substr(0, format.find('\0'))) {}

    std::string run(const TypeInfo& expected) {
        if (flattens(expected)) {
            if (!flatten(expected, 0, 1)) return error_;
        } else {
            fields_.push_back({&expected, nullptr, nullptr, 0});
        }
        if (!read_sequence(0, Regime::native_aligned)) return error_;
        if (next_ < fields_.size()) return mismatch(&fields_[next_], "end");
        return {};
    }

private:
    std::string_view fmt_;
    std::size_t pos_ = 0;
    std::vector<Field> fields_;
    std::size_t next_ = 0;    // index in fields_ of the field the next item must match
    std::size_t offset_ = 0;  // byte offset of the next item
    bool dry_ = false;        // reading a structure repeated zero times: syntax only
    std::string error_;

    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }
    bool at_end() const { return pos_ >= fmt_.size(); }
    char peek() const { return fmt_[pos_]; }
    void skip_space() {
        while (!at_end() && is_space(peek())) ++pos_;
    }

    bool flatten(const TypeInfo& structure, std::size_t base, int depth) {
        if (depth > kMaxFormatNesting) return fail("Buffer dtype nests structures too deeply");
        for (const TypeField* f = structure.fields; f->type != nullptr; ++f) {
            const TypeInfo& type = *f->type;
            if (!flattens(type)) {
                if (fields_.size() == kMaxFields) return fail("Buffer dtype has too many fields to check");
                fields_.push_back({&type, &structure, f->name, base + f->offset});
                continue;
            }
            std::size_t copies = 1;
            for (int i = 0; i < type.ndim && i < kMaxDims; ++i) {
                if (!checked_product(copies, type.dims[i], copies)) copies = kMaxBytes;
            }
            for (std::size_t k = 0; k < copies; ++k) {
                const std::size_t before = fields_.size();
                if (!flatten(type, base + f->offset + k * type.size, depth + 1)) return false;
                if (fields_.size() == before) break;  // a structure without members
            }
        }
        return true;
    }

    std::string mismatch(const Field* field, std::string_view found) const {
        std::string m = "Buffer dtype mismatch, expected ";
        if (field == nullptr) {
            m += "end";
        } else if (field->parent != nullptr) {
            m += "'";
            m += text(field->type->name);
            m += "' but got ";
            m += found;
            m += " in '";
            m += text(field->parent->name);
            m += ".";
            m += text(field->name);
            m += "'";
            return m;
        } else if (field->type->kind == TypeKind::structure) {
            m += text(field->type->name);
        } else {
            m += "'";
            m += text(field->type->name);
            m += "'";
        }
        m += " but got ";
        m += found;
        return m;
    }

    bool advance(std::size_t bytes) {
        if (bytes > kMaxBytes - offset_) return fail(kTooLarge);
        offset_ += bytes;
        return true;
    }

    bool read_number(std::size_t& value) {
        value = 0;
        while (!at_end() && is_digit(peek())) {
            const std::size_t digit = static_cast<std::size_t>(peek() - '0');
            if (value > (kMaxBytes - digit) / 10) {
                return fail("Buffer format string has a number too large to handle");
            }
            value = value * 10 + digit;
            ++pos_;
        }
        return true;
    }

    // The extents of a sub-array, after its '('.
    bool read_shape(Shape& shape) {
        for (;;) {
            skip_space();
            if (at_end()) return fail(kExpectedParen);
            if (!is_digit(peek())) return fail(not_understood(peek()));
            std::size_t extent = 0;
            if (!read_number(extent)) return false;
            if (shape.ndim == kMaxDims) {
                const int expected = dry_ || next_ == fields_.size() ? 0 : fields_[next_].type->ndim;
                return fail("Expected " + std::to_string(expected) + " dimensions, got " +
                            std::to_string(kMaxDims + 1));
            }
            shape.dims[shape.ndim++] = extent;
            skip_space();
            if (at_end()) return fail(kExpectedParen);
            const char c = fmt_[pos_++];
            if (c == ')') return true;
            if (c != ',') return fail(std::string("Expected a comma in format string, got '") + c + "'");
        }
    }

    // Items up to the end of the text (depth 0) or up to and including the '}'
    // that closes the structure being read.
    bool read_sequence(int depth, Regime regime) {
        for (;;) {
            skip_space();
            if (at_end()) return depth == 0 || fail("Unexpected end of format string, expected '}'");
            switch (peek()) {
            case '@': regime = Regime::native_aligned; ++pos_; continue;
            case '^': regime = Regime::native_packed; ++pos_; continue;
            case '=':
            case '<': regime = Regime::standard; ++pos_; continue;
            case '>':
            case '!': return fail("Big-endian buffer not supported on little-endian compiler");
            case ':':
                ++pos_;
                while (!at_end() && peek() != ':') ++pos_;
                if (at_end()) return fail("Unexpected end of format string, expected ':'");
                ++pos_;
                continue;
            case '}':
                if (depth == 0) return fail(not_understood('}'));
                ++pos_;
                return true;
            default:
                if (!read_item(depth, regime)) return false;
            }
        }
    }

    // One item with its optional repeat count or sub-array shape.
    bool read_item(int depth, Regime regime) {
        std::size_t count = 1;
        Shape shape;
        bool has_shape = false;
        if (is_digit(peek())) {
            if (!read_number(count)) return false;
            skip_space();
            if (!at_end() && peek() == '(') return fail("Cannot handle repeated arrays in format string");
        } else if (peek() == '(') {
            ++pos_;
            if (!read_shape(shape)) return false;
            has_shape = true;
            skip_space();
            if (!at_end() && (is_digit(peek()) || peek() == '('))
                return fail("Cannot handle repeated arrays in format string");
        }
        std::size_t elements = 1;
        for (int i = 0; i < shape.ndim; ++i) {
            if (!checked_product(elements, shape.dims[i], elements)) return fail(kTooLarge);
        }
        skip_space();
        if (at_end()) return true;  // a count or shape before nothing describes nothing

        const char letter = fmt_[pos_++];
        if (letter == 'x') {
            std::size_t bytes = 0;
            return checked_product(count, elements, bytes) ? advance(bytes) : fail(kTooLarge);
        }
        if (letter == 'T') {
            skip_space();
            if (at_end() || peek() != '{') return fail("Buffer acquisition: Expected '{' after 'T'");
            ++pos_;
            const std::size_t copies = has_shape ? elements : count;
            if (!dry_ && copies > 0 && next_ == fields_.size()) return fail(mismatch(nullptr, "a struct"));
            return read_struct(copies, depth + 1, regime);
        }
        Item item{};
        std::string error;
        if (letter == 'Z') {
            skip_space();
            if (at_end()) return fail("Unexpected end of format string, expected 'f', 'd' or 'g' after 'Z'");
            if (!complex_item(fmt_[pos_++], regime, item, error)) return fail(std::move(error));
        } else if (!scalar_item(letter, regime, item, error)) {
            return fail(std::move(error));
        }
        if (dry_) return true;
        // Each of the `count` items needs a field of its own, so this loop ends
        // after at most one more round than there are fields.
        const bool aligned = depth > 0 && regime == Regime::native_aligned;
        for (std::size_t i = 0; i < count; ++i) {
            if (!match(item, shape, elements, aligned)) return false;
        }
        return true;
    }

    // `copies` consecutive structures whose body starts at pos_.
    bool read_struct(std::size_t copies, int depth, Regime regime) {
        if (depth > kMaxFormatNesting) {
            return fail("Buffer format string nests structures more than " +
                        std::to_string(kMaxFormatNesting) + " deep");
        }
        if (copies == 0 || dry_) {
            const bool was_dry = dry_;
            const std::size_t offset = offset_;
            dry_ = true;
            const bool ok = read_sequence(depth, regime);
            dry_ = was_dry;
            offset_ = offset;
            return ok;
        }
        const std::size_t body = pos_;
        for (std::size_t copy = 0; copy < copies; ++copy) {
            pos_ = body;
            const std::size_t first_field = next_;
            const std::size_t start = offset_;
            if (!read_sequence(depth, regime)) return false;
            if (next_ == first_field) {
                // Only padding: every further copy reads alike and adds as many bytes.
                std::size_t rest = 0;
                if (!checked_product(offset_ - start, copies - copy - 1, rest)) return fail(kTooLarge);
                return advance(rest);
            }
        }
        return true;
    }

    bool match(const Item& item, const Shape& shape, std::size_t elements, bool aligned) {
        if (next_ == fields_.size()) return fail(mismatch(nullptr, item.description));
        const Field& field = fields_[next_];
        const TypeInfo& type = *field.type;
        if (shape.ndim != type.ndim) {
            return fail("Expected " + std::to_string(type.ndim) + " dimension(s), got " +
                        std::to_string(shape.ndim));
        }
        for (int i = 0; i < shape.ndim; ++i) {
            if (shape.dims[i] != type.dims[i]) {
                return fail("Expected a dimension of size " + std::to_string(type.dims[i]) + ", got " +
                            std::to_string(shape.dims[i]));
            }
        }
        if (!same_kind_and_size(item, type)) return fail(mismatch(&field, item.description));
        if (aligned && offset_ % item.align != 0 && !advance(item.align - offset_ % item.align)) return false;
        if (offset_ != field.offset) {
            return fail("Buffer dtype mismatch; next field is at offset " + std::to_string(offset_) + " but " +
                        std::to_string(static_cast<std::ptrdiff_t>(field.offset)) + " expected");
        }
        ++next_;
        std::size_t bytes = 0;
        return checked_product(item.size, elements, bytes) ? advance(bytes) : fail(kTooLarge);
    }
};

}  // namespace

std::string check_buffer_format(std::string_view format, const TypeInfo& expected) {
    return Checker(format).run(expected);
}

}  // namespace zalmor::frame

#include <random>
#include <string>

#include "check.h"
#include "frame/buffer_format.h"

using namespace zalmor::frame;

namespace {

struct Case {
    std::string format;
    const TypeInfo* type;
    const char* message;  // "" when the format is accepted
};

void check_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        const std::string got = check_buffer_format(c.format, *c.type);
        if (got != c.message) {
            zalmor::testing::record_failure(
                __FILE__, __LINE__, "\"" + c.format + "\" gave \"" + got + "\", wanted \"" + c.message + "\"");
        }
    }
}

constexpr TypeInfo kChar{"char", 1, nullptr, 0, {}, TypeKind::character, false};
constexpr TypeInfo kSignedChar{"signed char", 1, nullptr, 0, {}, TypeKind::signed_integer, false};
constexpr TypeInfo kObject{"object", 8, nullptr, 0, {}, TypeKind::object, false};
constexpr TypeInfo kLongDouble{"long double", 16, nullptr, 0, {}, TypeKind::real, false};
constexpr TypeInfo kMatrix{"double", 8, nullptr, 2, {2, 3}, TypeKind::real, false};

// struct Pair { int a; double b; }; struct Outer { char tag; Pair p; }
constexpr TypeField kPairFields[] = {{&kInt, "a", 0}, {&kDouble, "b", 8}, {nullptr, nullptr, 0}};
constexpr TypeInfo kPair{"Pair", 16, kPairFields, 0, {}, TypeKind::structure, false};
constexpr TypeField kOuterFields[] = {{&kChar, "tag", 0}, {&kPair, "p", 8}, {nullptr, nullptr, 0}};
constexpr TypeInfo kOuter{"Outer", 24, kOuterFields, 0, {}, TypeKind::structure, false};
// struct Pairs { Pair ps[2]; }
constexpr TypeInfo kPairArray{"Pair", 16, kPairFields, 1, {2}, TypeKind::structure, false};
constexpr TypeField kPairsFields[] = {{&kPairArray, "ps", 0}, {nullptr, nullptr, 0}};
constexpr TypeInfo kPairs{"Pairs", 32, kPairsFields, 0, {}, TypeKind::structure, false};

}  // namespace

CORE_TEST(buffer_format_accepts_the_package_element_types) {
    check_cases({{"d", &kDouble, ""}, {"@d", &kDouble, ""}, {"=d", &kDouble, ""}, {"<d", &kDouble, ""},
                 {"^d", &kDouble, ""}, {" d\n", &kDouble, ""}, {"\r1d", &kDouble, ""}, {"T{d}", &kDouble, ""},
                 {"T{T{ d:x: }}", &kDouble, ""}, {"d3x", &kDouble, ""}, {"0T{q}d", &kDouble, ""},
                 {"d0T{i}", &kDouble, ""},
                 {std::string("d\0d", 3), &kDouble, ""}, {"Zd", &kDoubleComplex, ""}, {"i", &kInt, ""},
                 {"I", &kUnsignedInt, ""}, {"=I", &kUnsignedInt, ""}, {"<I", &kUnsignedInt, ""},
                 {"^I", &kUnsignedInt, ""}, {"=L", &kUnsignedInt, ""}, {"T{I:field:}", &kUnsignedInt, ""},
                 {"L", &kUnsignedLong, ""}, {"Q", &kUnsignedLong, ""}, {"I", &kUint32, ""},
                 {"d", &kFloat64, ""}, {"O", &kObject, ""}, {"g", &kLongDouble, ""}});
}

CORE_TEST(buffer_format_names_what_it_found_instead) {
    const std::string head = "Buffer dtype mismatch, expected 'double' but got ";
    const std::pair<const char*, const char*> found[] = {
        {"c", "'char'"}, {"b", "'signed char'"}, {"B", "'unsigned char'"}, {"?", "'bool'"},
        {"h", "'short'"}, {"H", "'unsigned short'"}, {"i", "'int'"}, {"I", "'unsigned int'"},
        {"l", "'long'"}, {"L", "'unsigned long'"}, {"q", "'long long'"}, {"Q", "'unsigned long long'"},
        {"f", "'float'"}, {"g", "'long double'"}, {"Zf", "'complex float'"}, {"Zd", "'complex double'"},
        {"Zg", "'complex long double'"}, {"O", "Python object"}, {"P", "a pointer"}, {"", "end"},
        {"0d", "end"}, {"T{}", "end"}, {"(0)T{d}", "end"}};
    for (const auto& [format, description] : found) {
        CHECK_EQ(check_buffer_format(format, kDouble), head + description);
    }
    check_cases({{"d", &kDoubleComplex, "Buffer dtype mismatch, expected 'double complex' but got 'double'"},
                 {"i", &kUnsignedInt, "Buffer dtype mismatch, expected 'unsigned int' but got 'int'"},
                 {"I", &kInt, "Buffer dtype mismatch, expected 'int' but got 'unsigned int'"},
                 {"=L", &kUnsignedLong, "Buffer dtype mismatch, expected 'unsigned long' but got 'unsigned long'"},
                 {"2d", &kDouble, "Buffer dtype mismatch, expected end but got 'double'"},
                 {"dd", &kDouble, "Buffer dtype mismatch, expected end but got 'double'"},
                 {"dT{}", &kDouble, "Buffer dtype mismatch, expected end but got a struct"},
                 {"2T{d}", &kDouble, "Buffer dtype mismatch, expected end but got 'double'"}});
}

CORE_TEST(buffer_format_character_kind_needs_only_the_size) {
    check_cases({{"c", &kSignedChar, ""}, {"b", &kChar, ""}, {"B", &kChar, ""}, {"?", &kChar, ""},
                 {"B", &kSignedChar, "Buffer dtype mismatch, expected 'signed char' but got 'unsigned char'"},
                 {"h", &kChar, "Buffer dtype mismatch, expected 'char' but got 'short'"},
                 {"c", &kInt, "Buffer dtype mismatch, expected 'int' but got 'char'"}});
}

CORE_TEST(buffer_format_rejects_bad_letters_and_prefixes) {
    const std::string big_endian = "Big-endian buffer not supported on little-endian compiler";
    const std::string long_double = "Python does not define a standard format string size for long double ('g')..";
    check_cases({{">d", &kDouble, big_endian.c_str()}, {"T{!d}", &kDouble, big_endian.c_str()},
                 {"=g", &kLongDouble, long_double.c_str()}, {"T{<Zg}", &kDouble, long_double.c_str()},
                 {"Zx", &kDoubleComplex, "Unexpected format string character: 'x'"},
                 {"Z", &kDoubleComplex, "Unexpected end of format string, expected 'f', 'd' or 'g' after 'Z'"},
                 {"e", &kDouble, "Does not understand character buffer dtype format string ('e')"},
                 {"\td", &kDouble, "Does not understand character buffer dtype format string ('\t')"},
                 {"d}", &kDouble, "Does not understand character buffer dtype format string ('}')"},
                 {"Td", &kDouble, "Buffer acquisition: Expected '{' after 'T'"},
                 {"T{d", &kDouble, "Unexpected end of format string, expected '}'"},
                 {"d:name", &kDouble, "Unexpected end of format string, expected ':'"}});
}

CORE_TEST(buffer_format_checks_sub_array_shapes) {
    check_cases({{"(2,3)d", &kMatrix, ""}, {"( 2 ,3 )d", &kMatrix, ""},
                 {"(3)d", &kDouble, "Expected 0 dimension(s), got 1"},
                 {"d", &kMatrix, "Expected 2 dimension(s), got 0"},
                 {"(2,4)d", &kMatrix, "Expected a dimension of size 3, got 4"},
                 {"(1,1,1,1,1,1,1,1,1)d", &kMatrix, "Expected 2 dimensions, got 9"},
                 {"2(3)d", &kMatrix, "Cannot handle repeated arrays in format string"},
                 {"(2,3)2d", &kMatrix, "Cannot handle repeated arrays in format string"},
                 {"(2;3)d", &kMatrix, "Expected a comma in format string, got ';'"},
                 {"(2,3", &kMatrix, "Unexpected end of format string, expected ')'"},
                 {"(2,)d", &kMatrix, "Does not understand character buffer dtype format string (')')"}});
}

CORE_TEST(buffer_format_matches_structures_field_by_field) {
    const char* offset_4 = "Buffer dtype mismatch; next field is at offset 4 but 8 expected";
    check_cases({{"T{i:a:d:b:}", &kPair, ""}, {"T{i:a:4xd:b:}", &kPair, ""}, {"T{i x d}", &kPair, ""},
                 {"^T{i4xd}", &kPair, ""}, {"T{c7xT{id}}", &kOuter, ""}, {"T{(2)T{id}}", &kPairs, ""},
                 {"T{2T{id}}", &kPairs, ""}, {"T{^id}", &kPair, offset_4}, {"^T{id}", &kPair, offset_4},
                 {"id", &kPair, offset_4},
                 {"xd", &kDouble, "Buffer dtype mismatch; next field is at offset 1 but 0 expected"},
                 {"T{xd}", &kDouble, "Buffer dtype mismatch; next field is at offset 8 but 0 expected"},
                 {"T{ii}", &kPair, "Buffer dtype mismatch, expected 'double' but got 'int' in 'Pair.b'"},
                 {"T{c7xT{ii}}", &kOuter, "Buffer dtype mismatch, expected 'double' but got 'int' in 'Pair.b'"},
                 {"T{i}", &kPair, "Buffer dtype mismatch, expected 'double' but got end in 'Pair.b'"},
                 {"T{idd}", &kPair, "Buffer dtype mismatch, expected end but got 'double'"}});
}

CORE_TEST(buffer_format_survives_absurd_formats) {
    const std::string too_large = "Buffer format string describes an item too large to handle";
    check_cases({{"99999999999999999999d", &kDouble, "Buffer format string has a number too large to handle"},
                 {"9223372036854775807d", &kDouble, "Buffer dtype mismatch, expected end but got 'double'"},
                 {"9223372036854775807x1x", &kDouble, too_large.c_str()},
                 {"9223372036854775807T{2x}", &kDouble, too_large.c_str()},
                 {"(4294967296,4294967296)d", &kDouble, too_large.c_str()},
                 {"9223372036854775807T{0T{d}} d", &kDouble, ""}});
    std::string nested;
    for (int i = 0; i < kMaxFormatNesting; ++i) nested = "T{" + nested + "}";
    const std::size_t middle = 2 * kMaxFormatNesting;  // after the last "T{"
    CHECK_EQ(check_buffer_format(nested.substr(0, middle) + "d" + nested.substr(middle), kDouble), "");
    CHECK_EQ(check_buffer_format("T{" + nested + "}", kDouble),
             "Buffer format string nests structures more than 64 deep");
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "9T{";
    CHECK(!check_buffer_format(deep + "d", kDouble).empty());

    // An expected structure that contains itself is bounded as well.
    TypeField loop[] = {{nullptr, "self", 0}, {nullptr, nullptr, 0}};
    const TypeInfo self{"Self", 8, loop, 0, {}, TypeKind::structure, false};
    loop[0].type = &self;
    CHECK_EQ(check_buffer_format("d", self), "Buffer dtype nests structures too deeply");

    // Random bytes, then random mixes of format characters: every answer is one of
    // the known messages (or acceptance).
    const char* known[] = {"Buffer dtype mismatch", "Big-endian", "Python does not define", "Unexpected ",
                           "Does not understand", "Expected ", "Cannot handle", "Buffer acquisition",
                           "Buffer format string"};
    const std::string alphabet = "T{}():,x0123456789dZfgiIL@=^<! ";
    std::mt19937 random(12345);
    for (int round = 0; round < 6000; ++round) {
        std::string format(random() % 24, '\0');
        for (char& c : format) {
            c = round % 2 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
        }
        for (const TypeInfo* type : {&kDouble, &kPair, &kOuter, &kMatrix}) {
            const std::string message = check_buffer_format(format, *type);
            bool recognised = message.empty();
            for (const char* prefix : known) recognised = recognised || message.rfind(prefix, 0) == 0;
            if (!recognised) zalmor::testing::record_failure(__FILE__, __LINE__, "unknown message: " + message);
        }
    }
}

// A minimal test registry for the pure C++ cores.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zalmor::testing {

struct Case {
    const char* name;
    void (*run)();
};

std::vector<Case>& registry();
void record_failure(const char* file, int line, const std::string& what);

// How many inputs a long check takes: the value of the environment variable
// `name` when set (for a long run by hand), else `fallback`.
long long check_count(const char* name, long long fallback);

struct Register {
    Register(const char* name, void (*run)()) { registry().push_back({name, run}); }
};

}  // namespace zalmor::testing

#define CORE_TEST(name)                                                              \
    static void name();                                                              \
    static ::zalmor::testing::Register register_##name(#name, &name);                \
    static void name()

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) ::zalmor::testing::record_failure(__FILE__, __LINE__, #cond);   \
    } while (0)

#define CHECK_EQ(a, b)                                                               \
    do {                                                                             \
        if (!((a) == (b)))                                                           \
            ::zalmor::testing::record_failure(__FILE__, __LINE__, #a " == " #b);     \
    } while (0)

#include "convert/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string printf_5d(std::int32_t v) {
    char s[16];
    std::snprintf(s, sizeof s, "%5d", v);
    return s;
}

std::string ours(std::int32_t v) {
    char s[16];
    return std::string(s, static_cast<std::size_t>(vbconv::format_5d(s, v)));
}

}  // namespace

// Five-digit numbers take a path of their own; every width, sign and edge
// must still come out as printf's "%5d".
TEST(NumberFormat, AgreesWithPrintf) {
    for (std::int32_t v = -120000; v <= 120000; ++v) ASSERT_EQ(ours(v), printf_5d(v)) << v;
    for (std::int32_t v : {INT_MIN, INT_MIN + 1, -1000000000, 999999999, 1000000000, INT_MAX - 1, INT_MAX})
        EXPECT_EQ(ours(v), printf_5d(v)) << v;
}

// The listing's number field of every line number an image can hold, from
// its lookup table or from its digits, is printf's "%5d ".
TEST(NumberFormat, FieldAgreesWithPrintf) {
    for (unsigned n = 0; n <= 65535; ++n) {
        std::uint64_t field = vbconv::number_field(n);
        char got[8];
        std::memcpy(got, &field, 8);
        ASSERT_EQ(std::string(got, 6), printf_5d(static_cast<std::int32_t>(n)) + " ") << n;
    }
}

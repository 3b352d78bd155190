#include "convert/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
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

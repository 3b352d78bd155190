#include "convert/filter.h"

#include <gtest/gtest.h>

#include "support.h"

using vbtest::bytes;

namespace {

std::string filtered(const std::string &input) {
    return vbtest::convert(input,
                           [] {
                               vbconv::pet_2_asc();
                               return 0;
                           })
        .dest;
}

}  // namespace

TEST(CharacterFilter, KeepsPrintableAndTurnsEveryLineEndIntoLineFeed) {
    for (int c = 0; c < 256; ++c) {
        std::string expected;
        if (c == 0x00 || c == 0x0A || c == 0x0D)
            expected = "\n";
        else if (c >= 0x20 && c <= 0x7E)
            expected = std::string(1, static_cast<char>(c));
        EXPECT_EQ(filtered(bytes({c})), expected) << "byte " << c;
    }
}

TEST(CharacterFilter, WholeFilePassesThroughWithoutEcho) {
    vbtest::Converted c = vbtest::convert(bytes({'A', 0x0D, 0x0A, 0x09, 'b', 0x00, 0x7F, 0xC1, '~'}), [] {
        vbconv::pet_2_asc();
        return 0;
    });
    EXPECT_EQ(c.dest, "A\n\nb\n~");  // CR LF is two line ends: blank lines are not merged
    EXPECT_EQ(c.console, "");
    EXPECT_EQ(filtered(bytes({0x01, 0x07, 0x1B, 0x80, 0xFF, 0x0B, 0x0C})), "");
}

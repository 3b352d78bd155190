#include "convert/scan.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The masks of the lister's record loop, vector or plain as the build has
// them, against the rule for each byte: every byte value in every lane.
TEST(Scans, BodyMasksTellEachByte) {
    unsigned char bytes[256 + vbconv::scan_width];
    for (int i = 0; i < static_cast<int>(sizeof bytes); ++i) bytes[i] = static_cast<unsigned char>(i);
    for (int start = 0; start < 256; ++start) {
        vbconv::BodyMasks m = vbconv::body_masks(bytes + start);
        for (int lane = 0; lane < vbconv::scan_width; ++lane) {
            unsigned char c = bytes[start + lane];
            auto bit = [&](unsigned mask) { return (mask >> lane & 1) != 0; };
            EXPECT_EQ(bit(m.stops), c < 0x20 || c == 0x7F) << int{c};
            EXPECT_EQ(bit(m.quotes), c == '"') << int{c};
            EXPECT_EQ(bit(m.high), c >= 0x80) << int{c};
            EXPECT_EQ(bit(m.operators), c != 0 && std::strchr("*+-/^<=>", c) != nullptr) << int{c};
            EXPECT_EQ(bit(m.upper), c >= 'A' && c <= 'Z') << int{c};
            EXPECT_EQ(bit(m.from_a), c >= 'A' && c < 0x80) << int{c};
        }
    }
}

}  // namespace

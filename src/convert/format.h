// Decimal numbers for the listing and the trace, written without printf.
#pragma once

#include <cstdint>
#include <cstring>

namespace vbconv {

// Writes `v` as printf's "%5d" would, right-aligned in at least five columns,
// into `out` (room for 11 bytes) and returns the number of bytes written.
inline int format_5d(char *out, std::int32_t v) {
    if (v >= 0 && v <= 99999) {
        // Every line number of an image, and nearly every one of a listing:
        // five columns, digits found by multiplications instead of a loop
        // of divisions.
        auto u = static_cast<std::uint32_t>(v);
        std::uint32_t high = u / 1000, low = u % 1000;  // 0-99 and 0-999
        char five[5] = {static_cast<char>('0' + high / 10), static_cast<char>('0' + high % 10),
                        static_cast<char>('0' + low / 100), static_cast<char>('0' + low / 10 % 10),
                        static_cast<char>('0' + low % 10)};
        for (int i = 0; i < 4 && five[i] == '0'; ++i) five[i] = ' ';
        for (int i = 0; i < 5; ++i) out[i] = five[i];
        return 5;
    }
    char digits[10];
    int n = 0;
    std::uint32_t u = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    int width = n + (v < 0);
    int len = 0;
    for (; width < 5; ++width) out[len++] = ' ';
    if (v < 0) out[len++] = '-';
    while (n > 0) out[len++] = digits[--n];
    return len;
}

// The two digits of each number from 0 to 99, in the order they are written.
struct DigitPairs {
    char digits[200];
};
inline constexpr DigitPairs digit_pairs = [] {
    DigitPairs t{};
    for (int i = 0; i < 100; ++i) {
        t.digits[2 * i] = static_cast<char>('0' + i / 10);
        t.digits[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return t;
}();

// "%4d" of each number below 10000, the four bytes in the order they are
// written, the first in the lowest byte: most line numbers have four
// digits or fewer, and a lookup costs less than the divisions.
struct FourColumns {
    std::uint32_t text[10000];
};
inline constexpr FourColumns four_columns = [] {
    FourColumns t{};
    for (unsigned n = 0; n < 10000; ++n) {
        unsigned digits[4] = {n / 1000, n / 100 % 10, n / 10 % 10, n % 10};
        bool leading = true;
        for (unsigned i = 0; i < 4; ++i) {
            leading = leading && i < 3 && digits[i] == 0;
            t.text[n] |= static_cast<std::uint32_t>(leading ? ' ' : '0' + digits[i]) << (8 * i);
        }
    }
    return t;
}();

// The number field of a listed line, "%5d " of a line number `n` (0 to
// 65535), as the eight bytes to store at the field, the first six of which
// are written: built in a register, so that storing it costs one move.
inline std::uint64_t number_field(unsigned n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (n < 10000) return ' ' | std::uint64_t{four_columns.text[n]} << 8 | std::uint64_t{' '} << 40;
#endif
    unsigned high = n / 100, low = n % 100;  // high 0 to 655
    unsigned top = high / 100, mid = high % 100;
    std::uint64_t field = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    auto pair = [](unsigned i) {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(digit_pairs.digits[2 * i])) |
               static_cast<std::uint64_t>(static_cast<unsigned char>(digit_pairs.digits[2 * i + 1])) << 8;
    };
    field = ('0' + top) | pair(mid) << 8 | pair(low) << 24 | std::uint64_t{' '} << 40;
    // The leading zeros are blanks: as many as the number has digits fewer than five.
    int blanks = n >= 10000 ? 0 : n >= 1000 ? 1 : n >= 100 ? 2 : n >= 10 ? 3 : 4;
    std::uint64_t mask = (std::uint64_t{1} << (8 * blanks)) - 1;
    field = (field & ~mask) | (0x2020202020202020 & mask);
#else
    char text[12] = {};
    format_5d(text, static_cast<std::int32_t>(n));
    text[5] = ' ';
    (void)top, (void)mid, (void)low;
    std::memcpy(&field, text, 8);
#endif
    return field;
}

}  // namespace vbconv

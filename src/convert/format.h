// Decimal numbers for the listing and the trace, written without printf.
#pragma once

#include <cstdint>

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

}  // namespace vbconv

// Decimal numbers for the listing and the trace, written without printf.
#pragma once

#include <cstdint>

namespace vbconv {

// Writes `v` as printf's "%5d" would, right-aligned in at least five columns,
// into `out` (room for 11 bytes) and returns the number of bytes written.
inline int format_5d(char *out, std::int32_t v) {
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

// The exact mode: the escape {$hh} that stands for one byte in a listing.
//
// Listing with escape_mode on writes {$hh}, two upper-case hex digits, for
// each body byte that would not come back as it is, and everything else as
// the default listing does, alignment mode aside.  Tokenizing with it on
// reads {$hh}, hex digits of either case, as the byte hh wherever it stands;
// the byte goes into the body as it is and plays no part in keyword
// matching, quotes or literal text.  {$00} is an error, since no body can
// hold a zero byte.  So a '{' that would read as an escape is itself
// listed as {$7B}.
#pragma once

#include <cstddef>

namespace vbconv {

extern bool escape_mode;  // list and tokenize exactly, through {$hh} escapes, instead of the default way

inline constexpr std::size_t escape_size = 5;  // bytes of "{$hh}"

// The value of hex digit `c`, either case, or -1.
constexpr int hex_value(unsigned char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// Whether the `avail` bytes at `p` start with an escape; if so sets `byte`.
constexpr bool read_escape(const unsigned char *p, std::size_t avail, unsigned char &byte) {
    if (avail < escape_size || p[0] != '{' || p[1] != '$' || p[4] != '}') return false;
    int high = hex_value(p[2]), low = hex_value(p[3]);
    if (high < 0 || low < 0) return false;
    byte = static_cast<unsigned char>(high << 4 | low);
    return true;
}

// Writes "{$hh}" for `byte` at `out`, upper-case.
inline void write_escape(unsigned char *out, unsigned char byte) {
    constexpr char hex[] = "0123456789ABCDEF";
    out[0] = '{';
    out[1] = '$';
    out[2] = static_cast<unsigned char>(hex[byte >> 4]);
    out[3] = static_cast<unsigned char>(hex[byte & 15]);
    out[4] = '}';
}

}  // namespace vbconv

// Byte scans of the converters' hot loops, sixteen bytes at a time.
//
// Each scan looks at the 16 bytes from `p` on, all of which must be
// readable, and returns a mask: bit i stands for p[i].  On x86-64 (and any
// build with SSE2) they are a handful of vector instructions; a build with
// VBCONV_SCALAR defined, or without SSE2, takes the plain loops below, which
// give the same masks and stay tested.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(VBCONV_SCALAR)
#define VBCONV_SSE2 1
#include <emmintrin.h>
#endif

namespace vbconv {

inline constexpr int scan_width = 16;  // bytes one scan looks at

// Whether this build scans with SSE2 (false: the plain loops).
inline constexpr bool vector_scans =
#ifdef VBCONV_SSE2
    true;
#else
    false;
#endif

// Index of the lowest set bit of a mask that is not zero.
inline int lowest_bit(unsigned mask) { return __builtin_ctz(mask); }

// The masks of the 16 bytes from `p` on that the lister's record loop asks
// for, found together.
struct BodyMasks {
    unsigned stops;      // bytes below 0x20, and 0x7F: neither printable, nor a quote, nor from 0x80 up
    unsigned quotes;     // quotes
    unsigned high;       // bytes from 0x80 up
    unsigned operators;  // the operators' bytes "*+-/^<=>"
    unsigned upper;      // upper-case letters
    unsigned from_a;     // bytes from 'A' to 0x7F
};

#ifdef VBCONV_SSE2

// Bytes from lo to hi, both included.
inline __m128i in_range(__m128i v, unsigned char lo, unsigned char hi) {
    // Shifted so that lo is the smallest signed byte, the range is one
    // signed compare.
    __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - lo)));
    return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-0x80 + (hi - lo) + 1)));
}

inline __m128i load16(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline unsigned to_mask(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

// Bytes a listing writes as they are in a body: 0x20 to 0x7E but the quote.
inline unsigned plain_mask(const unsigned char *p) {
    __m128i v = load16(p);
    __m128i printable = _mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F));  // signed: 0x80 and up fall out too
    __m128i other = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)), _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
    return to_mask(_mm_andnot_si128(other, printable));
}

// Bytes that may begin a keyword: the upper-case letters, and "*+,-./" and
// "<=>" and "^" around the operators.  More than the bytes that do; the
// caller asks its table for each byte found.
inline unsigned keyword_start_mask(const unsigned char *p) {
    __m128i v = load16(p);
    __m128i m = _mm_or_si128(in_range(v, 'A', 'Z'), in_range(v, '*', '/'));
    m = _mm_or_si128(m, in_range(v, '<', '>'));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('^')));
    return to_mask(m);
}

// Bytes that, listed as themselves in code, may begin a keyword together
// with the body byte after them: an operator's byte, whatever follows it,
// or an upper-case letter followed by a letter of either case or a byte
// from 0x80 up but the tokens of the operators 0xBC to 0xC0 and 0xC4 to
// 0xC8 (a token whose spelling may start with a letter).  More than do; the
// caller asks its table for each byte found.  Reads 17 bytes.
inline unsigned pair_start_mask(const unsigned char *p) {
    __m128i v = load16(p), next = load16(p + 1);
    __m128i ops = _mm_or_si128(in_range(v, '*', '+'), in_range(v, '<', '>'));
    ops = _mm_or_si128(ops, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), _mm_cmpeq_epi8(v, _mm_set1_epi8('/'))));
    ops = _mm_or_si128(ops, _mm_cmpeq_epi8(v, _mm_set1_epi8('^')));
    __m128i folded = _mm_or_si128(next, _mm_set1_epi8(0x20));  // upper case to lower, 0x80 and up stay high
    __m128i operator_token = _mm_or_si128(in_range(next, 0xBC, 0xC0), in_range(next, 0xC4, 0xC8));
    __m128i word_token = _mm_andnot_si128(operator_token, _mm_cmplt_epi8(next, _mm_setzero_si128()));
    __m128i then = _mm_or_si128(in_range(folded, 'a', 'z'), word_token);
    return to_mask(_mm_or_si128(ops, _mm_and_si128(in_range(v, 'A', 'Z'), then)));
}

// BodyMasks of the 16 bytes from `p` on.
inline BodyMasks body_masks(const unsigned char *p) {
    __m128i v = load16(p);
    // v + 1 as a signed byte is below 0x21 for the bytes below 0x20, for
    // 0x7F and for those from 0x80 up, which the sign of ~v leaves out.
    __m128i below = _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(1)), _mm_set1_epi8(0x21));
    BodyMasks m;
    m.stops = to_mask(_mm_andnot_si128(v, below));
    m.quotes = to_mask(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
    m.high = to_mask(v);
    // "*+-/" are "*" to "/" but "," and ".", the bytes that or'ed with 2 give ".".
    __m128i ops =
        _mm_andnot_si128(_mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(2)), _mm_set1_epi8('.')), in_range(v, '*', '/'));
    ops = _mm_or_si128(ops, _mm_or_si128(in_range(v, '<', '>'), _mm_cmpeq_epi8(v, _mm_set1_epi8('^'))));
    m.operators = to_mask(ops);
    m.upper = to_mask(in_range(v, 'A', 'Z'));
    m.from_a = to_mask(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)));  // signed: 0x80 and up fall out
    return m;
}

// Bytes of text that may begin a keyword: an operator's byte, or an
// upper-case letter followed by a letter of either case.  More than do;
// the caller asks its table for each byte found.  Reads 17 bytes.
inline unsigned text_pair_start_mask(const unsigned char *p) {
    __m128i v = load16(p), next = load16(p + 1);
    __m128i ops = _mm_or_si128(in_range(v, '*', '+'), in_range(v, '<', '>'));
    ops = _mm_or_si128(ops, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), _mm_cmpeq_epi8(v, _mm_set1_epi8('/'))));
    ops = _mm_or_si128(ops, _mm_cmpeq_epi8(v, _mm_set1_epi8('^')));
    __m128i then = in_range(_mm_or_si128(next, _mm_set1_epi8(0x20)), 'a', 'z');
    return to_mask(_mm_or_si128(ops, _mm_and_si128(in_range(v, 'A', 'Z'), then)));
}

// Bytes equal to any of a, b, c or d.
inline unsigned any_of_mask(const unsigned char *p, char a, char b, char c, char d) {
    __m128i v = load16(p);
    __m128i m = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(a)), _mm_cmpeq_epi8(v, _mm_set1_epi8(b)));
    m = _mm_or_si128(m, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)), _mm_cmpeq_epi8(v, _mm_set1_epi8(d))));
    return to_mask(m);
}

// Bytes from 0x80 up.
inline unsigned high_mask(const unsigned char *p) { return to_mask(load16(p)); }

// Bytes equal to c.
inline unsigned byte_mask(const unsigned char *p, char c) {
    return to_mask(_mm_cmpeq_epi8(load16(p), _mm_set1_epi8(c)));
}

// Copies 16 bytes from `from` to `to`.
inline void copy16(unsigned char *to, const unsigned char *from) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), load16(from));
}

#else

inline unsigned plain_mask(const unsigned char *p) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) m |= unsigned{p[i] >= 0x20 && p[i] <= 0x7E && p[i] != '"'} << i;
    return m;
}

inline unsigned keyword_start_mask(const unsigned char *p) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) {
        unsigned char c = p[i];
        m |= unsigned{(c >= 'A' && c <= 'Z') || (c >= '*' && c <= '/') || (c >= '<' && c <= '>') || c == '^'} << i;
    }
    return m;
}

inline unsigned pair_start_mask(const unsigned char *p) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) {
        unsigned char c = p[i], next = p[i + 1];
        bool op = c == '*' || c == '+' || c == '-' || c == '/' || c == '^' || (c >= '<' && c <= '>');
        unsigned char folded = next | 0x20;
        bool operator_token = (next >= 0xBC && next <= 0xC0) || (next >= 0xC4 && next <= 0xC8);
        bool then = (folded >= 'a' && folded <= 'z') || (next >= 0x80 && !operator_token);
        m |= unsigned{op || (c >= 'A' && c <= 'Z' && then)} << i;
    }
    return m;
}

inline BodyMasks body_masks(const unsigned char *p) {
    BodyMasks m{};
    for (int i = 0; i < scan_width; ++i) {
        unsigned char c = p[i];
        m.stops |= unsigned{c < 0x20 || c == 0x7F} << i;
        m.quotes |= unsigned{c == '"'} << i;
        m.high |= unsigned{c >= 0x80} << i;
        m.operators |= unsigned{c == '*' || c == '+' || c == '-' || c == '/' || c == '^' || (c >= '<' && c <= '>')}
                       << i;
        m.upper |= unsigned{c >= 'A' && c <= 'Z'} << i;
        m.from_a |= unsigned{c >= 'A' && c < 0x80} << i;
    }
    return m;
}

inline unsigned text_pair_start_mask(const unsigned char *p) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) {
        unsigned char c = p[i], folded = p[i + 1] | 0x20;
        bool op = c == '*' || c == '+' || c == '-' || c == '/' || c == '^' || (c >= '<' && c <= '>');
        m |= unsigned{op || (c >= 'A' && c <= 'Z' && folded >= 'a' && folded <= 'z')} << i;
    }
    return m;
}

inline unsigned any_of_mask(const unsigned char *p, char a, char b, char c, char d) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) {
        char x = static_cast<char>(p[i]);
        m |= unsigned{x == a || x == b || x == c || x == d} << i;
    }
    return m;
}

inline unsigned high_mask(const unsigned char *p) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) m |= unsigned{p[i] >= 0x80} << i;
    return m;
}

inline unsigned byte_mask(const unsigned char *p, char c) {
    unsigned m = 0;
    for (int i = 0; i < scan_width; ++i) m |= unsigned{static_cast<char>(p[i]) == c} << i;
    return m;
}

inline void copy16(unsigned char *to, const unsigned char *from) { std::memcpy(to, from, scan_width); }

#endif

}  // namespace vbconv

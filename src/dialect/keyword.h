// The vocabulary of Velmar-BASIC and the rule that finds a keyword in text.
//
// A keyword's position in `keyword` is its token: the keyword at position k
// is stored in a program image as the single byte 0x80 + k.  The same order
// is the precedence of matching: `sstrcmp` takes the first spelling in table
// order that fits, never the longest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vbconv {

inline constexpr int keyword_count = 118;          // positions 0 to 117
inline constexpr unsigned char token_base = 0x80;  // token of position 0
inline constexpr unsigned char token_last = 0xF5;  // token of position 117
inline constexpr unsigned char no_match = 0xFE;    // what sstrcmp returns for "no keyword here"

// Positions with a role beyond their spelling.
inline constexpr int kw_data = 3;   // "DATA": text after it is literal up to ':'
inline constexpr int kw_rem = 25;   // "REM": the rest of the line is literal
inline constexpr int kw_wait = 30;  // "WAIT": counted by the lister for the machine-language notice

// The keyword table.  Order is the token numbering and the matching
// precedence: two-character operators precede their one-character prefixes
// (">>" before ">", "<<" before "<"), "DOKE" precedes "DO", and so on.
// Function keywords carry their opening parenthesis.
// clang-format off
inline constexpr std::string_view keyword[] = {
    "END",     "FOR",     "NEXT",    "DATA",     "INPUT",    "DIM",     "READ",     "LET",       // 0x80
    "DEC",     "GOTO",    "RUN",     "IF",       "RESTORE",  "GOSUB",   "COLOR",    "CURSOR",    // 0x88
    "LABSET",  "ELSE",    "LABINP",  "LABOUT",   "LABREQ",   "LABBUS",  "MACRO",    "RENUMBER",  // 0x90
    "RETURN",  "REM",     "PLOT",    "ON",       "BANK",     "INC",     "WAIT",     "LOAD",      // 0x98
    "SAVE",    "DIR",     "DEF",     "POKE",     "DOKE",     "CALL",    "DO",       "LOOP",      // 0xA0
    "PRINT",   "FRAME",   "LIST",    "WINDOW",   "NEW",      "WIDTH",   "GET",      "SWAP",      // 0xA8
    "BITSET",  "BITCLR",  "TAB(",    "TO",       "FN",       "SPC(",    "THEN",     "NOT",       // 0xB0
    "STEP",    "UNTIL",   "WHILE",   "OFF",      "+",        "-",       "*",        "/",         // 0xB8
    "^",       "AND",     "EOR",     "OR",       ">>",       "<<",      ">",        "=",         // 0xC0
    "<",       "SGN(",    "INT(",    "ABS(",     "USR(",     "FRE(",    "POS(",     "SQR(",      // 0xC8
    "RND(",    "LOG(",    "EXP(",    "COS(",     "SIN(",     "TAN(",    "ATN(",     "PEEK(",     // 0xD0
    "DEEK(",   "LABERR",  "LEN(",    "STR$(",    "VAL(",     "ASC(",    "UCASE$(",  "LCASE$(",   // 0xD8
    "CHR$(",   "HEX$(",   "BIN$(",   "BITTST(",  "MAX(",     "MIN(",    "PI",       "SCANKEY",   // 0xE0
    "VARPTR(", "LEFT$(",  "RIGHT$(", "MID$(",    "POSITION", "GRID",    "SIZE",     "MOVE",      // 0xE8
    "POINT",   "LINE",    "RECT",    "FILL",     "CLEAR",    "BORDER",                           // 0xF0
};
// clang-format on
static_assert(std::size(keyword) == keyword_count, "the dialect has 118 keywords");
static_assert(token_base + keyword_count - 1 == token_last);

// The bytes that can start an operator keyword; letters are the other starts.
inline constexpr std::string_view operator_starts = "+-*/^>=<";

// Spelling of a token byte from 0x80 to 0xF5.
constexpr std::string_view spelling(unsigned char token) { return keyword[token - token_base]; }

// A set of pairs of bytes.
struct PairSet {
    std::uint64_t bits[256 * 256 / 64];  // bit (a << 8 | b) for each pair in the set
};

// Whether the pair a, b is in `set`.
constexpr bool has_pair(const PairSet &set, unsigned a, unsigned b) {
    return (set.bits[(a << 8 | b) >> 6] >> (b & 63) & 1) != 0;
}

// Puts the pair a, b in `set`.
constexpr void add_pair(PairSet &set, unsigned a, unsigned b) {
    set.bits[(a << 8 | b) >> 6] |= std::uint64_t{1} << (b & 63);
}

// The pairs a, b with which a keyword can begin: one of the single byte a,
// or one whose second byte is b, or b with bit 0x20 flipped (an
// abbreviation).  At text that begins with any other pair the matcher is
// sure to find nothing.
inline constexpr PairSet may_begin_keyword = [] {
    PairSet set{};
    for (std::string_view k : keyword) {
        auto a = static_cast<unsigned char>(k[0]);
        for (unsigned b = 0; b < 256; ++b)
            if (k.size() == 1 || b == static_cast<unsigned char>(k[1]) ||
                (b ^ 0x20) == static_cast<unsigned char>(k[1]))
                add_pair(set, a, b);
    }
    return set;
}();

// Number of text bytes covered by the last match of sstrcmp: the full
// spelling, or the abbreviation including its case-flipped byte.  1 when
// nothing matched.
extern int kwlen;

// Finds the first keyword among table[first] to table[last - 1] that begins at
// `text`, a zero-terminated byte string: either spelled in full, or abbreviated
// as the keyword's first bytes followed by one byte that differs from the
// keyword's next byte only in bit 0x20 (so "Po" stands for "POKE").  The first
// byte must match exactly.  Returns the table position, or no_match; sets kwlen.
unsigned char sstrcmp(const unsigned char *text, const std::string_view *table, int first, int last);

// The same result as sstrcmp(text, keyword, 0, keyword_count), found through
// an index by the text's first two bytes instead of a walk over the whole
// table.
unsigned char match_keyword(const unsigned char *text);

// The same as match_keyword, where the eight bytes from `text` on are
// readable whatever the text holds: the later bytes of a spelling are then
// compared in one 64-bit load (on little-endian machines, unless
// VBCONV_SCALAR is defined).
unsigned char match_keyword_wide(const unsigned char *text);

// Whether this build compares spellings in one load (match_wide_at).
inline constexpr bool wide_matching =
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && !defined(VBCONV_SCALAR)
    true;
#else
    false;
#endif

// The matcher's index and spellings in the form the one-load compare reads,
// built in keyword.cc.  The text's first byte taken by its low six bits and
// its second by its low five (a spelling's second byte matches as it is or
// with bit 0x20 flipped) pick a span, the second byte's bits the high ones
// of the index, as a little-endian load of the pair gives them.  The span
// lists the spellings that may match any text beginning with a pair of that
// kind, in table order, and ends at one that matches whatever follows.  No two
// spellings' first bytes share their low six bits, and bytes that do differ
// in more than bit 0x20, so the compare turns down every spelling of another
// first byte.
struct WideMatcher {
    static constexpr int kinds = 64;               // kinds of first bytes by their low six bits
    static constexpr int second_kinds = 32;        // kinds of second bytes by their low five bits
    static constexpr int max_candidates = 1024;    // room in `candidate`
    static constexpr unsigned pair_bits = 0x1F3F;  // the bits of a pair that pick its span
    std::uint32_t span[pair_bits + 1];             // see wide_span; a row of 256 for each second kind, kinds used
    std::uint8_t candidate[max_candidates + 1];    // positions of the spellings listed, and one read past the last
    std::uint64_t bytes[keyword_count];            // each spelling as a load of matching text gives it, zeros after
    std::uint64_t mask[keyword_count];             // the spelling's own bytes in that load
    std::uint8_t size[keyword_count];              // its length
};
extern const WideMatcher wide_matcher;  // the index of the keyword table

// The span match_wide_at looks at for `text`, which a caller may look up
// ahead of time: a load of the text's pair, masked as one 16-bit word (a
// little-endian compiler loads it at once), and one of the span, with no
// other step between: at each stop the next span waits on these.
// It holds the length of its first candidate << 24 (1 where it lists none:
// what a match of that candidate in full, or no match, covers), the first
// candidate's position << 16, the index of the first in `candidate` << 6,
// and how many it lists.
inline std::uint32_t wide_span(const unsigned char *text) {
    unsigned pair = text[0] | static_cast<unsigned>(text[1]) << 8;
    return wide_matcher.span[pair & WideMatcher::pair_bits];
}

// match_wide_at with the span of `text` already at hand.
inline unsigned char match_wide_span(const unsigned char *text, std::uint32_t span, int &length) {
    const WideMatcher &m = wide_matcher;
    std::uint64_t t;
    std::memcpy(&t, text, 8);
    unsigned p = span >> 16 & 0xFF;  // the first candidate's position, at hand without a look in `candidate`
    for (unsigned j = span >> 6 & 1023, end = j + (span & 63); j < end; p = m.candidate[++j]) {
        std::uint64_t diff = (t ^ m.bytes[p]) & m.mask[p];
        int at = __builtin_ctzll(diff | std::uint64_t{1} << 63) >> 3;  // 7 where all of it matches
        bool whole = diff == 0;
        if (whole || (diff >> (8 * at) & 0xFF) == 0x20) {
            length = whole ? m.size[p] : at + 1;  // the flipped byte is consumed too
            return static_cast<unsigned char>(p);
        }
    }
    length = 1;
    return no_match;
}

// match_keyword_wide where wide_matching holds, inline, with the length of
// the match in `length` (1 where nothing matched) instead of kwlen.  The
// first byte where text and spelling differ decides: a spelling used up
// matches in full, a byte flipped in bit 0x20 as an abbreviation, computed
// without branches, which the text would leave the processor to guess.
inline unsigned char match_wide_at(const unsigned char *text, int &length) {
    return match_wide_span(text, wide_span(text), length);
}

}  // namespace vbconv

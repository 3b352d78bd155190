// The keyword matcher: which keyword, if any, begins at a text position.
#include "dialect/keyword.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace vbconv {

int kwlen = 1;

namespace {

// An abbreviation's flipped byte is text[i] with text[i] ^ k[i] == 0x20, so a
// spelling holding a space would let the string's terminating zero pass as
// that byte and the match would run past the end of the text.
constexpr bool no_spelling_holds_a_space() {
    for (std::string_view k : keyword)
        if (k.empty() || k.find(' ') != std::string_view::npos) return false;
    return true;
}
static_assert(no_spelling_holds_a_space());

// Tries one spelling at `text`; on a match sets kwlen and returns true.
inline bool matches(const unsigned char *text, std::string_view k) {
    std::size_t i = 0;
    while (i < k.size() && text[i] != 0 && text[i] == static_cast<unsigned char>(k[i])) ++i;
    if (i == 0) return false;  // the first byte never matches by case flip
    if (i == k.size()) {
        kwlen = static_cast<int>(i);
        return true;
    }
    if ((text[i] ^ static_cast<unsigned char>(k[i])) == 0x20) {
        kwlen = static_cast<int>(i) + 1;  // the flipped byte is consumed too
        return true;
    }
    return false;
}

// Finishes trying spelling `k`, whose first two bytes the text is known to
// share, from its third byte on; on a match sets kwlen and returns true.
inline bool matches_from_third(const unsigned char *text, std::string_view k) {
    std::size_t i = 2;
    // The text's terminating zero differs from every byte of a spelling.
    while (i < k.size() && text[i] == static_cast<unsigned char>(k[i])) ++i;
    if (i == k.size()) {
        kwlen = static_cast<int>(i);
        return true;
    }
    if ((text[i] ^ static_cast<unsigned char>(k[i])) == 0x20) {
        kwlen = static_cast<int>(i) + 1;
        return true;
    }
    return false;
}

// The matcher's index, by the first two bytes of the text.  A spelling that
// starts with the text's first byte fares by the text's second byte b:
//   - a spelling of one byte matches in full, whatever b is;
//   - one whose second byte is b may match: its later bytes decide;
//   - one whose second byte is b ^ 0x20 matches as an abbreviation;
//   - any other cannot match.
// So for each first byte and each b the index lists the spellings of the
// first three kinds, in table order, and the list ends with the first one
// that matches for certain.  Walking it finds what walking the whole table
// would find, usually after one spelling instead of several.
struct Candidate {
    std::uint8_t position;  // in the table
    std::uint8_t certain;   // kwlen of a certain match (1 or 2), or 0: check from the third byte on
};

struct Span {
    std::uint16_t start;  // first candidate
    std::uint16_t count;
};

constexpr int max_firsts = 40;   // distinct first bytes, with room to spare
constexpr int max_seconds = 80;  // distinct second bytes and their case flips, with room to spare
constexpr int max_candidates = 1024;

struct PairIndex {
    std::array<std::uint8_t, 256> first{};   // first byte -> row, 0 for a byte that starts no spelling
    std::array<std::uint8_t, 256> second{};  // second byte -> column, 0 for a byte that decides nothing
    std::array<std::array<Span, max_seconds>, max_firsts> lists{};
    std::array<Candidate, max_candidates> candidates{};
    bool fits = true;  // false when the limits above were too small for the table
};

constexpr PairIndex build_index() {
    PairIndex ix;
    int firsts = 1, seconds = 1;
    for (std::string_view k : keyword) {
        auto b = static_cast<unsigned char>(k[0]);
        if (ix.first[b] == 0) ix.first[b] = static_cast<std::uint8_t>(firsts++);
        if (k.size() < 2) continue;
        auto c = static_cast<unsigned char>(k[1]);
        for (unsigned char d : {c, static_cast<unsigned char>(c ^ 0x20)})
            if (ix.second[d] == 0) ix.second[d] = static_cast<std::uint8_t>(seconds++);
    }
    if (firsts > max_firsts || seconds > max_seconds) {
        ix.fits = false;
        return ix;
    }

    // The text's second byte for each column; column 0 stands for every
    // byte that decides nothing, such as the terminating zero.
    std::array<int, max_seconds> byte_of{};
    for (int d = 0; d < 256; ++d) byte_of[ix.second[d]] = ix.second[d] != 0 ? d : 0;

    int used = 0;
    for (int b = 0; b < 256; ++b) {
        if (ix.first[b] == 0) continue;
        // The positions whose spelling starts with b, in table order; walking
        // only these keeps the work within what a compiler evaluates at
        // compile time.
        std::array<std::uint8_t, keyword_count> group{};
        int members = 0;
        for (int p = 0; p < keyword_count; ++p)
            if (static_cast<unsigned char>(keyword[p][0]) == b) group[members++] = static_cast<std::uint8_t>(p);
        for (int col = 0; col < seconds; ++col) {
            Span &span = ix.lists[ix.first[b]][col];
            span.start = static_cast<std::uint16_t>(used);
            for (int m = 0; m < members; ++m) {
                int p = group[m];
                std::string_view k = keyword[p];
                std::uint8_t certain = 0;
                if (k.size() == 1)
                    certain = 1;
                else if (col != 0 && static_cast<unsigned char>(k[1]) == (byte_of[col] ^ 0x20))
                    certain = 2;
                else if (col == 0 || static_cast<unsigned char>(k[1]) != byte_of[col])
                    continue;
                if (used == max_candidates) {
                    ix.fits = false;
                    return ix;
                }
                ix.candidates[used++] = {static_cast<std::uint8_t>(p), certain};
                ++span.count;
                if (certain != 0) break;
            }
        }
    }
    return ix;
}

constexpr PairIndex index = build_index();
static_assert(index.fits, "raise the limits of the pair index");

constexpr bool every_spelling_fits_a_load() {
    for (std::string_view k : keyword)
        if (k.size() > 8) return false;
    return true;
}
static_assert(every_spelling_fits_a_load());

// The index and the spellings as match_wide_at reads them.  A text whose
// first two bytes are of kinds a and c may begin a spelling whose first
// byte is of kind a and that has one byte, or a second byte of kind c or
// of kind c with bit 0x20 flipped, that is one whose second byte has the
// low five bits of c; the compare tells which of them does.
constexpr WideMatcher build_wide() {
    WideMatcher m{};
    int used = 0;
    for (int a = 0; a < WideMatcher::kinds; ++a) {
        // The positions whose first byte is of kind a, in table order;
        // walking only these keeps the work within what a compiler
        // evaluates at compile time.
        std::uint8_t group[keyword_count]{};
        int members = 0;
        for (int p = 0; p < keyword_count; ++p)
            if ((static_cast<unsigned char>(keyword[p][0]) & 63) == a) group[members++] = static_cast<std::uint8_t>(p);
        for (int c = 0; c < WideMatcher::second_kinds; ++c) {
            int start = used;
            for (int g = 0; g < members; ++g) {
                int p = group[g];
                std::string_view k = keyword[p];
                bool whole = k.size() == 1;
                if (!whole && (static_cast<unsigned char>(k[1]) & 31) != c) continue;
                if (used == WideMatcher::max_candidates) return WideMatcher{};  // spans_fit tells
                m.candidate[used++] = static_cast<std::uint8_t>(p);
                if (whole) break;
            }
            int count = used - start;
            if (count >= 64) return WideMatcher{};  // spans_fit tells
            unsigned first = count != 0 ? m.candidate[start] : 0;
            unsigned size = count != 0 ? static_cast<unsigned>(keyword[first].size()) : 1;
            m.span[c << 8 | a] =
                size << 24 | first << 16 | static_cast<std::uint32_t>(start) << 6 | static_cast<std::uint32_t>(count);
        }
    }
    for (int p = 0; p < keyword_count; ++p) {
        std::string_view k = keyword[p];
        for (std::size_t i = 0; i < k.size(); ++i) {
            m.bytes[p] |= std::uint64_t{static_cast<unsigned char>(k[i])} << (8 * i);
            m.mask[p] |= std::uint64_t{0xFF} << (8 * i);
        }
        m.size[p] = static_cast<std::uint8_t>(k.size());
    }
    return m;
}

constexpr WideMatcher wide_index = build_wide();

// The spans were built (an empty index means a count or `candidate` ran
// out of room), and the first bytes of the spellings are of distinct kinds.
constexpr bool spans_fit() {
    int listed = 0;
    for (std::uint32_t span : wide_index.span) listed += static_cast<int>(span & 63);
    if (listed == 0) return false;
    for (std::string_view k : keyword)
        for (std::string_view l : keyword)
            if (k[0] != l[0] && ((k[0] ^ l[0]) & 63) == 0) return false;
    return true;
}
static_assert(spans_fit());

}  // namespace

const WideMatcher wide_matcher = wide_index;

unsigned char match_keyword_wide(const unsigned char *text) {
    if (!wide_matching) return match_keyword(text);
    return match_wide_at(text, kwlen);
}

unsigned char sstrcmp(const unsigned char *text, const std::string_view *table, int first, int last) {
    kwlen = 1;
    for (int p = first; p < last; ++p)
        if (matches(text, table[p])) return static_cast<unsigned char>(p);
    return no_match;
}

unsigned char match_keyword(const unsigned char *text) {
    kwlen = 1;
    int row = index.first[text[0]];
    if (row == 0) return no_match;
    const Span span = index.lists[row][index.second[text[1]]];
    for (int j = span.start; j < span.start + span.count; ++j) {
        const Candidate c = index.candidates[j];
        if (c.certain != 0) {
            kwlen = c.certain;
            return c.position;
        }
        if (matches_from_third(text, keyword[c.position])) return c.position;
    }
    return no_match;
}

}  // namespace vbconv

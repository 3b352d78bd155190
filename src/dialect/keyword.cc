// The keyword matcher: which keyword, if any, begins at a text position.
#include "dialect/keyword.h"

#include <array>
#include <cstdint>

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

// The table positions grouped by first byte, each group in table order, so
// that walking one group finds what walking the whole table would find.
struct FirstByteIndex {
    std::array<std::uint16_t, 257> start{};         // group of byte b: order[start[b]] to order[start[b + 1] - 1]
    std::array<std::uint8_t, keyword_count> order{};  // table positions
};

constexpr FirstByteIndex build_index() {
    FirstByteIndex ix;
    std::array<std::uint16_t, 256> count{};
    for (std::string_view k : keyword) ++count[static_cast<unsigned char>(k[0])];
    for (int b = 0; b < 256; ++b) ix.start[b + 1] = static_cast<std::uint16_t>(ix.start[b] + count[b]);
    std::array<std::uint16_t, 256> fill{};
    for (int p = 0; p < keyword_count; ++p) {
        unsigned char b = static_cast<unsigned char>(keyword[p][0]);
        ix.order[ix.start[b] + fill[b]++] = static_cast<std::uint8_t>(p);
    }
    return ix;
}

constexpr FirstByteIndex index = build_index();

}  // namespace

unsigned char sstrcmp(const unsigned char *text, const std::string_view *table, int first, int last) {
    kwlen = 1;
    for (int p = first; p < last; ++p)
        if (matches(text, table[p])) return static_cast<unsigned char>(p);
    return no_match;
}

unsigned char match_keyword(const unsigned char *text) {
    kwlen = 1;
    unsigned char b = text[0];
    for (int j = index.start[b]; j < index.start[b + 1]; ++j)
        if (matches(text, keyword[index.order[j]])) return index.order[j];
    return no_match;
}

}  // namespace vbconv

// Fuzz target for the keyword matcher.  The input, up to its first zero byte,
// is a text line; at every position of it the indexed matcher must give what
// the walk over the whole table gives, and both must follow the rule as the
// dialect states it.  The text sits in a buffer that ends at its terminating
// zero, so a match that reads past the zero is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "dialect/keyword.h"
#include "harness.h"

using vbfuzz::require;

namespace {

struct Match {
    unsigned char position;
    int length;
};

// The rule, step by step: for each spelling from `first` on, count the common
// prefix; a spelling that is used up is there in full, and a text byte that
// differs from the spelling's next byte only in bit 0x20 is an abbreviation.
// The first byte must be equal.
Match reference(const unsigned char *text, int first, int last) {
    for (int p = first; p < last; ++p) {
        std::string_view k = vbconv::keyword[p];
        std::size_t i = 0;
        while (text[i] != 0 && i < k.size() && text[i] == static_cast<unsigned char>(k[i])) ++i;
        if (i == 0) continue;
        if (i == k.size()) return {static_cast<unsigned char>(p), static_cast<int>(i)};
        if ((text[i] ^ static_cast<unsigned char>(k[i])) == 0x20)
            return {static_cast<unsigned char>(p), static_cast<int>(i) + 1};
    }
    return {vbconv::no_match, 1};
}

void check_position(const unsigned char *text, int first, int last) {
    std::size_t rest = std::strlen(reinterpret_cast<const char *>(text));

    unsigned char indexed = vbconv::match_keyword(text);
    int indexed_len = vbconv::kwlen;
    unsigned char walked = vbconv::sstrcmp(text, vbconv::keyword, 0, vbconv::keyword_count);
    int walked_len = vbconv::kwlen;
    require(indexed == walked, "match_keyword finds what the walk over the table finds");
    require(indexed_len == walked_len, "match_keyword sets kwlen as the walk does");

    // The wide matcher on a copy with eight readable bytes after the zero,
    // whatever they hold.
    std::string padded(reinterpret_cast<const char *>(text), rest + 1);
    padded.append(8, '\xA5');
    unsigned char wide = vbconv::match_keyword_wide(reinterpret_cast<const unsigned char *>(padded.data()));
    require(wide == walked && vbconv::kwlen == walked_len, "match_keyword_wide finds what match_keyword finds");

    Match want = reference(text, 0, vbconv::keyword_count);
    require(walked == want.position, "sstrcmp returns the first keyword that fits");
    require(walked_len == want.length, "sstrcmp sets kwlen to the bytes the match covers");
    if (walked == vbconv::no_match)
        require(walked_len == 1, "kwlen is 1 when nothing matched");
    else
        require(walked < vbconv::keyword_count && walked_len >= 1 && static_cast<std::size_t>(walked_len) <= rest,
                "a match covers at least one byte and never the terminating zero");

    // A scan over part of the table, as a caller may ask for.
    unsigned char part = vbconv::sstrcmp(text, vbconv::keyword, first, last);
    Match want_part = reference(text, first, last);
    require(part == want_part.position && vbconv::kwlen == want_part.length,
            "sstrcmp over part of the table keeps to its bounds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::size_t len = 0;
    while (len < size && data[len] != 0) ++len;
    // Exactly the text and its zero, so that reading one byte more is an error.
    std::unique_ptr<unsigned char[]> text(new unsigned char[len + 1]);
    std::memcpy(text.get(), data, len);
    text[len] = 0;

    // Bounds for the partial scan, from the bytes after the zero (0 to 119,
    // so that empty and reversed ranges come up too).
    int first = len + 1 < size ? data[len + 1] % 120 : 0;
    int last = len + 2 < size ? data[len + 2] % 120 : vbconv::keyword_count;
    if (first > vbconv::keyword_count) first = vbconv::keyword_count;
    if (last > vbconv::keyword_count) last = vbconv::keyword_count;

    for (std::size_t i = 0; i <= len; ++i) check_position(text.get() + i, first, last);
    return 0;
}

// The tokenizer: turns a text listing into a tokenized program image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/warn.h"
#include "dialect/keyword.h"

namespace vbconv {

// Longest piece of text taken by one read; a longer line is split.
inline constexpr int max_read = 254;

// Longest body a record gets: the most one read can hold, when no line end
// and no line number take any of it.
inline constexpr int max_body = max_read;

// Reads the line number at the start of the zero-terminated `text` as
// sscanf's "%d%n" would: white space, an optional sign, then digits.  The
// value is the decimal number modulo 2^32 taken as a signed 32-bit int.
// Returns the bytes consumed, white space included, or 0 (leaving `number`
// alone) when no number starts the text.
int scan_line_number(const unsigned char *text, std::int32_t &number);

// What tokenizing the text of one line met besides its body.
struct LineFindings {
    int stop;            // offset of the byte that ended the text: a line end, or a zero
    ByteSample foreign;  // bytes of 0x80 and up outside strings: in an image they stand for keywords
    bool zero_escape;    // escape mode: the text held {$00}
};

// Tokenizes the text of a line that follows its number, as p_tokenize does
// by default: white space skipped, then keywords replaced by tokens outside
// strings and literal text, up to the first 00, LF or CR.  Writes the body to
// `body`, which has room for as many bytes as the text, and returns its
// length.
int tokenize_line_text(const unsigned char *text, unsigned char *body, LineFindings &found);

// The same in escape mode for the `len` bytes at `text`, a line's text after
// its number without the line end: each {$hh} is copied as the byte hh and
// keeps keyword matches, quotes and literal text apart.  A raw zero byte ends
// the text there (found.stop below len).  `body` has room for `len` bytes.
int tokenize_escaped_text(const unsigned char *text, std::size_t len, unsigned char *body, LineFindings &found);

// Whether the spelling of each token, met in code, is for certain read back
// as that token whatever text follows it: true unless the spelling begins a
// longer one earlier in the table ("DO" and "DOKE", "<" and "<<"), which the
// text after it may complete or abbreviate.
inline constexpr std::array<bool, 256> certain_spelling = [] {
    std::array<bool, 256> t{};
    for (int q = 0; q < keyword_count; ++q) {
        std::string_view s = keyword[q];
        bool certain = true;
        for (int p = 0; p < q; ++p)
            if (keyword[p].size() > s.size() && keyword[p].substr(0, s.size()) == s) certain = false;
        t[token_base + q] = certain;
    }
    return t;
}();

// The body bytes that, listed in code, the tokenizer may read back as
// something else depending on the text around them: bytes written as
// themselves where a spelling starts, tokens whose spelling is not
// certain, DATA and REM, which make the text after them literal, and the
// bytes that stand for no keyword.  A line whose code holds none of them,
// listed without losses, comes back as it is unless it starts with a space.
inline constexpr std::array<bool, 256> context_matters = [] {
    std::array<bool, 256> t{};
    for (std::string_view k : keyword) t[static_cast<unsigned char>(k[0])] = true;
    for (int c = token_base; c <= 0xFF; ++c) t[c] = c > token_last || !certain_spelling[c];
    t[token_base + kw_data] = t[token_base + kw_rem] = true;
    return t;
}();

// Whether tokenize_line_text(text) gives back exactly the `n` bytes at
// `body`, which a zero byte follows, where `text` is body as the default
// listing writes it: each byte
// as itself, or outside strings as its keyword's spelling, with no byte
// dropped or changed, and ends in a line end.  Tells it without tokenizing:
// walks the body through the same rules and asks the matcher only where a
// byte written as itself could begin a keyword, or a spelling could run on
// into a longer one.
bool listing_comes_back(const unsigned char *text, const unsigned char *body, std::size_t n);

// Tokenizes all of source into a complete image in dest whose first record
// sits at `start_address`: the lead byte, one record per non-empty line, the
// end marker.  A UTF-8 byte-order mark at the start is skipped.  Writes the
// trace "[%5d] %s [NULL]\n" of every line read to console, and warns about
// what the image cannot keep as the text has it.  In escape mode it reads
// lines whole and {$hh} escapes, and a line whose body cannot fit a record
// is an error (file_errors()).
void p_tokenize(unsigned start_address);

}  // namespace vbconv

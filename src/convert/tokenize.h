// The tokenizer: turns a text listing into a tokenized program image.
#pragma once

#include <cstdint>

namespace vbconv {

// Longest piece of text taken by one read; a longer line is split.
inline constexpr int max_read = 254;

// Reads the line number at the start of the zero-terminated `text` as
// sscanf's "%d%n" would: white space, an optional sign, then digits.  The
// value is the decimal number modulo 2^32 taken as a signed 32-bit int.
// Returns the bytes consumed, white space included, or 0 (leaving `number`
// alone) when no number starts the text.
int scan_line_number(const unsigned char *text, std::int32_t &number);

// Tokenizes all of source into a complete image in dest whose first record
// sits at `start_address`: the lead byte, one record per non-empty line, the
// end marker.  Writes the trace "[%5d] %s [NULL]\n" of every line read to
// console.
void p_tokenize(unsigned start_address);

}  // namespace vbconv

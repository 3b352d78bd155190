// The detokenizer: lists a tokenized program image as text.
#pragma once

namespace vbconv {

// Lists the records of the image in source (its lead byte already consumed)
// into dest: each line as "%5d " number, body with keywords spelled out and
// other bytes filtered, then "\r\n".  Echoes each line to console, body bytes
// raw, ending in " [CR]\r\n".  Returns 1 when the image ended on a link that
// marks a machine-language part after a program that uses WAIT, else 0.
// Warns about everything that the listing would not give back when
// tokenized, and sets image_comes_back.  In escape mode each byte that
// would not come back is listed as {$hh} instead, and echoed so.
int p_expand();

extern int image_lead;  // the lead byte consumed before p_expand (0x00 by default): 0x01 does not come back

extern bool
    image_comes_back;  // after p_expand: tokenizing its listing, in the same mode, gives the image back byte for byte

inline constexpr int difference_size = 64;  // room for image_difference, its zero included

// After p_expand, where image_comes_back is false: the first thing that
// differs, in file order: "line N" for a BASIC line, or "lead byte $01",
// "no end marker", "bytes after the end marker", "link $00hh instead of the
// end marker".
extern char image_difference[difference_size];

}  // namespace vbconv

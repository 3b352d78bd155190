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

// The lead byte that was consumed before p_expand, 0x00 unless set: a lead
// byte 0x01 does not come back.
extern int image_lead;

// After p_expand: whether tokenizing its listing, in the same mode, gives
// back the image byte for byte, lead byte included.
extern bool image_comes_back;

inline constexpr int difference_size = 64;  // room for image_difference, its zero included

// After p_expand, where image_comes_back is false: the first thing that
// differs, in file order: "line N" for a BASIC line, or "lead byte $01",
// "no end marker", "bytes after the end marker", "link $00hh instead of the
// end marker".
extern char image_difference[difference_size];

}  // namespace vbconv

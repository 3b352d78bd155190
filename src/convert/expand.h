// The detokenizer: lists a tokenized program image as text.
#pragma once

#include <string_view>

namespace vbconv {

// Text that stands for a byte of 0x80 and up met outside a string: the
// keyword's spelling for 0x80 to 0xF5, and a marker naming the byte, such as
// "{$F6}", for the bytes 0xF6 to 0xFF that stand for no keyword.
std::string_view token_text(unsigned char token);

// Lists the records of the image in source (its lead byte already consumed)
// into dest: each line as "%5d " number, body with keywords spelled out and
// other bytes filtered, then "\r\n".  Echoes each line to console, body bytes
// raw, ending in " [CR]\r\n".  Returns 1 when the image ended on a link that
// marks a machine-language part after a program that uses WAIT, else 0.
int p_expand();

}  // namespace vbconv

// The detokenizer: lists a tokenized program image as text.
#pragma once

namespace vbconv {

// Lists the records of the image in source (its lead byte already consumed)
// into dest: each line as "%5d " number, body with keywords spelled out and
// other bytes filtered, then "\r\n".  Echoes each line to console, body bytes
// raw, ending in " [CR]\r\n".  Returns 1 when the image ended on a link that
// marks a machine-language part after a program that uses WAIT, else 0.
int p_expand();

}  // namespace vbconv

// The character filter: keeps printable characters and line ends of a
// program's character set and drops everything else.
#pragma once

#include "convert/streams.h"

namespace vbconv {

// Writes to dest what byte `c` (0 to 255) becomes in plain text: a line feed
// for 0x00, 0x0A and 0x0D, the byte itself for 0x20 to 0x7E, nothing else.
// The byte waits in dest_out until the converter finishes its output.
inline void _p_toascii(int c) {
    if (c == 0x00 || c == 0x0A || c == 0x0D)
        put_dest('\n');
    else if (c >= 0x20 && c <= 0x7E)
        put_dest(c);
}

// Passes the rest of source through _p_toascii into dest; echoes nothing,
// and warns once if it dropped any byte.
void pet_2_asc();

}  // namespace vbconv

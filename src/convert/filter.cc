// Plain text through the character filter: the path of a ".bas" file that is
// not a program image.
#include "convert/filter.h"

namespace vbconv {

void pet_2_asc() {
    start_input();
    for (int c; (c = get_byte()) != EOF;) _p_toascii(c);
    finish_output();
}

}  // namespace vbconv

// Plain text through the character filter: the path of a ".bas" file that is
// not a program image.
#include "convert/filter.h"

namespace vbconv {

void pet_2_asc() {
    for (int c; (c = getc_unlocked(source)) != EOF;) _p_toascii(c);
}

}  // namespace vbconv

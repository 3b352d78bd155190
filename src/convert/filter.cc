// Plain text through the character filter: the path of a ".bas" file that is
// not a program image.
#include "convert/filter.h"

#include "convert/warn.h"

namespace vbconv {

void pet_2_asc() {
    start_input();
    ByteSample dropped{};
    for (int c; (c = get_byte()) != EOF;) {
        if ((c < 0x20 || c >= 0x7F) && c != 0x00 && c != '\n' && c != '\r')
            note_byte(dropped, static_cast<unsigned char>(c));
        _p_toascii(c);
    }
    finish_output();
    char sample[24];
    if (dropped.count != 0)
        warn_file(Warn::plain_dropped,
                  "not a program image, so filtered as plain text: %d byte%s it cannot hold %s: %s", dropped.count,
                  dropped.count == 1 ? "" : "s", dropped.count == 1 ? "is dropped" : "are dropped",
                  sample_text(dropped, sample));
}

}  // namespace vbconv

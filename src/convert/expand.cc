// The detokenizer.  The record layout it reads is drawn in dialect/image.h.
#include "convert/expand.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "convert/filter.h"
#include "convert/format.h"
#include "dialect/image.h"
#include "dialect/keyword.h"
#include "driver/driver.h"

namespace vbconv {

namespace {

// Markers for the bytes 0xF6 to 0xFF, which no keyword owns.
constexpr std::string_view unknown_token[] = {"{$F6}", "{$F7}", "{$F8}", "{$F9}", "{$FA}",
                                              "{$FB}", "{$FC}", "{$FD}", "{$FE}", "{$FF}"};
static_assert(std::size(unknown_token) == 0x100 - token_last - 1);

constexpr unsigned char alignment_marker = 0x12;  // first body byte of a line 0 that turns alignment mode on
constexpr unsigned char wait_token = token_base + kw_wait;

unsigned char line[256];  // the record header: link in bytes 0-1, line number in 2-3

inline void put_both(std::string_view s) {
    fwrite_unlocked(s.data(), 1, s.size(), dest);
    fwrite_unlocked(s.data(), 1, s.size(), console);
}

// Spaces that alignment mode removes from the start of line `number`: the
// widths of the numbers below 100 were padded out with spaces in the body.
inline int space_budget(unsigned number) { return number <= 9 ? 2 : number <= 99 ? 1 : 0; }

// Reads the next record header into `line`; false when the program has ended.
bool read_header() {
    int c;
    for (int i = 0; i < 4; ++i) {
        if ((c = getc_unlocked(source)) == EOF) return false;
        line[i] = static_cast<unsigned char>(c);
        if (i == 1 && ends_program(line[1])) return false;
    }
    return true;
}

}  // namespace

std::string_view token_text(unsigned char token) {
    return token <= token_last ? spelling(token) : unknown_token[token - token_last - 1];
}

int p_expand() {
    int alignment = 0;           // alignment markers met; the mode is on once it is non-zero
    std::uint64_t wait_count = 0;  // WAIT tokens met outside strings
    while (read_header()) {
        unsigned number = line[2] | line[3] << 8;
        char field[8];
        int len = format_5d(field, static_cast<std::int32_t>(number));
        field[len++] = ' ';
        put_both(std::string_view(field, static_cast<std::size_t>(len)));

        int budget = alignment != 0 ? space_budget(number) : 0;
        bool in_string = false;

        int c;
        while ((c = getc_unlocked(source)) == 0) {
        }
        if (c != EOF && c == alignment_marker && number == 0) ++alignment;
        for (; c != EOF && c != 0; c = getc_unlocked(source)) {
            if (c == quote) in_string = !in_string;
            if (!in_string && c >= token_base) {
                put_both(token_text(static_cast<unsigned char>(c)));
                if (c == wait_token) ++wait_count;
                if (c != 0xFF) continue;  // 0xFF goes on to be handled as a plain byte too
            }
            if (budget > 0 && c == ' ') {
                --budget;
                continue;
            }
            _p_toascii(c);
            putc_unlocked(c, console);
        }
        putc_unlocked('\r', dest);
        putc_unlocked('\n', dest);
        fwrite_unlocked(" [CR]\r\n", 1, 7, console);
    }
    bool last_link_zero = line[0] == 0 && line[1] == 0;
    return !feof(source) && !last_link_zero && wait_count >= 1 ? 1 : 0;
}

}  // namespace vbconv

// The detokenizer.  The record layout it reads is drawn in dialect/image.h.
#include "convert/expand.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "convert/filter.h"
#include "convert/format.h"
#include "convert/streams.h"
#include "dialect/image.h"
#include "dialect/keyword.h"

namespace vbconv {

namespace {

// Markers for the bytes 0xF6 to 0xFF, which no keyword owns.
constexpr std::string_view unknown_token[] = {"{$F6}", "{$F7}", "{$F8}", "{$F9}", "{$FA}",
                                              "{$FB}", "{$FC}", "{$FD}", "{$FE}", "{$FF}"};
static_assert(std::size(unknown_token) == 0x100 - token_last - 1);

constexpr unsigned char alignment_marker = 0x12;  // first body byte of a line 0 that turns alignment mode on
constexpr unsigned char wait_token = token_base + kw_wait;

unsigned char line[256];  // the record header: link in bytes 0-1, line number in 2-3

// Text that stands for a byte of 0x80 and up met outside a string: the
// keyword's spelling for 0x80 to 0xF5, a marker naming the byte for the
// bytes 0xF6 to 0xFF, which stand for no keyword.
constexpr std::string_view token_text(unsigned char token) {
    return token <= token_last ? spelling(token) : unknown_token[token - token_last - 1];
}

// A short piece of output padded to eight bytes, so that it can be moved in
// one piece.
struct Padded {
    char bytes[8];
    std::size_t size;
};

constexpr Padded padded(std::string_view s) {
    Padded p{};
    for (std::size_t i = 0; i < s.size(); ++i) p.bytes[i] = s[i];
    p.size = s.size();
    return p;
}

constexpr bool every_token_text_fits() {
    for (int c = token_base; c <= 0xFF; ++c)
        if (token_text(static_cast<unsigned char>(c)).size() > sizeof(Padded::bytes)) return false;
    return true;
}
static_assert(every_token_text_fits());

// token_text for each byte from 0x80 up.
constexpr std::array<Padded, 0x80> token_texts = [] {
    std::array<Padded, 0x80> t{};
    for (int c = 0; c < 0x80; ++c) t[c] = padded(token_text(static_cast<unsigned char>(token_base + c)));
    return t;
}();

constexpr Padded dest_line_end = padded("\r\n");
constexpr Padded console_line_end = padded(" [CR]\r\n");

// Writes the `size` bytes at the start of `bytes`, eight of which are
// readable, to `out`.
inline void put_short(OutBlock &out, std::FILE *stream, const char *bytes, std::size_t size) {
    std::memcpy(room_for(out, stream, 8), bytes, 8);
    out.used += size;
}

inline void put_both(const char *bytes, std::size_t size) {
    put_short(dest_out, dest, bytes, size);
    put_short(console_out, console, bytes, size);
}

// Bytes that the body loop passes unchanged to both dest and console, and
// that change no state there: printable, not a quote, not a token.  A space
// is one only while no space budget is left.
constexpr std::array<bool, 256> plain = [] {
    std::array<bool, 256> t{};
    for (int c = 0x20; c <= 0x7E; ++c) t[c] = c != quote;
    return t;
}();

// Copies the plain bytes that come next in what is read ahead to both dest
// and console, as the body loop would one at a time.  Stops at the first
// other byte, or where the input or an output block runs out.
void copy_plain_run() {
    if (dest_out.used == block_size) flush_block(dest_out, dest);
    if (console_out.used == block_size) flush_block(console_out, console);
    std::size_t n = std::min({in_end - in_pos, block_size - dest_out.used, block_size - console_out.used});
    const unsigned char *from = in_block + in_pos;
    unsigned char *to_dest = dest_out.data + dest_out.used;
    unsigned char *to_console = console_out.data + console_out.used;
    std::size_t i = 0;
    for (; i < n && plain[from[i]]; ++i) to_dest[i] = to_console[i] = from[i];
    in_pos += i;
    dest_out.used += i;
    console_out.used += i;
}

// Spaces that alignment mode removes from the start of line `number`: the
// widths of the numbers below 100 were padded out with spaces in the body.
inline int space_budget(unsigned number) { return number <= 9 ? 2 : number <= 99 ? 1 : 0; }

// Reads the next record header into `line`; false when the program has ended.
bool read_header() {
    int c;
    for (int i = 0; i < 4; ++i) {
        if ((c = get_byte()) == EOF) return false;
        line[i] = static_cast<unsigned char>(c);
        if (i == 1 && ends_program(line[1])) return false;
    }
    return true;
}

}  // namespace

int p_expand() {
    start_input();
    int alignment = 0;             // alignment markers met; the mode is on once it is non-zero
    std::uint64_t wait_count = 0;  // WAIT tokens met outside strings
    while (read_header()) {
        unsigned number = line[2] | line[3] << 8;
        char field[11 + 1] = {};  // "%5d " of a 16-bit number: six bytes
        int len = format_5d(field, static_cast<std::int32_t>(number));
        field[len++] = ' ';
        put_both(field, static_cast<std::size_t>(len));

        int budget = alignment != 0 ? space_budget(number) : 0;
        bool in_string = false;

        int c;
        while ((c = get_byte()) == 0) {
        }
        if (c != EOF && c == alignment_marker && number == 0) ++alignment;
        while (c != EOF && c != 0) {
            if (c == quote) in_string = !in_string;
            bool token = !in_string && c >= token_base;
            if (token) {
                const Padded &text = token_texts[c - token_base];
                put_both(text.bytes, text.size);
                if (c == wait_token) ++wait_count;
            }
            if (!token || c == 0xFF) {  // 0xFF goes on to be handled as a plain byte too
                if (budget > 0 && c == ' ') {
                    --budget;
                } else {
                    _p_toascii(c);
                    echo_byte(c);
                }
            }
            if (budget == 0) copy_plain_run();
            c = get_byte();
        }
        put_short(dest_out, dest, dest_line_end.bytes, dest_line_end.size);
        put_short(console_out, console, console_line_end.bytes, console_line_end.size);
        end_console_line();
    }
    finish_output();
    // Only a read that met the end of the file counts, not one that met a
    // read error, nor the reading ahead into a block past where the image
    // ended.
    bool met_end_of_file = in_ended && feof(source);
    bool last_link_zero = line[0] == 0 && line[1] == 0;
    return !met_end_of_file && !last_link_zero && wait_count >= 1 ? 1 : 0;
}

}  // namespace vbconv

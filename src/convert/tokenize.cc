// The tokenizer.  The record layout it writes is drawn in dialect/image.h.
#include "convert/tokenize.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "convert/block_io.h"
#include "convert/format.h"
#include "dialect/image.h"
#include "dialect/keyword.h"
#include "driver/driver.h"

namespace vbconv {

namespace {

unsigned char line[256];           // one read of text, zero-terminated
unsigned char tokenizedline[256];  // its body: never longer than the text, since a token replaces at least one byte

constexpr bool is_space(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_alpha(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Bytes at which the matcher is asked for a keyword: letters and the first
// bytes of the operator keywords.
constexpr std::array<bool, 256> keyword_start = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = is_alpha(c);
    for (char c : operator_starts) t[static_cast<unsigned char>(c)] = true;
    return t;
}();

// Reads one line of source into `line`: at most max_read bytes, up to and
// including its line end.  LF, CR LF and a lone CR each end a line; a CR LF
// pair counts as one end only when both bytes fit in the same read.  Returns
// the bytes read, 0 at the end of the input.
int read_line() {
    int n = 0;
    while (n < max_read) {
        if (in_pos == in_end && !refill_input()) break;
        // Take what is read ahead, up to a line end or the most one read holds.
        std::size_t avail = std::min(in_end - in_pos, static_cast<std::size_t>(max_read - n));
        const unsigned char *from = in_block + in_pos;
        std::size_t i = 0;
        for (; i < avail && from[i] != '\n' && from[i] != '\r'; ++i) line[n + i] = from[i];
        n += static_cast<int>(i);
        in_pos += i;
        if (i == avail) continue;
        unsigned char end = from[i];
        line[n++] = end;
        ++in_pos;
        if (end == '\r' && n < max_read && peek_byte() == '\n') {
            line[n++] = '\n';
            ++in_pos;
        }
        break;
    }
    line[n] = 0;
    return n;
}

// Tokenizes the text of `line` from `pos` into tokenizedline; returns its length.
int tokenize_body(int pos) {
    int len = 0;
    bool in_string = false;
    bool literal = false;  // after DATA or REM: text is copied as it stands
    int literal_end = -1;  // the byte that ends literal mode: ':' after DATA, none after REM
    for (;;) {
        unsigned char b = line[pos];
        if (b == 0) break;
        if (b == quote) in_string = !in_string;
        if (b == '\n' || b == '\r') break;  // what follows a line end in the same read is dropped
        if (!in_string && !literal && keyword_start[b]) {
            unsigned char p = match_keyword(line + pos);
            if (p != no_match) {
                tokenizedline[len++] = static_cast<unsigned char>(p | token_base);
                pos += kwlen;
                if (p == kw_data) literal = true, literal_end = ':';
                if (p == kw_rem) literal = true, literal_end = -1;
                continue;
            }
        }
        tokenizedline[len++] = b;
        if (literal && b == literal_end) literal = false;
        ++pos;
    }
    return len;
}

void write_trace(std::int32_t number, int len) {
    char head[16];
    head[0] = '[';
    int n = 1 + format_5d(head + 1, number);
    head[n++] = ']';
    head[n++] = ' ';
    write_console(std::string_view(head, static_cast<std::size_t>(n)));
    write_block(console_out, console, tokenizedline, static_cast<std::size_t>(len));
    write_console(" [NULL]\n");
    end_console_line();
}

void write_record(unsigned link, std::int32_t number, int len) {
    auto n = static_cast<std::uint32_t>(number);
    const unsigned char head[4] = {static_cast<unsigned char>(link), static_cast<unsigned char>(link >> 8),
                                   static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8)};
    write_block(dest_out, dest, head, 4);
    write_block(dest_out, dest, tokenizedline, static_cast<std::size_t>(len));
    put_dest(terminator);
}

}  // namespace

int scan_line_number(const unsigned char *text, std::int32_t &number) {
    int i = 0;
    while (is_space(text[i])) ++i;
    bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    if (!is_digit(text[i])) return 0;
    std::uint32_t value = 0;  // unsigned, so that long numbers wrap instead of overflowing
    for (; is_digit(text[i]); ++i) value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
    number = static_cast<std::int32_t>(negative ? 0u - value : value);
    return i;
}

void p_tokenize(unsigned start_address) {
    start_input();
    put_dest(lead_byte);
    std::int32_t number = 10;
    unsigned address = start_address;
    while (read_line() > 0) {
        int pos = scan_line_number(line, number);
        while (is_space(line[pos])) ++pos;
        int len = tokenize_body(pos);
        write_trace(number, len);
        if (len == 0) continue;  // a blank or number-only line makes no record
        address = next_address(address, static_cast<unsigned>(len));
        write_record(address, number, len);
        number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 10);
    }
    put_dest(0x00);  // the end marker: a link of zero
    put_dest(0x00);
    finish_output();
}

}  // namespace vbconv

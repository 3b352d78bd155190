// The tokenizer.  The record layout it writes is drawn in dialect/image.h.
#include "convert/tokenize.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "convert/format.h"
#include "convert/streams.h"
#include "dialect/image.h"
#include "dialect/keyword.h"

namespace vbconv {

namespace {

unsigned char line[256];           // one read of text, zero-terminated
unsigned char tokenizedline[256];  // its body: never longer than the text, since a token replaces at least one byte

constexpr bool is_space(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
// What the tokenizer does on meeting a byte.
enum ByteKind : unsigned char {
    copied,          // copied to the body; most bytes are nothing else
    ends_line,       // 0x00, LF, CR: the text of the line ends here
    quote_mark,      // opens or closes a string, and is copied
    colon,           // ends literal mode after DATA, and is copied
    starts_keyword,  // the matcher is asked here
};

// The kinds of bytes in code, outside strings and literal text.  A keyword
// may start at a letter or at one of "+-*/^>=<", but its first byte must
// match exactly and no spelling starts with a lower-case letter (nor with
// some of the upper-case ones), so the matcher is asked only at the first
// bytes of the spellings: the same answers from fewer questions.
constexpr std::array<ByteKind, 256> code_kind = [] {
    std::array<ByteKind, 256> t{};
    for (std::string_view k : keyword) t[static_cast<unsigned char>(k[0])] = starts_keyword;
    t[0x00] = t['\n'] = t['\r'] = ends_line;
    t[quote] = quote_mark;
    return t;
}();

// The kinds of bytes inside a string or literal text, where no keyword is
// looked for: the long runs of plain text there are copied without a stop.
constexpr std::array<ByteKind, 256> text_kind = [] {
    std::array<ByteKind, 256> t{};
    t[0x00] = t['\n'] = t['\r'] = ends_line;
    t[quote] = quote_mark;
    t[':'] = colon;
    return t;
}();

// The bytes given a kind of their own above must start no spelling.
constexpr bool no_spelling_starts_with_a_marked_byte() {
    for (std::string_view k : keyword)
        if (k[0] == '\n' || k[0] == '\r' || k[0] == quote || k[0] == ':') return false;
    return true;
}
static_assert(no_spelling_starts_with_a_marked_byte());

// Reads one line of source into `line`: at most max_read bytes, up to and
// including its line end.  LF, CR LF and a lone CR each end a line; a CR LF
// pair counts as one end only when both bytes fit in the same read.  Returns
// the bytes read, 0 at the end of the input.
int read_line() {
    int n = 0;
    while (n < max_read) {
        if (in_pos == in_end && !refill_input()) break;
        // Take what is read ahead, up to the first line end or the most one
        // read holds.
        const unsigned char *from = in_block + in_pos;
        std::size_t avail = std::min(in_end - in_pos, static_cast<std::size_t>(max_read - n));
        std::size_t take = avail;
        if (const void *lf = std::memchr(from, '\n', take))
            take = static_cast<std::size_t>(static_cast<const unsigned char *>(lf) - from);
        if (const void *cr = std::memchr(from, '\r', take))
            take = static_cast<std::size_t>(static_cast<const unsigned char *>(cr) - from);
        std::memcpy(line + n, from, take);
        n += static_cast<int>(take);
        in_pos += take;
        if (take == avail) continue;
        unsigned char end = from[take];
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
        const std::array<ByteKind, 256> &kinds = in_string || literal ? text_kind : code_kind;
        unsigned char b;
        while (kinds[b = line[pos]] == copied) {
            tokenizedline[len++] = b;
            ++pos;
        }
        ByteKind kind = kinds[b];
        if (kind == ends_line) break;  // what follows a line end in the same read is dropped
        if (kind == quote_mark) in_string = !in_string;
        if (kind == colon && literal && literal_end == ':') literal = false;
        if (kind == starts_keyword) {
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
        ++pos;
    }
    return len;
}

void write_trace(std::int32_t number, int len) {
    constexpr char tail[] = " [NULL]\n";
    auto size = static_cast<std::size_t>(len);
    unsigned char *to = room_for(console_out, console, 1 + 11 + 2 + size + 8);
    std::size_t n = 0;
    to[n++] = '[';
    n += static_cast<std::size_t>(format_5d(reinterpret_cast<char *>(to + n), number));
    to[n++] = ']';
    to[n++] = ' ';
    if (console_is_terminal) {
        // Token bytes and control bytes, shown as {$hh}: several bytes each.
        console_out.used += n;
        for (std::size_t i = 0; i < size; ++i) echo_byte(tokenizedline[i]);
        write_console(std::string_view(tail, 8));
        end_console_line();
        return;
    }
    std::memcpy(to + n, tokenizedline, size);
    n += size;
    std::memcpy(to + n, tail, 8);
    console_out.used += n + 8;
}

void write_record(unsigned link, std::int32_t number, int len) {
    auto n = static_cast<std::uint32_t>(number);
    auto size = static_cast<std::size_t>(len);
    unsigned char *to = room_for(dest_out, dest, 4 + size + 1);
    to[0] = static_cast<unsigned char>(link);
    to[1] = static_cast<unsigned char>(link >> 8);
    to[2] = static_cast<unsigned char>(n);
    to[3] = static_cast<unsigned char>(n >> 8);
    std::memcpy(to + 4, tokenizedline, size);
    to[4 + size] = terminator;
    dest_out.used += 4 + size + 1;
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

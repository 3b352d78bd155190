// The tokenizer.  The record layout it writes is drawn in dialect/image.h.
#include "convert/tokenize.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "convert/escape.h"
#include "convert/format.h"
#include "convert/scan.h"
#include "convert/streams.h"
#include "dialect/image.h"
#include "dialect/keyword.h"

namespace vbconv {

bool escape_mode = false;

namespace {

// Both with room for the code loop's window and a scan past their last byte.
unsigned char line[256 + 3 * scan_width];           // one read of text, zero-terminated
unsigned char tokenizedline[256 + 3 * scan_width];  // its body: never longer than the text, since a token replaces at
                                                    // least one byte

// Escape mode reads a line whole, so it needs room for long ones.  Longer
// lines than this can only hold bodies longer than a record, and are
// errors.
constexpr std::size_t max_line = block_size;
unsigned char whole_line[max_line + 1];  // one line of text without its line end, zero-terminated
unsigned char whole_body[max_line + 1];  // its body
unsigned char decoded[max_line + 1];     // its text with each escape turned into a zero that stops the matcher
unsigned char escape_value[max_line / escape_size + 1];  // the bytes of those escapes, in order

constexpr bool is_space(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
// White space that ends no line.
constexpr bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
// Bytes where a line's text ends.
constexpr bool ends_text(int c) { return c == 0 || c == '\n' || c == '\r'; }
// What the tokenizer does on meeting a byte.
enum ByteKind : unsigned char {
    copied,          // copied to the body; most bytes are nothing else
    ends_line,       // 0x00, LF, CR: the text of the line ends here
    quote_mark,      // opens or closes a string, and is copied
    colon,           // ends literal mode after DATA, and is copied
    starts_keyword,  // the matcher is asked here
    foreign,         // 0x80 and up outside strings: copied, but an image reads it as a token
};

// The kinds of bytes in code, outside strings and literal text.  A keyword
// may start at a letter or at one of "+-*/^>=<", but its first byte must
// match exactly and no spelling starts with a lower-case letter (nor with
// some of the upper-case ones), so the matcher is asked only at the first
// bytes of the spellings: the same answers from fewer questions.
constexpr std::array<ByteKind, 256> code_kind = [] {
    std::array<ByteKind, 256> t{};
    for (int c = 0x80; c <= 0xFF; ++c) t[c] = foreign;
    for (std::string_view k : keyword) t[static_cast<unsigned char>(k[0])] = starts_keyword;
    t[0x00] = t['\n'] = t['\r'] = ends_line;
    t[quote] = quote_mark;
    return t;
}();

// The kinds of bytes inside a string, where no keyword is looked for: the
// long runs of plain text there are copied without a stop.
constexpr std::array<ByteKind, 256> string_kind = [] {
    std::array<ByteKind, 256> t{};
    t[0x00] = t['\n'] = t['\r'] = ends_line;
    t[quote] = quote_mark;
    t[':'] = colon;
    return t;
}();

// Literal text after DATA or REM is outside strings, so a high byte there
// is foreign as it is in code.
constexpr std::array<ByteKind, 256> literal_kind = [] {
    std::array<ByteKind, 256> t = string_kind;
    for (int c = 0x80; c <= 0xFF; ++c) t[c] = foreign;
    return t;
}();

// The bytes given a kind of their own above must start no spelling.
constexpr bool no_spelling_starts_with_a_marked_byte() {
    for (std::string_view k : keyword)
        if (k[0] == '\n' || k[0] == '\r' || k[0] == quote || k[0] == ':' || static_cast<unsigned char>(k[0]) >= 0x80)
            return false;
    return true;
}
static_assert(no_spelling_starts_with_a_marked_byte());

// The kinds of body bytes in code, for listing_comes_back: a token whose
// spelling reads back for certain, and that starts no literal text, asks
// for nothing more than a byte copied.
constexpr std::array<ByteKind, 256> listed_code_kind = [] {
    std::array<ByteKind, 256> t = code_kind;
    for (int c = token_base; c <= token_last; ++c)
        if (certain_spelling[c] && c != token_base + kw_data && c != token_base + kw_rem) t[c] = copied;
    return t;
}();

// How many bytes of text the listing writes for a body byte in code.
constexpr std::array<unsigned char, 256> listed_size = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = c >= token_base && c <= token_last
                   ? static_cast<unsigned char>(spelling(static_cast<unsigned char>(c)).size())
                   : 1;
    return t;
}();

// That shortcut holds only if no earlier spelling is taken for a later one
// by itself: none is a prefix of a later one, nor matches one abbreviated.
constexpr bool every_spelling_reads_back() {
    for (int q = 0; q < keyword_count; ++q) {
        std::string_view s = keyword[q];
        for (int p = 0; p < q; ++p) {
            std::string_view k = keyword[p];
            std::size_t i = 0;
            while (i < k.size() && i < s.size() && k[i] == s[i]) ++i;
            if (i == 0) continue;
            if (i == k.size()) return false;  // k is s, or a prefix of it
            if (i < s.size() && (static_cast<unsigned char>(k[i]) ^ static_cast<unsigned char>(s[i])) == 0x20)
                return false;
        }
    }
    return true;
}
static_assert(every_spelling_reads_back());

// Where a line stands in the quote and literal rules; escape mode carries it
// from one run of text to the next across the escapes.
struct LineState {
    bool in_string;
    bool literal;     // after DATA or REM: text is copied as it stands
    int literal_end;  // the byte that ends literal mode: ':' after DATA, none after REM
};

// The bytes of the 16 from `p` on that may stop the copy of a run: more
// than do (a letter that starts no spelling, say), never fewer.
inline unsigned stops_in(const unsigned char *p, bool in_string, bool literal) {
    unsigned m = any_of_mask(p, 0, '\n', '\r', quote);
    if (in_string) return m | byte_mask(p, ':');
    if (literal) return m | byte_mask(p, ':') | high_mask(p);
    return m | keyword_start_mask(p) | high_mask(p);
}

// A keyword in code starts with one of the operators' bytes, which
// text_pair_start_mask finds wherever they are, or with an upper-case letter
// followed by a letter: what text_pair_start_mask finds is then every place where
// the matcher could find a keyword.
constexpr bool pair_scan_finds_every_keyword() {
    for (std::string_view k : keyword) {
        char c = k[0];
        bool op = c == '*' || c == '+' || c == '-' || c == '/' || c == '^' || (c >= '<' && c <= '>');
        bool word = c >= 'A' && c <= 'Z' && k.size() >= 2 && ((k[1] | 0x20) >= 'a' && (k[1] | 0x20) <= 'z');
        if (!op && !word) return false;
    }
    return true;
}
static_assert(pair_scan_finds_every_keyword());

// Whether the matcher's result `p` (a position, or no_match) is DATA or REM,
// after which text is literal: one test for the two.
// A table, since a test of a range and a bit would be compiled as two
// branches, the first a guess.
constexpr std::array<bool, 256> starts_literal = [] {
    std::array<bool, 256> t{};
    t[kw_data] = t[kw_rem] = true;
    return t;
}();

// The bytes whose stops the code loop finds at once: most lines' code fits
// one window, which leaves the loop over a line's stops at its line end
// rather than at the end of each scan.
constexpr int code_window = 2 * scan_width;
static_assert(code_window + 8 <= 64, "a keyword found in a window ends within a 64-bit mask");

// The stops' masks of a window: bit i stands for byte i.
using WindowMask = std::uint64_t;
constexpr WindowMask window_bits = (WindowMask{1} << code_window) - 1;

// Index of the lowest set bit of a window mask that is not zero.
inline int lowest_window_bit(WindowMask mask) { return __builtin_ctzll(mask); }

// The bytes of a window within strings, opening quotes included, from the
// mask of its quotes and `open` (all ones where a string is open before the
// window, else 0): bit i is set where an odd number of quotes come before
// or at byte i, or an even number in a string already open.
inline WindowMask within_strings(WindowMask quotes, WindowMask open) {
    for (int shift = 1; shift < code_window; shift *= 2) quotes ^= quotes << shift;
    return (quotes ^ open) & window_bits;
}

// Copies a window's bytes from `from` to `to`.
inline void copy_window(unsigned char *to, const unsigned char *from) {
    for (int k = 0; k < code_window; k += scan_width) copy16(to + k, from + k);
}

// Tokenizes code from text[pos] on into body[len] on, where code_window
// bytes past the text and the body are readable and writable: the stops of
// a window are found at once, and the bytes between them copied a window at
// a time.  Strings are told by the quotes of each window, and the stops
// within them dropped, so that they are copied as the code around them is,
// with no stop of their own.  Returns at a line end, with `in_string` set
// where it falls within a string, or at a byte from 0x80 up outside
// strings, with pos there; or after DATA or REM, with `literal` set.
// Inlined by force: the line loop, which calls it for most lines, runs
// slower with a call here, and the compiler's own choice was not to inline.
__attribute__((always_inline)) inline void tokenize_code(const unsigned char *text, int &pos, unsigned char *body,
                                                         int &len, bool &in_string, bool &literal, int &literal_end) {
    // Pointers rather than offsets: fewer values for the loop to keep.
    const unsigned char *from = text + pos;
    unsigned char *to = body + len;
    WindowMask open = 0;  // all ones while a string is open at the window's start
    for (;;) {
        const unsigned char *base = from;
        // Where a keyword may start outside strings, or code leaves off.
        // A keyword covers no quote, so the window after one that ends past
        // this window starts outside strings, as this window's last byte is.
        WindowMask quotes = 0, ends = 0, high = 0, pairs = 0;
        for (int k = 0; k < code_window; k += scan_width) {
            quotes |= WindowMask{byte_mask(base + k, quote)} << k;
            ends |= WindowMask{any_of_mask(base + k, 0, '\n', '\r', '\n')} << k;
            high |= WindowMask{high_mask(base + k)} << k;
            pairs |= WindowMask{text_pair_start_mask(base + k)} << k;
        }
        WindowMask within = within_strings(quotes, open);
        open = 0 - (within >> (code_window - 1));
        // The loop below takes only the keywords' stops before the first
        // byte where code leaves off, which then needs no test at each stop.
        WindowMask leaves = ends | (high & ~within);
        WindowMask stops = pairs & ~within & ((leaves & (0 - leaves)) - 1);
        // With no stop in the window, the lookup reads the byte after it,
        // which is readable.
        constexpr WindowMask past = WindowMask{1} << code_window;
        std::uint32_t span = wide_span(base + lowest_window_bit(stops | past));
        while (stops != 0) {
            // The guess below is made from the stop's bit rather than from
            // `at`, which would take the compiler two more steps on the way
            // from this stop to the next span.
            int at_bit = lowest_window_bit(stops);
            const unsigned char *at = base + at_bit;
            copy_window(to, from);
            to += at - from;
            from = at;
            // The stops left if the span's first candidate matches in full
            // (or, where it lists none, if the byte is copied), and the span
            // of the first of them, are looked up while the compare runs:
            // the guess is right at most stops, and the branch that checks
            // it lets the processor go on to the next stop before the
            // compare ends, where a select would wait for it.
            int guess = static_cast<int>(span >> 24);
            WindowMask guess_stops = stops & ~WindowMask{0} << (at_bit + guess);
            std::uint32_t guess_span = wide_span(base + lowest_window_bit(guess_stops | past));
            // The one-load matcher's index tells at once a pair that begins
            // no spelling; the other matcher is not asked at one.
            int length = 1;
            unsigned char p = no_match;
            if (wide_matching)
                p = match_wide_span(at, span, length);
            else if (has_pair(may_begin_keyword, at[0], at[1]))
                p = match_keyword_wide(at), length = kwlen;
            // A keyword and a byte that begins none go the same way, the
            // byte with a length of 1: almost every stop is a keyword, but
            // which is left for the processor to guess.
            *to++ = p != no_match ? static_cast<unsigned char>(p | token_base) : *at;
            from += length;
            if (starts_literal[p]) {
                literal = true;
                literal_end = p == kw_data ? ':' : -1;
                pos = static_cast<int>(from - text);
                len = static_cast<int>(to - body);
                return;
            }
            // The stops the keyword covered are passed (it ends within 8
            // bytes of the window, so the shifts stay below 64).
            if (__builtin_expect(length == guess, 1)) {
                stops = guess_stops;
                span = guess_span;
            } else {
                stops &= ~WindowMask{0} << (from - base);
                span = wide_span(base + lowest_window_bit(stops | past));
            }
        }
        // A keyword never covers a byte where code leaves off.
        if (leaves != 0) {
            const unsigned char *at = base + lowest_window_bit(leaves);
            copy_window(to, from);
            to += at - from;
            in_string = (within >> (at - base) & 1) != 0;
            pos = static_cast<int>(at - text);
            len = static_cast<int>(to - body);
            return;
        }
        if (from < base + code_window) {
            copy_window(to, from);
            to += base + code_window - from;
            from = base + code_window;
        }
    }
}

// Tokenizes `text` from where `state` stands up to the first 00, LF or CR
// into `body`; returns the body bytes written and sets found.stop to the
// offset of the byte that stopped it.  With `wide`, scan_width bytes past
// the end of the text and of the body are readable and writable, and runs
// are copied a scan at a time.
template <bool wide>
int tokenize_run(const unsigned char *text, LineState &state, unsigned char *body, LineFindings &found) {
    int pos = 0, len = 0;
    bool in_string = state.in_string, literal = state.literal;
    int literal_end = state.literal_end;
    for (;;) {
        const std::array<ByteKind, 256> &kinds = in_string ? string_kind : literal ? literal_kind : code_kind;
        unsigned char b;
        // In code a stop comes every few bytes, where a scan costs more than
        // it saves; strings and literal text run long.
        if (wide && (in_string || literal)) {
            for (;;) {
                unsigned stops = stops_in(text + pos, in_string, literal);
                copy16(body + len, text + pos);
                int n = stops != 0 ? lowest_bit(stops) : scan_width;
                pos += n;
                len += n;
                if (stops == 0) continue;
                if (kinds[b = text[pos]] != copied) break;
                body[len++] = b;
                ++pos;
            }
        } else if (wide) {
            tokenize_code(text, pos, body, len, in_string, literal, literal_end);
            if (literal || in_string) continue;
            b = text[pos];
        } else {
            while (kinds[b = text[pos]] == copied) {
                body[len++] = b;
                ++pos;
            }
        }
        ByteKind kind = kinds[b];
        if (kind == ends_line) break;  // what follows a line end in the same read is dropped
        if (kind == quote_mark) in_string = !in_string;
        if (kind == colon && literal && literal_end == ':') literal = false;
        if (kind == foreign) note_byte(found.foreign, b);
        // At a pair that begins no spelling the matcher is sure to find
        // nothing, and is not asked.
        if (kind == starts_keyword && has_pair(may_begin_keyword, b, text[pos + 1])) {
            unsigned char p = wide ? match_keyword_wide(text + pos) : match_keyword(text + pos);
            if (p != no_match) {
                body[len++] = static_cast<unsigned char>(p | token_base);
                pos += kwlen;
                if (p == kw_data) literal = true, literal_end = ':';
                if (p == kw_rem) literal = true, literal_end = -1;
                continue;
            }
        }
        body[len++] = b;
        ++pos;
    }
    state = {in_string, literal, literal_end};
    found.stop = pos;
    return len;
}

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

// Escape mode's read: one whole line into whole_line, without its line end;
// LF, CR LF and a lone CR each end a line, wherever they fall.  Returns the
// length of the line, or -1 at the end of the input.  A line too long for
// whole_line is read to its end all the same, and `overflow` is set.
long read_whole_line(bool &overflow) {
    std::size_t n = 0;
    bool any = false;
    overflow = false;
    for (;;) {
        if (in_pos == in_end && !refill_input()) break;
        any = true;
        const unsigned char *from = in_block + in_pos;
        std::size_t avail = in_end - in_pos;
        std::size_t take = avail;
        if (const void *lf = std::memchr(from, '\n', take))
            take = static_cast<std::size_t>(static_cast<const unsigned char *>(lf) - from);
        if (const void *cr = std::memchr(from, '\r', take))
            take = static_cast<std::size_t>(static_cast<const unsigned char *>(cr) - from);
        std::size_t keep = std::min(take, max_line - n);
        std::memcpy(whole_line + n, from, keep);
        n += keep;
        overflow |= keep < take;
        in_pos += take;
        if (take == avail) continue;
        unsigned char end = from[take];
        ++in_pos;
        if (end == '\r' && peek_byte() == '\n') ++in_pos;
        break;
    }
    whole_line[n] = 0;
    return any ? static_cast<long>(n) : -1;
}

// A UTF-8 byte-order mark, which some editors put at the start of a text.
// Taken for text it would hide the first line number and end up in the
// first body as three tokens.
void skip_byte_order_mark() {
    keep_ahead(3);
    if (in_end - in_pos >= 3 && in_block[in_pos] == 0xEF && in_block[in_pos + 1] == 0xBB &&
        in_block[in_pos + 2] == 0xBF)
        in_pos += 3;
}

void write_trace(std::int32_t number, const unsigned char *body, int len) {
    constexpr char tail[] = " [NULL]\n";
    auto size = static_cast<std::size_t>(len);
    if (console_is_terminal) {
        // Token bytes and control bytes, shown as {$hh}: several bytes each.
        char head[16];
        int n = std::snprintf(head, sizeof head, "[%5d] ", number);
        write_console(std::string_view(head, static_cast<std::size_t>(n)));
        for (std::size_t i = 0; i < size; ++i) echo_byte(body[i]);
        write_console(std::string_view(tail, 8));
        end_console_line();
        return;
    }
    if (size > block_size / 2) {  // only escape mode's overlong bodies, which are errors anyway
        char head[16];
        int n = std::snprintf(head, sizeof head, "[%5d] ", number);
        write_console(std::string_view(head, static_cast<std::size_t>(n)));
        write_block(console_out, console, body, size);
        write_console(std::string_view(tail, 8));
        end_console_line();
        return;
    }
    unsigned char *to = room_for(console_out, console, 1 + 11 + 2 + size + 8);
    std::size_t n = 0;
    to[n++] = '[';
    if (number >= 0 && number <= 65535) {
        // The listing's number field, "%5d " in eight bytes, then "] "
        // over its blank and the byte after it.
        std::uint64_t field = number_field(static_cast<unsigned>(number));
        std::memcpy(to + n, &field, 8);
        n += 5;
    } else {
        n += static_cast<std::size_t>(format_5d(reinterpret_cast<char *>(to + n), number));
    }
    to[n++] = ']';
    to[n++] = ' ';
    std::memcpy(to + n, body, size);
    n += size;
    std::memcpy(to + n, tail, 8);
    console_out.used += n + 8;
}

void write_record(unsigned link, std::int32_t number, const unsigned char *body, int len) {
    auto n = static_cast<std::uint32_t>(number);
    auto size = static_cast<std::size_t>(len);
    unsigned char *to = room_for(dest_out, dest, 4 + size + 1);
    to[0] = static_cast<unsigned char>(link);
    to[1] = static_cast<unsigned char>(link >> 8);
    to[2] = static_cast<unsigned char>(n);
    to[3] = static_cast<unsigned char>(n >> 8);
    std::memcpy(to + 4, body, size);
    to[4 + size] = terminator;
    dest_out.used += 4 + size + 1;
}

// What runs from one record to the next: the numbers and the addresses, and
// what the warnings compare against.
struct Program {
    std::int32_t number;  // the next line's number unless its text gives one
    unsigned address;     // where the next record sits
    long text_line;       // line of the text file being read, from 1
    bool any_record;
    unsigned last_stored;  // line number of the last record written
};

// The warnings take_record may give, out of its way.
[[gnu::noinline, gnu::cold]] void warn_record(const Program &prog, std::int32_t number, unsigned before, int len) {
    unsigned stored = static_cast<std::uint32_t>(number) & 0xFFFF;
    long at = prog.text_line;
    if (number < 0 || number > 0xFFFF)
        warn_text(Warn::number_range, at, "line number %d is outside 0 to 65535: stored as %u", number, stored);
    if (prog.any_record && stored <= prog.last_stored)
        warn_text(Warn::not_ascending, at, "line number %u does not ascend (it follows line %u)", stored,
                  prog.last_stored);
    if (before + static_cast<unsigned>(len) + record_overhead > 0xFFFF) {
        unsigned address = next_address(before, static_cast<unsigned>(len));
        if (ends_program(static_cast<unsigned char>(address >> 8)))
            warn_text(Warn::wrap, at,
                      "the program passes the top of the 64 KB address space: this line's link wraps to $%04X, "
                      "where a listing of the image stops",
                      address);
        else
            warn_text(Warn::wrap, at,
                      "the program passes the top of the 64 KB address space: this line's link wraps to $%04X",
                      address);
    }
}

// Takes a record with a body of `len` bytes (1 or more) under the current
// number, warns about what the image makes of its number and address, and
// returns its link.  `number` is set to the number the record holds; the
// next line's number follows it.
inline unsigned take_record(Program &prog, int len, std::int32_t &number) {
    number = prog.number;
    unsigned stored = static_cast<std::uint32_t>(number) & 0xFFFF;
    unsigned before = prog.address;
    // One test for the three warnings, which are rare: a number out of
    // range, one that does not ascend, a link that wraps.
    bool warn = (static_cast<std::uint32_t>(number) > 0xFFFF) | (prog.any_record & (stored <= prog.last_stored)) |
                (before + static_cast<unsigned>(len) + record_overhead > 0xFFFF);
    if (__builtin_expect(warn, 0)) warn_record(prog, number, before, len);
    prog.address = next_address(before, static_cast<unsigned>(len));
    prog.any_record = true;
    prog.last_stored = stored;
    prog.number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 10);
    return prog.address;
}

// Writes the record of a body of `len` bytes (1 or more) under the current
// number, and warns about what the image makes of its number and address.
void add_record(Program &prog, const unsigned char *body, int len) {
    std::int32_t number;
    unsigned link = take_record(prog, len, number);
    write_record(link, number, body, len);
}

void warn_foreign(const LineFindings &found, long at) {
    if (found.foreign.count == 0) return;
    char sample[24];
    if (found.foreign.count == 1)
        warn_text(Warn::high_byte, at, "byte %s outside a string is kept, but an image reads it as a keyword token",
                  sample_text(found.foreign, sample));
    else
        warn_text(Warn::high_byte, at,
                  "%d bytes from $80 up outside strings are kept, but an image reads them as keyword tokens: %s",
                  found.foreign.count, sample_text(found.foreign, sample));
}

void warn_nul(long at, long dropped) {
    if (dropped == 0)
        warn_text(Warn::nul_byte, at, "a NUL byte ends the line: it is dropped");
    else if (dropped == 1)
        warn_text(Warn::nul_byte, at, "a NUL byte ends the line: it and the byte after it are dropped");
    else
        warn_text(Warn::nul_byte, at, "a NUL byte ends the line: it and the %ld bytes after it are dropped", dropped);
}

// Whether a line's number is read (leading_digits, digits_value) and a
// record's head written a word at a time, which takes a little-endian
// machine; the scalar build keeps the byte loops, and both stay tested.
constexpr bool whole_words = wide_matching;

// How many of the eight bytes from `text` on are decimal digits before the
// first that is not one; 8 when all are.  Each byte is taken with '0' as 0:
// a digit is then 0 to 9, below 0x10 even with 6 added, and any other byte
// is not.  A carry out of a byte that is not a digit spoils only the bytes
// above it.
inline int leading_digits(const unsigned char *text) {
    std::uint64_t v;
    std::memcpy(&v, text, 8);
    v ^= 0x3030303030303030u;
    std::uint64_t other = (v | (v + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u;
    return other != 0 ? __builtin_ctzll(other) >> 3 : 8;
}

// The value of the `digits` decimal digits (1 to 8) from `text` on, without
// a loop: the digits are moved to the top of a 64-bit word, below them
// zeros, and added up two, four and eight at a time.
inline std::uint32_t digits_value(const unsigned char *text, int digits) {
    std::uint64_t v;
    std::memcpy(&v, text, 8);
    v = (v & 0x0F0F0F0F0F0F0F0Fu) << (8 * (8 - digits));  // on a little-endian machine, the first digit lowest
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(v);
}

// Copies the text after REM from `from` on up to the line end into `to`, a
// scan at a time, where scan_width bytes past the line end are readable and
// writable; returns the bytes copied.  Its quotes and colons change nothing
// then, which spares the general loop's stops at each; a byte from 0x80 up
// is counted there, outside strings only, so at one this returns -1 and
// the general loop takes the text instead.
inline int copy_remark(const unsigned char *from, unsigned char *to) {
    int n = 0;
    unsigned stops;
    while ((stops = any_of_mask(from + n, 0, '\n', '\r', '\n') | high_mask(from + n)) == 0) {
        copy16(to + n, from + n);
        n += scan_width;
    }
    copy16(to + n, from + n);
    n += lowest_bit(stops);
    return from[n] < 0x80 ? n : -1;
}

// Input the line loop keeps readable: a line that fits one read, and the
// code loop's window with the scan after it and a matcher's load past it.
constexpr std::size_t line_room = max_read + 4 * scan_width + 8;
static_assert(line_room >= max_read + code_window + scan_width + 8);

// Tokenizes the next line in place in in_block, its body straight into the
// record in dest, when it is of the common kind: all of it read ahead, with
// its line end well within one read (so that the read would take it whole,
// CR LF included), and no NUL byte.  Leaves any other line as it found it
// (its number aside, which the general read takes again) and returns false,
// for tokenize_reads to read it the general way.
bool tokenize_line_fast(Program &prog) {
    if (in_end - in_pos < line_room) {
        keep_ahead(4096);
        if (in_end - in_pos < line_room) return false;
    }
    unsigned char *text = in_block + in_pos;
    constexpr int longest = max_read - 2;  // bytes before the line end, so that CR LF fits too
    // The line end is found where tokenizing meets it, in the one pass over
    // the text: a zero put after the longest line this way stops every loop
    // below there at the latest, and the byte it hides is put back before
    // the line end is looked at.
    unsigned char hidden = text[longest + 1];
    text[longest + 1] = 0;

    // The number and the white space before the body, which the general
    // read would skip up to its terminating zero: none of them passes a
    // line end.
    int at = 0;
    if (is_digit(text[0])) {
        // Most lines start with their number: scan_line_number's result
        // without its white space and sign.
        int digits = whole_words ? leading_digits(text) : 8;
        if (digits < 8) {
            prog.number = static_cast<std::int32_t>(digits_value(text, digits));
            at = digits;
        } else {
            std::uint32_t value = 0;
            for (; is_digit(text[at]); ++at) value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
            prog.number = static_cast<std::int32_t>(value);
        }
    } else {
        while (is_blank(text[at])) ++at;
        if (!ends_text(text[at])) at = scan_line_number(text, prog.number);
    }
    // Most often one blank.
    if (text[at] == ' ' && !is_space(text[at + 1]))
        ++at;
    else
        while (is_blank(text[at])) ++at;
    unsigned char *record = room_for(dest_out, dest, 4 + max_read + code_window + 1);
    unsigned char *body = record + 4;
    LineFindings found{};
    // Most lines are code and strings to their end, which the code loop
    // takes whole; the text after REM is copied to the line end, and the
    // general loop goes on from where either leaves off otherwise.
    int pos = 0, len = 0;
    bool in_string = false, literal = false;
    int literal_end = -1;
    tokenize_code(text + at, pos, body, len, in_string, literal, literal_end);
    int size = at + pos;  // of the text before its line end, once it is met
    int copied_rem;
    if (literal && literal_end < 0 && (copied_rem = copy_remark(text + size, body + len)) >= 0) {
        len += copied_rem;
        size += copied_rem;
    } else if (in_string || literal || text[size] >= 0x80) {
        LineState state{in_string, literal, literal_end};
        len += tokenize_run<true>(text + size, state, body + len, found);
        size += found.stop;
    }
    text[longest + 1] = hidden;
    if (size > longest || text[size] == 0) return false;

    if (console != nullptr) write_trace(prog.number, body, len);
    if (found.foreign.count != 0) warn_foreign(found, prog.text_line);
    if (len > 0) {
        std::int32_t number;
        unsigned link = take_record(prog, len, number);
        auto n = static_cast<std::uint32_t>(number);
        if (whole_words) {
            std::uint32_t head = (link & 0xFFFF) | n << 16;  // link and number, low bytes first
            std::memcpy(record, &head, 4);
        } else {
            record[0] = static_cast<unsigned char>(link);
            record[1] = static_cast<unsigned char>(link >> 8);
            record[2] = static_cast<unsigned char>(n);
            record[3] = static_cast<unsigned char>(n >> 8);
        }
        body[len] = terminator;
        dest_out.used += 4 + static_cast<std::size_t>(len) + 1;
    }
    in_pos += static_cast<std::size_t>(size) + (text[size] == '\r' && text[size + 1] == '\n' ? 2 : 1);
    ++prog.text_line;
    return true;
}

// The default way: reads of at most max_read bytes, each a line of its own.
void tokenize_reads(Program &prog) {
    bool continues = false;  // this read continues a line that the read before split
    // A terminal's trace is escaped byte by byte: it takes the general way.
    bool fast = console == nullptr || !console_is_terminal;
    for (;;) {
        if (fast && !continues && tokenize_line_fast(prog)) continue;
        int n = read_line();
        if (n <= 0) break;
        int pos = scan_line_number(line, prog.number);
        LineFindings found{};
        int at = pos;
        while (is_space(line[at])) ++at;
        LineState state{false, false, -1};
        int len = tokenize_run<true>(line + at, state, tokenizedline, found);
        found.stop += at - pos;
        if (console != nullptr) write_trace(prog.number, tokenizedline, len);

        unsigned char last = line[n - 1];
        int line_end = last == '\n' ? (n >= 2 && line[n - 2] == '\r' ? 2 : 1) : last == '\r' ? 1 : 0;
        if (continues && n > line_end) {
            if (len > 0)
                warn_text(Warn::split, prog.text_line,
                          "line is longer than one read (%d bytes) and is split: the rest became line %d; "
                          "--escape reads lines whole",
                          max_read, prog.number);
            else
                warn_text(Warn::split, prog.text_line,
                          "line is longer than one read (%d bytes) and is split: the rest made no record; "
                          "--escape reads lines whole",
                          max_read);
        }
        int stop = pos + found.stop;
        if (stop < n && line[stop] == 0) warn_nul(prog.text_line, n - line_end - stop - 1);
        warn_foreign(found, prog.text_line);
        if (len > 0) add_record(prog, tokenizedline, len);

        continues = line_end == 0 && n == max_read;
        // A CR that fills a read leaves its LF to a read of its own, which
        // still belongs to this line of the file.
        bool lf_follows = last == '\r' && n == max_read && peek_byte() == '\n';
        if (line_end != 0 && !lf_follows) ++prog.text_line;
    }
}

// Escape mode: whole lines, with escapes.
void tokenize_lines(Program &prog) {
    bool overflow;
    for (long n; (n = read_whole_line(overflow)) >= 0; ++prog.text_line) {
        if (overflow) {
            error_text(Warn::body_overflow, prog.text_line,
                       "line is longer than %zu bytes: its body cannot fit a record (%d bytes at most)", max_line,
                       max_body);
            continue;
        }
        int pos = scan_line_number(whole_line, prog.number);
        LineFindings found{};
        int len = tokenize_escaped_text(whole_line + pos, static_cast<std::size_t>(n - pos), whole_body, found);
        if (console != nullptr) write_trace(prog.number, whole_body, len);
        if (pos + found.stop < n) warn_nul(prog.text_line, n - pos - found.stop - 1);
        warn_foreign(found, prog.text_line);
        if (found.zero_escape)
            error_text(Warn::zero_escape, prog.text_line,
                       "{$00} stands for a zero byte, which no body can hold; write a '{' as {$7B}");
        else if (len > max_body)
            error_text(Warn::body_overflow, prog.text_line,
                       "the body is %d bytes long and cannot fit a record (%d bytes at most)", len, max_body);
        else if (len > 0)
            add_record(prog, whole_body, len);
    }
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

int tokenize_line_text(const unsigned char *text, unsigned char *body, LineFindings &found) {
    int pos = 0;
    while (is_space(text[pos])) ++pos;
    LineState state{false, false, -1};
    int len = tokenize_run<false>(text + pos, state, body, found);
    found.stop += pos;
    return len;
}

int tokenize_escaped_text(const unsigned char *text, std::size_t len, unsigned char *body, LineFindings &found) {
    std::size_t pos = 0;
    while (pos < len && is_space(text[pos])) ++pos;
    // Each escape becomes a zero, where the matcher stops as it does at the
    // end of a text; its byte waits in escape_value.
    std::size_t n = 0, escapes = 0;
    for (; pos < len && text[pos] != 0; ++n) {
        unsigned char byte;
        if (read_escape(text + pos, len - pos, byte)) {
            if (byte == 0) found.zero_escape = true;
            decoded[n] = 0;
            escape_value[escapes++] = byte;
            pos += escape_size;
        } else {
            decoded[n] = text[pos++];
        }
    }
    decoded[n] = 0;
    found.stop = static_cast<int>(pos);  // a raw zero byte, or the end

    LineState state{false, false, -1};
    LineFindings run{};
    int out = 0;
    std::size_t at = 0, next_escape = 0;
    for (;;) {
        out += tokenize_run<false>(decoded + at, state, body + out, run);
        at += static_cast<std::size_t>(run.stop);
        if (at == n) break;
        body[out++] = escape_value[next_escape++];
        ++at;
    }
    found.foreign = run.foreign;
    return out;
}

bool listing_comes_back(const unsigned char *text, const unsigned char *body, std::size_t n) {
    // The tokenizer skips white space first, and would lose it.
    if (n == 0 || is_space(body[0])) return n == 0;
    bool in_string = false, literal = false;
    int literal_end = -1;
    std::size_t i = 0, at = 0;  // body[i] is listed at text[at]
    for (;; ++i) {
        if (in_string && !literal) {  // only the closing quote matters here
            const void *end = std::memchr(body + i, quote, n - i);
            std::size_t to =
                end != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char *>(end) - body) : n;
            at += to - i;
            i = to;
        }
        const std::array<ByteKind, 256> &kinds = in_string ? string_kind : literal ? literal_kind : listed_code_kind;
        unsigned char b;
        while (kinds[b = body[i]] == copied) {  // the terminator after the body stops it
            at += listed_size[b];
            ++i;
        }
        switch (kinds[b]) {
            case ends_line:  // the terminator, or a line end that a listing without losses does not hold
                return i == n;
            case quote_mark:
                in_string = !in_string;
                ++at;
                break;
            case colon:
                if (literal && literal_end == ':') literal = false;
                ++at;
                break;
            case starts_keyword:  // a byte listed as itself, where the tokenizer asks the matcher
                if (has_pair(may_begin_keyword, text[at], text[at + 1]) && match_keyword(text + at) != no_match)
                    return false;
                ++at;
                break;
            case foreign:  // a token that may not read back, or that starts literal text
                if (literal || b > token_last) return false;
                if (!certain_spelling[b] &&
                    (match_keyword(text + at) != b - token_base || kwlen != static_cast<int>(spelling(b).size())))
                    return false;
                if (b == token_base + kw_data) literal = true, literal_end = ':';
                if (b == token_base + kw_rem) literal = true, literal_end = -1;
                at += spelling(b).size();
                break;
            default:
                return false;
        }
    }
}

void p_tokenize(unsigned start_address) {
    start_input();
    skip_byte_order_mark();
    put_dest(lead_byte);
    Program prog{10, start_address, 1, false, 0};
    if (escape_mode)
        tokenize_lines(prog);
    else
        tokenize_reads(prog);
    put_dest(0x00);  // the end marker: a link of zero
    put_dest(0x00);
    finish_output();
}

}  // namespace vbconv

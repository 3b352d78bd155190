// The detokenizer.  The record layout it reads is drawn in dialect/image.h.
//
// Besides listing, it finds out what the listing would not give back.  Each
// listed line is checked against its record: most are known to come back
// from what listing them met; the bodies of the others are walked by the
// tokenizer's rules, and those that fail are tokenized again in memory,
// straight from the output block, to tell what changes.  The records are
// checked against the layout the tokenizer writes.
#include "convert/expand.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "convert/escape.h"
#include "convert/filter.h"
#include "convert/format.h"
#include "convert/scan.h"
#include "convert/streams.h"
#include "convert/tokenize.h"
#include "convert/warn.h"
#include "dialect/image.h"
#include "dialect/keyword.h"

namespace vbconv {

int image_lead = lead_byte;
bool image_comes_back = true;
char image_difference[difference_size];

namespace {

// Markers for the bytes 0xF6 to 0xFF, which no keyword owns.
constexpr std::string_view unknown_token[] = {"{$F6}", "{$F7}", "{$F8}", "{$F9}", "{$FA}",
                                              "{$FB}", "{$FC}", "{$FD}", "{$FE}", "{$FF}"};
static_assert(std::size(unknown_token) == 0x100 - token_last - 1);

constexpr unsigned char alignment_marker = 0x12;  // first body byte of a line 0 that turns alignment mode on
constexpr unsigned char wait_token = token_base + kw_wait;
constexpr int field_size = 6;  // "%5d " of a line number of 16 bits

// Input kept readable ahead at the start of each record, so that a body of
// up to this size can be read again from in_block once it is listed.
constexpr std::size_t in_window = 4096;
// Room kept free in dest_out at the start of each line, so that a listed
// line of up to this size can be read again from there.
constexpr std::size_t out_window = 8192;

unsigned char line[256];  // the record header: link in bytes 0-1, line number in 2-3

unsigned char retokenized[out_window + 1];  // a listed line tokenized again
static_assert(out_window > max_body * 8, "room for the text of an escaped body, 8 bytes a keyword at most");
unsigned char expected[in_window * escape_size];       // what that should give, as the text holds the body
unsigned char body_copy[block_size];                   // escape mode: the body being listed
unsigned char escaped[block_size];                     // escape mode: which of its bytes are written {$hh}
unsigned char escaped_text[block_size * escape_size];  // escape mode: the text listed for it

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
    std::uint8_t size;
    std::uint8_t flags;         // of a token in record_tokens: what meeting it tells the record loop
    std::uint32_t word_prefix;  // of a token in record_tokens: all ones where the pair screen counts it (word_token)
};

constexpr Padded padded(std::string_view s) {
    Padded p{};
    for (std::size_t i = 0; i < s.size(); ++i) p.bytes[i] = s[i];
    p.size = static_cast<std::uint8_t>(s.size());
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

// Classes of body bytes.  Plain ones the body loop passes unchanged to both
// dest and console, and they change no state there: printable, not a quote,
// not a token.  A space is one only while no space budget is left.  In code,
// some tokens matter to how the line reads back (context_matters).
constexpr unsigned plain = 1, matters = 2;
constexpr std::array<unsigned char, 256> byte_class = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) {
        if (c >= 0x20 && c <= 0x7E && c != quote) t[c] |= plain;
        if (c >= token_base && context_matters[c]) t[c] |= matters;
    }
    return t;
}();

// A byte a listed as itself in code matters when the tokenizer could take
// it, with the text of the body byte b after it, for the start of a keyword.
constexpr PairSet matters_before = [] {
    PairSet set{};
    for (unsigned a = 0; a < token_base; ++a) {
        if (!context_matters[a]) continue;
        for (unsigned b = 0; b < 256; ++b) {
            unsigned text = b < token_base    ? b
                            : b <= token_last ? static_cast<unsigned char>(spelling(static_cast<unsigned char>(b))[0])
                                              : '{';
            if (has_pair(may_begin_keyword, a, text)) add_pair(set, a, b);
        }
    }
    return set;
}();

// `matters` when byte a, listed as itself in code, matters before body byte b.
inline unsigned matters_at(unsigned a, unsigned b) { return has_pair(matters_before, a, b) ? matters : 0; }

// Whether token b is one the pair screen of the record loop counts after a
// letter: any but the operators' (0xBC to 0xC0 and 0xC4 to 0xC8).
constexpr bool word_token(unsigned b) {
    return b >= token_base && !(b >= 0xBC && b <= 0xC0) && !(b >= 0xC4 && b <= 0xC8);
}

// Whether byte a, listed as itself in code, may begin a keyword together
// with the body byte b after it, as the record loop screens for it: an
// operator's byte, whatever follows it, or an upper-case letter followed by
// a byte from 'A' to 0x7F or by a word_token.  More than do: the loop asks
// matters_at for each byte found.
constexpr bool may_start_pair(unsigned a, unsigned b) {
    bool op = a == '*' || a == '+' || a == '-' || a == '/' || a == '^' || (a >= '<' && a <= '>');
    return op || (a >= 'A' && a <= 'Z' && ((b >= 'A' && b < 0x80) || word_token(b)));
}

// The screen must find every pair of matters_before, or a line that could
// read back as something else would be taken for one that comes back.
constexpr bool pair_scan_finds_every_pair() {
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b)
            if (has_pair(matters_before, a, b) && !may_start_pair(a, b)) return false;
    return true;
}
static_assert(pair_scan_finds_every_pair());

// Copies the plain bytes that come next in what is read ahead to both dest
// and console, as the body loop would one at a time.  Stops at the first
// other byte, or where the input or an output block runs out.  Returns the
// classes of the bytes copied, or'ed together, `matters` as matters_at
// tells it for each with the byte after it.
template <bool in_code>
unsigned copy_plain_run() {
    if (dest_out.used == block_size) flush_block(dest_out, dest);
    if (console_out.used == block_size) flush_block(console_out, console);
    std::size_t n = std::min({in_end - in_pos, block_size - dest_out.used, block_size - console_out.used});
    const unsigned char *from = in_block + in_pos;
    unsigned char *to_dest = dest_out.data + dest_out.used;
    unsigned char *to_console = console_out.data + console_out.used;
    std::size_t i = 0;
    unsigned classes = 0;
    for (; i < n && (byte_class[from[i]] & plain) != 0; ++i) {
        to_dest[i] = to_console[i] = from[i];
        if (in_code) classes |= matters_at(from[i], from[i + 1]);  // in_block has a byte after the last
    }
    in_pos += i;
    dest_out.used += i;
    console_out.used += i;
    return classes;
}

// Spaces that alignment mode removes from the start of line `number`: the
// widths of the numbers below 100 were padded out with spaces in the body.
inline int space_budget(unsigned number) { return number <= 9 ? 2 : number <= 99 ? 1 : 0; }

constexpr bool is_space(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
constexpr bool is_line_end(int c) { return c == '\r' || c == '\n'; }

// Reads the next record header into `line`; false when the program has
// ended.  `got` tells how many header bytes could be read.  Sets `link` and
// `number` from the bytes as they were read: loaded back from `line` they
// would wait for the stores of single bytes to land.
bool read_header(int &got, unsigned &link, unsigned &number) {
    if (in_end - in_pos >= 4) {
        const unsigned char *h = in_block + in_pos;
        line[0] = h[0];
        line[1] = h[1];
        link = h[0] | h[1] << 8;
        if (ends_program(h[1])) {
            in_pos += 2;
            got = 2;
            return false;
        }
        line[2] = h[2];
        line[3] = h[3];
        number = h[2] | h[3] << 8;
        in_pos += 4;
        got = 4;
        return true;
    }
    int c;
    for (got = 0; got < 4; ++got) {
        if ((c = get_byte()) == EOF) return false;
        line[got] = static_cast<unsigned char>(c);
        if (got == 1 && ends_program(line[1])) {
            got = 2;
            return false;
        }
    }
    link = line[0] | line[1] << 8;
    number = line[2] | line[3] << 8;
    return true;
}

// Notes the first difference between the image and what its listing gives
// back.
void differs(const char *format, ...) __attribute__((format(printf, 1, 2)));
void differs(const char *format, ...) {
    if (!image_comes_back) return;
    image_comes_back = false;
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(image_difference, difference_size, format, args);
    va_end(args);
}

// What listing one body met that the text does not hold as it is.
enum : unsigned {
    lost_byte = 1,      // dropped by the filter
    broke_line = 2,     // CR or LF
    unknown_byte = 4,   // F6 to FF outside strings
    removed_space = 8,  // taken by alignment mode
};

struct Losses {
    unsigned events;
    ByteSample dropped, breaks, unknown;
};
Losses losses;  // of the line being listed; cleared once reported

// Where a listed line and its record are, to be read again.
struct Line {
    unsigned number;
    unsigned link;              // of its record
    int budget;                 // spaces alignment mode was to remove
    std::size_t text_begin;     // in dest_out.data
    std::size_t text_size;      // the text after the number field, line end not included
    bool text_whole;            // all of it is still in dest_out
    const unsigned char *body;  // in in_block, when body_whole
    std::size_t body_size;      // bytes read for the body
    bool body_whole;            // all of it is still in in_block
    bool code_matters;          // its code holds a byte of context_matters
};

// The text of `line`'s body as the listing holds it, so as it would come
// back: tokens as themselves, markers as their text, bytes the filter drops
// or alignment mode removes left out, and nothing from the first line end
// on, where the listed line breaks.  Returns its size.
std::size_t expected_back(const Line &l) {
    std::size_t n = 0;
    bool in_string = false;
    int budget = l.budget;
    for (std::size_t i = 0; i < l.body_size; ++i) {
        unsigned char c = l.body[i];
        if (c == quote) in_string = !in_string;
        if (!in_string && c >= token_base) {
            if (c <= token_last) {
                expected[n++] = c;
            } else {
                std::memcpy(expected + n, unknown_token[c - token_last - 1].data(), escape_size);
                n += escape_size;
            }
        } else if (budget > 0 && c == ' ') {
            --budget;
        } else if (is_line_end(c)) {
            break;
        } else if (c >= 0x20 && c < 0x7F) {
            expected[n++] = c;
        }
    }
    return n;
}

// Length of the text that stands for the first `count` bytes of `want`.
std::size_t text_offset(const unsigned char *want, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) at += want[i] >= token_base ? spelling(want[i]).size() : 1;
    return at;
}

// Warns about the first place where the listed text of `l` tokenizes into
// something else than its body holds; true when there is one.
bool warn_changes(const Line &l) {
    std::size_t want = expected_back(l);
    const unsigned char *text = dest_out.data + l.text_begin;
    LineFindings found{};
    auto got = static_cast<std::size_t>(tokenize_line_text(text, retokenized, found));
    if (got == want && std::memcmp(retokenized, expected, want) == 0) return false;
    std::size_t j = 0;
    while (j < got && j < want && retokenized[j] == expected[j]) ++j;
    unsigned n = l.number;
    if (j == 0 && want > 0 && is_space(expected[0])) {
        warn_line(Warn::leading_space, n,
                  "the body starts with white space, which tokenizing skips; --escape keeps it");
    } else if (j < want && expected[j] >= token_base && j < got && retokenized[j] >= token_base) {
        std::string_view was = spelling(expected[j]), now = spelling(retokenized[j]);
        warn_line(Warn::keyword_merge, n,
                  "the keyword %.*s and the text after it read back as the keyword %.*s; --escape keeps them apart",
                  static_cast<int>(was.size()), was.data(), static_cast<int>(now.size()), now.data());
    } else if (j < want && expected[j] >= token_base) {
        std::string_view was = spelling(expected[j]);
        warn_line(Warn::literal_token, n,
                  "the keyword %.*s stands in DATA or REM text, where it reads back as plain text; "
                  "--escape keeps it",
                  static_cast<int>(was.size()), was.data());
    } else if (j < got && retokenized[j] >= token_base) {
        const unsigned char *at = text + text_offset(expected, j);
        match_keyword(at);
        std::string_view now = spelling(retokenized[j]);
        warn_line(Warn::keyword_text, n, "the text \"%.*s\" reads back as the keyword %.*s; --escape keeps it text",
                  kwlen, reinterpret_cast<const char *>(at), static_cast<int>(now.size()), now.data());
    } else {
        warn_line(Warn::other_change, n,
                  "the body would not tokenize back to the same bytes from its byte %zu on; --escape keeps it", j + 1);
    }
    return true;
}

// Warns about what listing `l` lost; true when the line would not come back.
bool report_line(const Line &l) {
    char sample[24];
    unsigned n = l.number;
    bool lost = false;
    if (losses.events & lost_byte) {
        const ByteSample &s = losses.dropped;
        if (s.count == 1)
            warn_line(Warn::dropped, n, "1 byte the text cannot hold is dropped: %s; --escape keeps it",
                      sample_text(s, sample));
        else
            warn_line(Warn::dropped, n, "%d bytes the text cannot hold are dropped: %s; --escape keeps them", s.count,
                      sample_text(s, sample));
        lost = true;
    }
    if (losses.events & broke_line) {
        const ByteSample &s = losses.breaks;
        warn_line(Warn::line_break, n, "line end %s in the body breaks the listed line into %d; --escape keeps %s",
                  sample_text(s, sample), s.count + 1, s.count == 1 ? "it" : "them");
        lost = true;
    }
    if (losses.events & unknown_byte) {
        const ByteSample &s = losses.unknown;
        warn_line(Warn::unknown_token, n,
                  "%s stand%s for no keyword: the marker listed reads back as text; --escape reads %s back",
                  sample_text(s, sample), s.count == 1 ? "s" : "", s.count == 1 ? "it" : "them");
        lost = true;
    }
    if (field_size + l.text_size > max_read) {  // its size is known even where its text went out in pieces
        warn_line(Warn::too_long, n,
                  "the listed line is %zu bytes long, more than one read of the tokenizer takes (%d before its "
                  "line end): it comes back split; --escape reads lines whole",
                  field_size + l.text_size, max_read);
        lost = true;
    }
    // What else changes can be told only from the whole text and body, and
    // is told for those that fit the windows, which every line that fits one
    // read of the tokenizer does.  Longer ones were told above.
    if (l.text_whole && l.body_whole && l.text_size <= out_window && l.body_size <= in_window) lost |= warn_changes(l);
    losses.events = 0;
    losses.dropped.count = losses.breaks.count = losses.unknown.count = 0;
    return lost || !l.text_whole || !l.body_whole;
}

// Checks a listed line of the default mode; true when it would not come
// back as its record.  Most lines have lost nothing on the way, and for them
// a walk over the body tells it; the others are tokenized again.
bool check_line(const Line &l) {
    if (losses.events == 0 && l.text_whole && l.body_whole && field_size + l.text_size <= max_read &&
        l.body[0] != ' ' && (!l.code_matters || listing_comes_back(dest_out.data + l.text_begin, l.body, l.body_size)))
        return false;
    bool removed = (losses.events & removed_space) != 0;
    return report_line(l) || removed;
}

// Escape mode.  The text of body[0] to body[n - 1] with the bytes marked in
// `escaped` written {$hh}; marks first the bytes that can never come back
// otherwise.  `in_string` and `literal` carry the quote and the literal
// state from the piece before, for a body listed in pieces.
std::size_t escape_text(const unsigned char *body, std::size_t n, bool first_piece, bool &in_string, int &literal,
                        unsigned char *out) {
    std::size_t len = 0;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = body[i];
        bool token = !in_string && c >= token_base;
        if (c < 0x20 || c == 0x7F || (in_string && c >= 0x80) || c > token_last || (i == 0 && first_piece && c == ' '))
            escaped[i] = 1;
        // A '{' that would read as an escape.
        unsigned char byte;
        if (c == '{' && read_escape(body + i, n - i, byte)) escaped[i] = 1;
        // A keyword in DATA or REM text would come back as letters.
        if (token && literal != 0) escaped[i] = 1;
        if (escaped[i]) {
            write_escape(out + len, c);
            len += escape_size;
            continue;
        }
        if (c == quote) in_string = !in_string;
        if (literal == ':' && c == ':') literal = 0;
        if (token) {
            std::string_view s = spelling(c);
            std::memcpy(out + len, s.data(), s.size());
            len += s.size();
            if (c == token_base + kw_data) literal = ':';
            if (c == token_base + kw_rem) literal = -1;
        } else {
            out[len++] = c;
        }
    }
    return len;
}

// Lists body[0] to body[n - 1] with as few escapes as bring it back whole:
// escapes the bytes that need it for sure, tokenizes the text again, and
// escapes one more byte where it first goes astray, until it comes back.  A
// body with every byte escaped always comes back.
std::size_t escape_line(const unsigned char *body, std::size_t n) {
    std::memset(escaped, 0, n);
    std::size_t tried_after = n;  // a difference at j for which byte j + 1 was escaped last time
    for (;;) {
        bool in_string = false;
        int literal = 0;
        std::size_t len = escape_text(body, n, true, in_string, literal, escaped_text);
        LineFindings found{};
        auto got = static_cast<std::size_t>(tokenize_escaped_text(escaped_text, len, retokenized, found));
        if (got == n && std::memcmp(retokenized, body, n) == 0) return len;
        std::size_t j = 0;
        while (j < got && j < n && retokenized[j] == body[j]) ++j;
        // A keyword that ran on into the text after it is better kept
        // readable, and that text escaped.
        std::size_t pick = j;
        bool merged = j + 1 < n && body[j] >= token_base && j < got && retokenized[j] >= token_base;
        if (merged && tried_after != j && !escaped[j + 1]) pick = j + 1;
        tried_after = pick == j + 1 ? j : n;
        if (pick >= n || escaped[pick]) {
            pick = 0;
            while (pick < n && escaped[pick]) ++pick;
            if (pick == n) return len;  // cannot happen: see above
        }
        escaped[pick] = 1;
    }
}

// Escape mode: lists the body that starts with byte `c`, already read, up to
// its terminator or the end of the input.  Returns the last byte read (0 or
// EOF) and sets `waited` where it meets a WAIT token; sets `size`.
int list_escaped(int c, unsigned number, bool &waited, std::size_t &size) {
    std::size_t n = 0;
    size = 0;
    bool quoted = false;  // as the default listing tells strings, for the WAIT count
    bool in_string = false, first_piece = true;
    int literal = 0;
    while (c != EOF && c != 0) {
        if (c == quote) quoted = !quoted;
        if (!quoted && c == wait_token) waited = true;
        body_copy[n++] = static_cast<unsigned char>(c);
        c = get_byte();
        if (n == block_size && c != EOF && c != 0) {
            // Far too long to come back anyway: listed in pieces, with the
            // escapes that are sure to be needed.
            std::memset(escaped, 0, n);
            std::size_t len = escape_text(body_copy, n, first_piece, in_string, literal, escaped_text);
            write_block(dest_out, dest, escaped_text, len);
            write_block(console_out, console, escaped_text, len);
            size += n;
            n = 0;
            first_piece = false;
        }
    }
    size += n;
    std::size_t len;
    if (size <= static_cast<std::size_t>(max_body)) {
        len = escape_line(body_copy, n);
    } else {
        std::memset(escaped, 0, n);
        len = escape_text(body_copy, n, first_piece, in_string, literal, escaped_text);
    }
    write_block(dest_out, dest, escaped_text, len);
    write_block(console_out, console, escaped_text, len);
    if (size > static_cast<std::size_t>(max_body)) {
        warn_line(Warn::record_too_big, number,
                  "the body is %zu bytes long, more than a record the tokenizer writes holds (%d): it cannot come "
                  "back",
                  size, max_body);
        differs("line %u", number);
    }
    return c;
}

// Where the listing of a body stands between one byte and the next.
struct BodyState {
    int budget;             // spaces alignment mode still removes
    bool in_string;         // inside a string literal
    unsigned code_classes;  // of the bytes met in code
    bool *waited;           // set by a WAIT token outside strings
};

// Lists one body byte `c`, already taken, as the listing and the echo hold
// it, and notes in `losses` what the text does not hold as it is.
inline void list_byte(int c, BodyState &s) {
    if (c == quote) s.in_string = !s.in_string;
    if (!s.in_string && c >= token_base) {
        s.code_classes |= byte_class[c];
        const Padded &text = token_texts[c - token_base];
        put_both(text.bytes, text.size);
        if (c == wait_token) *s.waited = true;
        if (c > token_last) {
            losses.events |= unknown_byte;
            note_byte(losses.unknown, static_cast<unsigned char>(c));
            if (c == 0xFF) echo_byte(c);  // 0xFF goes on to be echoed raw too
        }
    } else if (s.budget > 0 && c == ' ') {
        --s.budget;
        losses.events |= removed_space;
    } else {
        if (c < 0x20 || c >= 0x7F) {
            bool breaks = is_line_end(c);
            losses.events |= breaks ? broke_line : lost_byte;
            note_byte(breaks ? losses.breaks : losses.dropped, static_cast<unsigned char>(c));
        }
        if (!s.in_string) s.code_classes |= matters_at(static_cast<unsigned>(c), in_block[in_pos]);
        _p_toascii(c);
        echo_byte(c);
    }
}

// Room the fast loop keeps: in the input, for a scan and the byte after
// it; in each output, for a scan's copy or a token's eight bytes.
constexpr std::size_t fast_in_room = 2 * scan_width + 1;
constexpr std::size_t fast_out_room = 4 * scan_width;

// Lists the bytes that come next in what is read ahead, as list_byte would
// one at a time: plain runs sixteen bytes a scan, quotes, and the tokens
// of keywords, into dest and (with `echo`) console.  Leaves in_pos at the
// first byte it does not take: the terminator, a byte that is lost or
// stands for no keyword, or any byte once the input or an output block runs
// short, where list_byte, which refills and flushes, takes over.
template <bool echo>
void list_fast(BodyState &s) {
    const unsigned char *p = in_block + in_pos;
    const unsigned char *in_stop = in_block + in_end;
    unsigned char *d = dest_out.data + dest_out.used;
    unsigned char *e = console_out.data + console_out.used;
    unsigned char *const d_stop = dest_out.data + block_size - fast_out_room;
    unsigned char *const e_stop = console_out.data + block_size - fast_out_room;
    bool in_string = s.in_string;
    unsigned classes = s.code_classes;
    while (static_cast<std::size_t>(in_stop - p) >= fast_in_room && d <= d_stop && (!echo || e <= e_stop)) {
        unsigned other = ~plain_mask(p) & 0xFFFF;
        if ((other & 1) == 0) {
            int n = other != 0 ? lowest_bit(other) : scan_width;
            copy16(d, p);
            if (echo) copy16(e, p);
            if (!in_string && (classes & matters) == 0) {
                // A byte written as itself matters where it could begin a
                // keyword together with the byte after it; once one does,
                // the line is walked anyway.
                for (unsigned k = keyword_start_mask(p) & ((1u << n) - 1); k != 0; k &= k - 1) {
                    int i = lowest_bit(k);
                    classes |= matters_at(p[i], p[i + 1]);
                }
            }
            p += n;
            d += n;
            if (echo) e += n;
            continue;
        }
        unsigned char b = *p;
        if (b == quote) {
            in_string = !in_string;
            *d++ = b;
            if (echo) *e++ = b;
        } else if (!in_string && b >= token_base && b <= token_last) {
            classes |= byte_class[b];
            const Padded &text = token_texts[b - token_base];
            std::memcpy(d, text.bytes, sizeof text.bytes);
            d += text.size;
            if (echo) {
                std::memcpy(e, text.bytes, sizeof text.bytes);
                e += text.size;
            }
            if (b == wait_token) *s.waited = true;
        } else {
            break;
        }
        ++p;
    }
    in_pos = static_cast<std::size_t>(p - in_block);
    dest_out.used = static_cast<std::size_t>(d - dest_out.data);
    if (echo) console_out.used = static_cast<std::size_t>(e - console_out.data);
    s.in_string = in_string;
    s.code_classes = classes;
}

// Lists the body of line `l` that starts with byte `c`, already read, up to
// its terminator or the end of the input, and notes in `losses` what the
// text does not hold as it is.  Returns the last byte read (0 or EOF); sets
// l.body_size and l.code_matters, and sets `waited` where it meets a WAIT
// token.
inline int list_body(int c, Line &l, bool &waited) {
    BodyState s{l.budget, false, 0, &waited};
    // A terminal's echo is escaped byte by byte; no echo at all is written
    // by the fast loop without one.
    bool fast = console == nullptr || !console_is_terminal;
    while (c != EOF && c != 0) {
        if (fast && s.budget == 0) {
            --in_pos;  // the byte is given back, for the fast loop to list if it can
            if (console != nullptr)
                list_fast<true>(s);
            else
                list_fast<false>(s);
            if ((c = get_byte()) == EOF || c == 0) break;
        }
        list_byte(c, s);
        if (s.budget == 0 && !fast) {
            if (s.in_string)
                copy_plain_run<false>();
            else
                s.code_classes |= copy_plain_run<true>();
        }
        c = get_byte();
    }
    l.code_matters = (s.code_classes & matters) != 0;
    l.body_size = static_cast<std::size_t>(in_block + (c == 0 ? in_pos - 1 : in_pos) - l.body);
    return c;
}

// Warns of a link that does not lead to the record after line `number`,
// which reading has just reached: tokenizing writes that address instead.
void check_link(unsigned number, unsigned link) {
    unsigned next = (load_address + in_base + in_pos) & 0xFFFF;
    if (link == next) return;
    warn_line(Warn::bad_link, number,
              "the link $%04X does not lead to the next record at $%04X, which tokenizing writes instead", link, next);
    differs("line %u", number);
}

// Warns of line `number` where it does not ascend from the line before.
void check_order(unsigned number, bool &any_line, unsigned &last_number) {
    if (any_line && number <= last_number)
        warn_line(Warn::not_ascending, number, "line number %u does not ascend (it follows line %u)", number,
                  last_number);
    any_line = true;
    last_number = number;
}

// Checks the record just listed as line `l`, up to `c` (0 or EOF) after
// `zeros` zero bytes before its body: what the line lost, and whether the
// link in `line` leads to the record after it.
void check_record(const Line &l, int c, int zeros) {
    unsigned number = l.number;
    if (zeros != 0) {
        warn_line(Warn::empty_body, number,
                  "the record has an empty body: the listing takes the bytes after it for this line's text");
        losses = {};
        differs("line %u", number);
        return;
    }
    if (c == EOF) differs("line %u", number);  // its terminator is missing
    if (!escape_mode && check_line(l)) differs("line %u", number);
    if (c == 0) check_link(number, l.link);
}

// A token whose spelling is not certain reads back as itself unless the
// text after it completes an earlier, longer spelling ("<" and "<<", "DO"
// and "DOKE"): the pairs of such a token and the body bytes whose text
// would then read on, by the byte that would follow its spelling, as it
// stands or flipped.
constexpr PairSet reads_on = [] {
    PairSet set{};
    for (unsigned t = token_base; t <= token_last; ++t) {
        if (certain_spelling[t]) continue;
        std::string_view s = spelling(static_cast<unsigned char>(t));
        for (int q = 0; q < keyword_count; ++q) {
            std::string_view k = keyword[q];
            if (k.size() <= s.size() || k.substr(0, s.size()) != s) continue;
            auto next = static_cast<unsigned char>(k[s.size()]);
            for (unsigned b = 0; b < 256; ++b) {
                unsigned text = b < token_base ? b
                                : b <= token_last
                                    ? static_cast<unsigned char>(spelling(static_cast<unsigned char>(b))[0])
                                    : '{';
                if (text == next || text == (next ^ 0x20u)) add_pair(set, t, b);
            }
        }
    }
    return set;
}();

constexpr unsigned char data_token = token_base + kw_data;
constexpr unsigned char rem_token = token_base + kw_rem;

// The record loop judges the tokens that matter by themselves: those that
// may read on (reads_on), DATA, whose literal text ends at a colon and is
// walked, and REM, after which no token may stand.
constexpr bool tokens_that_matter_are_judged() {
    for (int c = token_base; c <= token_last; ++c)
        if (context_matters[c] != (!certain_spelling[c] || c == data_token || c == rem_token)) return false;
    return true;
}
static_assert(tokens_that_matter_are_judged());

// Bytes the record loop looks at in one turn: two scans, so that most
// bodies, with their terminator, are taken in one turn.
constexpr int record_scan = 2 * scan_width;

// body_masks of the 32 bytes from p on, bit i for p[i].
inline BodyMasks turn_masks(const unsigned char *p) {
    BodyMasks low = body_masks(p), high = body_masks(p + scan_width);
    return {low.stops | high.stops << 16,         low.quotes | high.quotes << 16, low.high | high.high << 16,
            low.operators | high.operators << 16, low.upper | high.upper << 16,   low.from_a | high.from_a << 16};
}
inline void copy32(unsigned char *to, const unsigned char *from) {
    copy16(to, from);
    copy16(to + scan_width, from + scan_width);
}

// Bit i set when bits 0 to i of `mask` hold an odd number of ones.
inline std::uint32_t prefix_parity32(std::uint32_t mask) {
    mask ^= mask << 1;
    mask ^= mask << 2;
    mask ^= mask << 4;
    mask ^= mask << 8;
    mask ^= mask << 16;
    return mask;
}

// What meeting a token outside strings tells the record loop, or'ed into
// its classes beside `matters`.
constexpr unsigned met_wait = 4;     // WAIT
constexpr unsigned met_unknown = 8;  // a byte from 0xF6 up, which stands for no keyword
constexpr unsigned met_data = 16;    // DATA, whose literal text is looked at once the body is listed

// token_texts with what each token tells the record loop.
constexpr std::array<Padded, 0x80> record_tokens = [] {
    std::array<Padded, 0x80> t = token_texts;
    for (int c = token_base; c <= 0xFF; ++c) {
        Padded &e = t[c - token_base];
        if (c > token_last) e.flags |= met_unknown;
        if (c == data_token) e.flags |= met_data;
        if (c == wait_token) e.flags |= met_wait;
        if (word_token(static_cast<unsigned>(c))) e.word_prefix = ~0u;
    }
    return t;
}();

// Whether no token stands in the literal text after a DATA token among the
// `size` bytes of `body`, which ends at the first colon, in a string or
// not.  Every byte from 0x80 up in the body is a token outside strings.
// Reads up to a scan past the body, within the record loop's room.
bool data_text_holds_no_token(const unsigned char *body, std::size_t size) {
    bool literal = false;
    for (std::size_t k = 0; k < size; k += scan_width) {
        unsigned stops = high_mask(body + k) | byte_mask(body + k, ':');
        if (size - k < scan_width) stops &= (1u << (size - k)) - 1;
        for (; stops != 0; stops &= stops - 1) {
            unsigned char c = body[k + static_cast<std::size_t>(lowest_bit(stops))];
            if (c == ':')
                literal = false;
            else if (literal)
                return false;
            else
                literal = c == data_token;
        }
    }
    return true;
}

// Whether the body of `size` bytes listed as `text` comes back, for a body
// the record loop met DATA or a byte that `matters` in (`classes`).  The
// text after DATA is told here when nothing else matters, the rest walked.
__attribute__((noinline)) bool record_comes_back(const unsigned char *text, const unsigned char *body, std::size_t size,
                                                 unsigned classes) {
    if ((classes & matters) == 0 && data_text_holds_no_token(body, size)) return true;
    return listing_comes_back(text, body, size);
}

// Input the record loop keeps readable: the header, the longest body that
// lists short enough for one read, and a turn's bytes past it with the
// byte after them.
constexpr std::size_t record_in_room = 4 + max_read + record_scan + 1;

// Lists the body from `body` on as text from `text` on, when it is of the
// common kind: printable text, strings and keyword tokens, that lists short
// enough for one read and comes back as it is.  Returns the input after its
// terminator and sets `end` after the text, line end not included, and
// `classes` (`met_wait` among them); null for any other body, which the
// general path lists with its warnings.  Reads at most record_in_room - 4
// bytes, writes at most max_read + 2 * record_scan.
inline const unsigned char *list_body_text(const unsigned char *body, unsigned char *text, unsigned char *&end,
                                           unsigned &classes) {
    unsigned char *const text_limit = text + (max_read - field_size);
    unsigned char *d = text;
    const unsigned char *p = body;
    std::uint32_t in_code = ~0u;  // bytes outside strings, as the turn starts
    unsigned rem_matters = 0;     // `matters` once REM has been met: a keyword in its text would read back as letters
    classes = 0;
    // Each turn takes the 32 bytes from p on, up to the first byte this
    // path does not list (the terminator among them): their masks are found
    // once, and the plain bytes between the tokens are copied a turn at a
    // time.  The body is at most as long as its text, so the limit on the
    // text keeps the turns within record_in_room.
    for (;;) {
        if (d > text_limit) return nullptr;
        BodyMasks m = turn_masks(p);
        std::uint32_t quotes = m.quotes, high = m.high;
        // The first stop, or 32 where there is none.
        auto n = static_cast<std::size_t>(__builtin_ctzll(std::uint64_t{m.stops} | std::uint64_t{1} << record_scan));
        auto taken = static_cast<std::uint32_t>((std::uint64_t{1} << n) - 1);
        // A byte is in a string when an odd number of quotes come before it.
        std::uint32_t code = in_code ^ prefix_parity32(quotes & taken);
        if ((high & ~code & taken) != 0) return nullptr;  // a high byte in a string is dropped
        in_code = 0 - (code >> (record_scan - 1));        // as the last byte's
        std::uint32_t tokens = high & taken;
        std::uint32_t paired = rem_matters != 0 ? 0 : taken;  // the bytes whose pairs count
        std::uint32_t words = 0;                              // the word tokens among them
        std::size_t at = 0;                                   // p[at] is the next byte to copy
        for (; tokens != 0; tokens &= tokens - 1) {
            auto i = static_cast<std::size_t>(lowest_bit(tokens));
            copy32(d, p + at);
            d += i - at;
            unsigned char b = p[i];
            const Padded &t = record_tokens[b - token_base];
            std::memcpy(d, t.bytes, sizeof t.bytes);
            d += t.size;
            classes |= t.flags | rem_matters | (has_pair(reads_on, b, p[i + 1]) ? matters : 0);
            words |= tokens & (0u - tokens) & t.word_prefix;
            if (b == rem_token) {
                rem_matters = matters;
                paired &= (1u << i) - 1;  // REM text is copied as it stands
            }
            at = i + 1;
        }
        if ((classes & matters) == 0) {
            // Once one byte matters, the line is walked anyway.
            // may_start_pair, but for the last byte, whose next is not
            // looked at: it is taken for one.
            std::uint32_t then = (m.from_a | words) >> 1 | 1u << (record_scan - 1);
            for (std::uint32_t k = (m.operators | (m.upper & then)) & code & paired; k != 0; k &= k - 1) {
                int i = lowest_bit(k);
                classes |= matters_at(p[i], p[i + 1]);
            }
        }
        copy32(d, p + at);
        d += n - at;
        p += n;
        if (n == record_scan) continue;
        if (*p++ != 0 || (classes & met_unknown) != 0) return nullptr;
        break;
    }
    if (field_size + (d - text) > max_read) return nullptr;
    std::memcpy(d, dest_line_end.bytes, sizeof dest_line_end.bytes);  // zeros after it end the text for the matcher
    if ((classes & (matters | met_data)) != 0 &&
        !record_comes_back(text, body, static_cast<std::size_t>(p - 1 - body), classes))
        return nullptr;
    end = d;
    return p;
}

// Lists the records from in_pos on, each in one pass over its bytes, as
// long as they are of the common kind: all of it read ahead, a body that
// list_body_text takes.  Each line goes to dest, then to the console (not a
// terminal) in one copy.  Stops before any other record (the end marker, an
// empty body or one that starts with a space, alignment mode's spaces, a
// body list_body_text leaves), for the general path to list with its
// warnings, and where fewer than in_window bytes are read ahead, for
// p_expand to read on, or, where the source has no more to give, fewer
// than a record's room.  `waited` is set by a WAIT token; `any_line` and
// `last_number` follow the line numbers for the ascending check.  Kept out
// of p_expand, whose general path would otherwise share its registers.
__attribute__((noinline)) void list_records_fast(int alignment, bool &waited, bool &any_line, unsigned &last_number) {
    const unsigned char *record = in_block + in_pos;
    const unsigned char *const in_stop = in_block + in_end;
    unsigned char *field_at = dest_out.data + dest_out.used;
    unsigned char *const out_stop = dest_out.data + block_size - out_window;
    unsigned padded_below = alignment != 0 ? 100 : 0;   // the line numbers whose bodies alignment mode pads
    std::size_t address_base = load_address + in_base;  // of in_block[0]
    long last = any_line ? static_cast<long>(last_number) : -1;
    unsigned classes_met = 0;
    const unsigned char *listed = nullptr;  // the header of the last record listed
    if (static_cast<std::size_t>(in_stop - record) < record_in_room) return;
    // A small file is read whole at once: its records are listed here but
    // for those in its last record_in_room bytes.
    std::size_t keep = in_ended || std::feof(source) ? record_in_room : in_window;
    // The test after each record, for in_window, keeps the next one within
    // record_in_room too.
    static_assert(in_window >= record_in_room);
    do {
        unsigned link = record[0] | record[1] << 8, number = record[2] | record[3] << 8;
        const unsigned char *body = record + 4;
        // The rare kinds in one test.
        if (ends_program(record[1]) | (body[0] == 0) | (body[0] == ' ') | (number < padded_below)) break;
        if (field_at > out_stop) {
            dest_out.used = static_cast<std::size_t>(field_at - dest_out.data);
            flush_block(dest_out, dest);
            field_at = dest_out.data + dest_out.used;
        }
        std::uint64_t field = number_field(number);
        std::memcpy(field_at, &field, 8);
        unsigned char *end;
        unsigned classes;
        const unsigned char *next = list_body_text(body, field_at + field_size, end, classes);
        if (next == nullptr) break;

        auto size = static_cast<std::size_t>(end - field_at);
        unsigned char *line_start = field_at;
        field_at = end + dest_line_end.size;
        listed = record;
        record = next;
        classes_met |= classes;
        if (console != nullptr) {
            // Copied a turn at a time, the first two whatever the size, so
            // that where the copy ends is seldom a branch to guess: dest has
            // out_window of room behind the line.
            unsigned char *e = room_for(console_out, console, size + 2 * record_scan);
            copy32(e, line_start);
            copy32(e + record_scan, line_start + record_scan);
            for (std::size_t k = 2 * record_scan; k < size; k += record_scan) copy32(e + k, line_start + k);
            std::memcpy(e + size, console_line_end.bytes, sizeof console_line_end.bytes);
            console_out.used += size + console_line_end.size;
        }
        // The link and the line order, checked in one test; the warnings
        // are written in the order the general path writes them.
        unsigned next_address = (address_base + static_cast<std::size_t>(record - in_block)) & 0xFFFF;
        if ((link != next_address) | (static_cast<long>(number) <= last)) {
            dest_out.used = static_cast<std::size_t>(field_at - dest_out.data);
            in_pos = static_cast<std::size_t>(record - in_block);
            check_link(number, link);
            any_line = last >= 0;
            last_number = static_cast<unsigned>(last);
            check_order(number, any_line, last_number);
        }
        last = number;
    } while (static_cast<std::size_t>(in_stop - record) >= keep);
    dest_out.used = static_cast<std::size_t>(field_at - dest_out.data);
    in_pos = static_cast<std::size_t>(record - in_block);
    if (listed != nullptr) {
        std::memcpy(line, listed, 4);  // the last header read, which the end checks look at
        any_line = true;
        last_number = static_cast<unsigned>(last);
    }
    if ((classes_met & met_wait) != 0) waited = true;
}

// The checks at the end of the image: how it ended and what follows.
// How many bytes of source follow where the listing stopped.  The listing
// reads nothing more for it: a source whose end was met is all read ahead,
// a file tells its size, and of anything else (a pipe, a terminal, a device
// that never ends) only what was read ahead is counted, and `exact` is
// cleared, since more could come.
std::size_t bytes_after(bool &exact) {
    std::size_t ahead = in_end - in_pos;
    if (std::feof(source)) return ahead;  // the usual case, which asks the system nothing
    long read_so_far = std::ftell(source);
    if (read_so_far >= 0 && std::fseek(source, 0, SEEK_END) == 0) {
        long size = std::ftell(source);
        if (size >= read_so_far) return ahead + static_cast<std::size_t>(size - read_so_far);
    }
    exact = false;
    return ahead;
}

void check_end(int header_got, int result) {
    if (header_got < 2 || !ends_program(line[1])) {
        warn_file(Warn::no_end_marker, "the image ends before its end marker");
        differs("no end marker");
        return;
    }
    bool exact = true;
    std::size_t rest = bytes_after(exact);
    const char *more = exact ? "" : " or more";
    unsigned link = line[0] | line[1] << 8;
    if (link == 0) {
        if (rest == 0) return;
        warn_file(Warn::after_end, "%zu%s byte%s after the end marker %s not listed", rest, more,
                  rest == 1 && exact ? "" : "s", rest == 1 && exact ? "is" : "are");
        differs("bytes after the end marker");
        return;
    }
    if (result != 0)
        warn_file(Warn::machine_part,
                  "the program ends on link $%04X: the %zu%s bytes after it are a machine-language part, skipped with "
                  "a notice",
                  link, rest, more);
    else
        warn_file(Warn::machine_part,
                  "the program ends on link $%04X instead of the end marker 00 00: the %zu%s bytes after it are not "
                  "listed",
                  link, rest, more);
    differs("link $%04X instead of the end marker", link);
}

}  // namespace

int p_expand() {
    start_input();
    image_comes_back = true;
    image_difference[0] = 0;
    losses = {};
    if (image_lead == alt_lead_byte) {
        warn_file(Warn::lead_byte, "lead byte $01 comes back as $00");
        differs("lead byte $01");
    }

    int alignment = 0;    // alignment markers met; the mode is on once it is non-zero
    bool waited = false;  // a WAIT token was met outside strings
    bool any_line = false;
    unsigned last_number = 0;
    int header_got;
    // A terminal's echo is escaped byte by byte, and escape mode lists
    // bodies of its own way: both take the general path.
    bool records_fast = !escape_mode && (console == nullptr || !console_is_terminal);
    for (;;) {
        if (in_end - in_pos < in_window) keep_ahead(in_window);
        if (records_fast) {
            std::size_t from = in_pos;
            list_records_fast(alignment, waited, any_line, last_number);
            if (in_pos != from) continue;
        }
        unsigned link = 0, number = 0;
        if (!read_header(header_got, link, number)) break;
        if (block_size - dest_out.used < out_window) flush_block(dest_out, dest);
        std::size_t dest_flushed = dest_out.flushed;

        std::uint64_t field = number_field(number);
        std::memcpy(room_for(dest_out, dest, 8), &field, 8);
        dest_out.used += field_size;
        if (console != nullptr) {
            std::memcpy(room_for(console_out, console, 8), &field, 8);
            console_out.used += field_size;
        }

        Line l{};
        l.number = number;
        l.link = link;
        l.budget = alignment != 0 && !escape_mode ? space_budget(number) : 0;
        l.text_begin = dest_out.used;
        int c;
        int zeros = 0;
        while ((c = get_byte()) == 0) ++zeros;
        if (c != EOF && c == alignment_marker && number == 0) ++alignment;
        std::size_t body_base = in_base;
        l.body = in_block + (c == EOF ? in_pos : in_pos - 1);
        c = escape_mode ? list_escaped(c, number, waited, l.body_size) : list_body(c, l, waited);
        l.text_size = dest_out.flushed + dest_out.used - dest_flushed - l.text_begin;
        put_short(dest_out, dest, dest_line_end.bytes, dest_line_end.size);
        put_short(console_out, console, console_line_end.bytes, console_line_end.size);
        end_console_line();

        l.text_whole = dest_out.flushed == dest_flushed;
        l.body_whole = in_base == body_base && c != EOF;
        check_record(l, c, zeros);
        check_order(number, any_line, last_number);
    }
    finish_output();
    // Only a read that met the end of the file counts, not one that met a
    // read error, nor the reading ahead into a block past where the image
    // ended.
    bool met_end_of_file = in_ended && feof(source);
    bool last_link_zero = line[0] == 0 && line[1] == 0;
    int result = !met_end_of_file && !last_link_zero && waited ? 1 : 0;
    check_end(header_got, result);
    return result;
}

}  // namespace vbconv

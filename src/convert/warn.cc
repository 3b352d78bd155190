// Warnings and errors of one file: the forms, the caps and the counts.
#include "convert/warn.h"

#include <cstdarg>
#include <cstdio>

#include "convert/streams.h"

namespace vbconv {

std::FILE *warn_stream = stderr;

namespace {

constexpr int kind_count = static_cast<int>(Warn::count);

// What the "N more" line calls each kind.
constexpr const char *kind_title[] = {
    "bytes the text cannot hold",
    "line ends in a body",
    "listed lines longer than one read",
    "bytes that stand for no keyword",
    "bodies that start with white space",
    "text that reads back as a keyword",
    "keywords that read back merged with the text after them",
    "keywords in DATA or REM text",
    "bodies that would not tokenize back",
    "bodies longer than a record holds",
    "records with an empty body",
    "links that do not lead to the next record",
    "line numbers that do not ascend",
    "lead bytes",
    "images without end marker",
    "bytes after the end marker",
    "machine-language parts",
    "lines split by a read",
    "NUL bytes",
    "line numbers outside 0 to 65535",
    "bytes from $80 up outside strings",
    "links that wrap past $FFFF",
    "bytes plain text cannot hold",
    "bodies that cannot fit a record",
    "{$00} escapes",
};
static_assert(std::size(kind_title) == kind_count, "a title for every kind");

const char *file_name = "-";
int given[kind_count];  // warnings (or errors) of each kind so far
bool is_error[kind_count];
int errors;

// Counts one of `kind`; true when it is still to be written.
bool count(Warn kind) {
    int k = static_cast<int>(kind);
    return ++given[k] <= warn_cap;
}

// Writes the head of a line, after whatever the console holds so far, so
// that a terminal shows the echo and the warnings in the order they arose.
void begin_line() {
    flush_block(console_out, console);
    if (console != nullptr) std::fflush(console);
}

// Where in a file a line points.
enum class At { file, text_line, image_line };

// Writes the head of a line to `out` (room for `room` bytes) as snprintf
// does: the file, the line `line` of its text or of its image where `at`
// says so, and what the line is.
int write_head(char *out, std::size_t room, const char *what, At at, long line) {
    if (at == At::file) return std::snprintf(out, room, "%s: %s: ", file_name, what);
    if (at == At::image_line) return std::snprintf(out, room, "%s: line %ld: %s: ", file_name, line, what);
    return std::snprintf(out, room, "%s:%ld: %s: ", file_name, line, what);
}

// Writes a line of the head, then `format` and a line end, in one write
// where it fits the buffer: standard error is unbuffered, and would
// otherwise see three system calls a line.
void write_line(const char *what, At at, long line, const char *format, std::va_list args) {
    static char text[4096];
    std::va_list again;
    va_copy(again, args);
    int n = write_head(text, sizeof text, what, at, line);
    int m = n < 0 || static_cast<std::size_t>(n) >= sizeof text
                ? -1
                : std::vsnprintf(text + n, sizeof text - static_cast<std::size_t>(n), format, args);
    if (m >= 0 && static_cast<std::size_t>(n) + static_cast<std::size_t>(m) + 1 < sizeof text) {
        text[n + m] = '\n';
        std::fwrite(text, 1, static_cast<std::size_t>(n + m + 1), warn_stream);
    } else {
        // A name too long for the buffer: written in pieces.
        if (at == At::file)
            std::fprintf(warn_stream, "%s: %s: ", file_name, what);
        else if (at == At::image_line)
            std::fprintf(warn_stream, "%s: line %ld: %s: ", file_name, line, what);
        else
            std::fprintf(warn_stream, "%s:%ld: %s: ", file_name, line, what);
        std::vfprintf(warn_stream, format, again);
        std::fputc('\n', warn_stream);
    }
    va_end(again);
}

}  // namespace

void warnings_begin(const char *name) {
    file_name = name;
    for (int k = 0; k < kind_count; ++k) given[k] = 0, is_error[k] = false;
    errors = 0;
}

int warnings_end() {
    int total = 0;
    for (int k = 0; k < kind_count; ++k) {
        if (given[k] > warn_cap) {
            begin_line();
            std::fprintf(warn_stream, "%s: %s: %d more not shown: %s\n", file_name, is_error[k] ? "error" : "warning",
                         given[k] - warn_cap, kind_title[k]);
        }
        if (!is_error[k]) total += given[k];
    }
    std::fflush(warn_stream);
    return total;
}

int file_errors() { return errors; }

void warn_text(Warn kind, long line, const char *format, ...) {
    if (!count(kind)) return;
    begin_line();
    std::va_list args;
    va_start(args, format);
    write_line("warning", At::text_line, line, format, args);
    va_end(args);
}

void warn_line(Warn kind, unsigned number, const char *format, ...) {
    if (!count(kind)) return;
    begin_line();
    std::va_list args;
    va_start(args, format);
    write_line("warning", At::image_line, static_cast<long>(number), format, args);
    va_end(args);
}

void warn_file(Warn kind, const char *format, ...) {
    if (!count(kind)) return;
    begin_line();
    std::va_list args;
    va_start(args, format);
    write_line("warning", At::file, 0, format, args);
    va_end(args);
}

void error_text(Warn kind, long line, const char *format, ...) {
    ++errors;
    is_error[static_cast<int>(kind)] = true;
    if (!count(kind)) return;
    begin_line();
    std::va_list args;
    va_start(args, format);
    write_line("error", At::text_line, line, format, args);
    va_end(args);
}

const char *sample_text(const ByteSample &s, char *out) {
    constexpr char hex[] = "0123456789ABCDEF";
    char *p = out;
    for (int i = 0; i < s.count && i < 4; ++i) {
        if (i > 0) *p++ = ' ';
        *p++ = '$';
        *p++ = hex[s.first[i] >> 4];
        *p++ = hex[s.first[i] & 15];
    }
    if (s.count > 4) *p++ = ' ', *p++ = '.', *p++ = '.', *p++ = '.';
    *p = 0;
    return out;
}

}  // namespace vbconv

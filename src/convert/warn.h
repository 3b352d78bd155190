// Warnings and errors of one file, on their own stream, in the forms that
// editors and build tools read:
//
//   NAME:L: warning: MESSAGE          text input, L the 1-based text line
//   NAME: line N: warning: MESSAGE    image input, N the BASIC line number
//   NAME: warning: MESSAGE            where no line applies
//   NAME:L: error: MESSAGE            text input the converter could not convert
//
// Only the first warn_cap warnings of each kind are written; at the end of
// the file one line per kind counts the rest.  Warnings change nothing that
// the conversion writes.
#pragma once

#include <cstdio>

// Checks a function's printf format and arguments.  MinGW's C99 printf,
// which the Windows build uses, is checked as the GNU one.
#ifdef __MINGW32__
#define VBCONV_PRINTF(string, first) __attribute__((format(gnu_printf, string, first)))
#else
#define VBCONV_PRINTF(string, first) __attribute__((format(printf, string, first)))
#endif

namespace vbconv {

extern std::FILE *warn_stream;  // where warnings and errors go: standard error unless pointed elsewhere

inline constexpr int warn_cap = 10;  // warnings of one kind written per file; the rest are only counted

// Starts the warnings of the file `name` (kept, not copied, until
// warnings_end): counts back to zero.  Call it before each conversion.
void warnings_begin(const char *name);

// Ends the file's warnings: writes "N more" lines for the kinds that passed
// warn_cap, and returns how many warnings the file gave, errors not included.
int warnings_end();

// Errors the current file met.  A conversion with any failed: its output is
// incomplete and is to be discarded.
int file_errors();

// What went wrong, one kind per cause, each with its own cap.
enum class Warn : unsigned char {
    // listing an image: losses within a line
    dropped,         // bytes the text cannot hold
    line_break,      // CR or LF in a body
    too_long,        // listed line longer than one read of the tokenizer
    unknown_token,   // bytes F6 to FF outside strings
    leading_space,   // a body that starts with white space
    keyword_text,    // text that reads back as a keyword
    keyword_merge,   // a keyword that reads back merged with the text after it
    literal_token,   // a keyword inside DATA or REM text
    other_change,    // any other body that would not tokenize back
    record_too_big,  // a body longer than any record the tokenizer writes
    // listing an image: its structure
    empty_body,     // a record whose terminator follows its header
    bad_link,       // a link that does not lead to the next record
    not_ascending,  // line numbers that do not strictly ascend (both directions)
    lead_byte,      // lead byte 01
    no_end_marker,  // the image ends before its end marker
    after_end,      // bytes after the end marker
    machine_part,   // a machine-language part after the program
    // tokenizing a text
    split,         // a line longer than one read
    nul_byte,      // a NUL byte ending a line early
    number_range,  // a line number outside 0 to 65535
    high_byte,     // a byte of 0x80 and up outside strings
    wrap,          // the program passes the top of the address space
    // a .bas file that is not an image
    plain_dropped,  // bytes plain text cannot hold
    // errors of the escape tokenizer
    body_overflow,  // a line whose body cannot fit a record
    zero_escape,    // {$00}
    count
};

// NAME:L: warning: ... for text line `line`.
void warn_text(Warn kind, long line, const char *format, ...) VBCONV_PRINTF(3, 4);

// NAME: line N: warning: ... for BASIC line `number`.
void warn_line(Warn kind, unsigned number, const char *format, ...) VBCONV_PRINTF(3, 4);

// NAME: warning: ... where no line applies.
void warn_file(Warn kind, const char *format, ...) VBCONV_PRINTF(2, 3);

// NAME:L: error: ... for text line `line`; counts toward file_errors().
void error_text(Warn kind, long line, const char *format, ...) VBCONV_PRINTF(3, 4);

// The bytes a warning is about: how many, and the first few as examples.
struct ByteSample {
    int count;
    unsigned char first[4];
};

inline void note_byte(ByteSample &s, unsigned char c) {
    if (s.count < 4) s.first[s.count] = c;
    ++s.count;
}

// The sample as "$07 $0D $1B $7F", with " ..." when there were more, in
// `out` (room for 24 bytes); returns `out`.
const char *sample_text(const ByteSample &s, char *out);

}  // namespace vbconv

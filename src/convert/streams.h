// The streams the converters work on: source read, and dest and console
// written, through static blocks that stdio moves whole.  Whoever runs a
// converter opens the streams and points these at them; the converters
// neither open nor close anything.
//
// The converters take their input a byte at a time and write their output a
// few bytes at a time.  Through stdio each of those calls costs dozens of
// instructions even unlocked, several times what the conversion itself costs
// per byte.  Here a byte costs a compare and a copy, and stdio sees one fread
// or fwrite per block.  What the streams receive, and in which order, stays
// the same: a converter starts with start_input() and ends with
// finish_output(), so the driver's own reads and writes on the same streams
// (the lead byte, the machine-language notice, the console messages) come
// before and after a converter's, as they always did.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace vbconv {

extern std::FILE *source;   // input of the current conversion, read in binary
extern std::FILE *dest;     // output of the current conversion, written in binary; null: the output is discarded
extern std::FILE *console;  // where the converters echo their work: standard output by default; null: no echo

// The system's reason for the first failed read of source in the current
// conversion, taken from the failing call itself (0: none).  A reason read
// from errno later could belong to some other, unrelated call.
extern int source_error;

inline constexpr std::size_t block_size = std::size_t{1} << 16;  // bytes moved by one fread or fwrite

// Reading source.  The bytes read ahead but not yet taken are
// in_block[in_pos] to in_block[in_end - 1].  One byte more is there, so
// that a look at the byte after the last one read ahead stays in bounds.
extern unsigned char in_block[block_size + 1];
extern std::size_t in_pos;
extern std::size_t in_end;
extern bool in_ended;        // a read met the end of source or a read error; later reads meet it too
extern std::size_t in_base;  // offset in source, since start_input(), of in_block[0]

// Forgets anything read ahead from an earlier source.  Every converter calls
// it first.
void start_input();

// Reads the next block of source into in_block.  Returns false, and sets
// in_ended, when nothing more could be read.
bool refill_input();

// Makes at least `n` bytes (n below block_size) readable from in_pos on
// without a refill, or all that is left of source when fewer are, by moving
// what is read ahead to the front of in_block and reading more behind it.
// Unlike a refill it never sets in_ended: the end is met where a read needs
// a byte that is not there, as before.
void keep_ahead(std::size_t n);

// The next byte of source, taken; EOF at its end.
inline int get_byte() {
    if (in_pos == in_end && !refill_input()) return EOF;
    return in_block[in_pos++];
}

// The next byte of source, left to be taken; EOF at its end.  Like a getc
// that meets the end, a peek at the end sets in_ended.
inline int peek_byte() {
    if (in_pos == in_end && !refill_input()) return EOF;
    return in_block[in_pos];
}

// Writing dest and console: bytes wait in a block until it is full or the
// converter finishes.
struct OutBlock {
    std::size_t used;     // bytes waiting in data
    std::size_t flushed;  // bytes handed on before them, so flushed + used is the offset of the next byte
    int error;            // the reason the first failed write of the stream gave, from that call (0: none)
    unsigned char data[block_size];
};
extern OutBlock dest_out;     // on its way to dest
extern OutBlock console_out;  // on its way to console

// Set by the driver when the console is a terminal.  Its block then goes out
// at every line end, so that a person watching sees each line as it is done,
// and the bytes of a program that the echo would write raw are shown as
// {$hh} instead: a program's bytes must not be able to drive the terminal
// (retitle it, clear it, forge text on it).
extern bool console_is_terminal;

// Hands the waiting bytes of `out` to `stream`.
void flush_block(OutBlock &out, std::FILE *stream);

inline void put_dest(int c) {
    if (dest_out.used == block_size) flush_block(dest_out, dest);
    dest_out.data[dest_out.used++] = static_cast<unsigned char>(c);
}

inline void put_console(int c) {
    if (console_out.used == block_size) flush_block(console_out, console);
    console_out.data[console_out.used++] = static_cast<unsigned char>(c);
}

// Where the next `n` bytes of `out` go (n at most block_size), once the
// waiting bytes have been handed to `stream` if fewer than `n` would fit.
// The caller writes them there and adds their number to out.used.  Asking
// for a little more room than is written lets short strings be copied in
// one fixed-size move.
inline unsigned char *room_for(OutBlock &out, std::FILE *stream, std::size_t n) {
    if (block_size - out.used < n) flush_block(out, stream);
    return out.data + out.used;
}

// Appends `n` bytes to `out`, handing it to `stream` whenever it fills up.
void write_block(OutBlock &out, std::FILE *stream, const void *bytes, std::size_t n);

// Writes byte `c` of the program to the console: raw, or as {$hh} on a
// terminal when it is not printable.
void echo_escaped(int c);
inline void echo_byte(int c) {
    if (console_is_terminal && (c < 0x20 || c > 0x7E))
        echo_escaped(c);
    else
        put_console(c);
}

inline void write_dest(std::string_view s) { write_block(dest_out, dest, s.data(), s.size()); }
inline void write_console(std::string_view s) { write_block(console_out, console, s.data(), s.size()); }

// Ends a line of console output.
inline void end_console_line() {
    if (console_is_terminal) flush_block(console_out, console);
}

// Hands everything still waiting to dest and console.  Every converter calls
// it last.
void finish_output();

}  // namespace vbconv

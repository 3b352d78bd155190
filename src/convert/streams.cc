// Static blocks between the converters and the streams.
#include "convert/streams.h"

#include <cerrno>
#include <cstring>

namespace vbconv {

std::FILE *source;
std::FILE *dest;
std::FILE *console = stdout;
int source_error = 0;

unsigned char in_block[block_size + 1];
std::size_t in_pos = 0;
std::size_t in_end = 0;
bool in_ended = false;
std::size_t in_base = 0;

OutBlock dest_out;
OutBlock console_out;
bool console_is_terminal = false;

void start_input() {
    in_pos = in_end = 0;
    in_ended = false;
    in_base = 0;
}

bool refill_input() {
    // The end of input stays the end, as it does for getc, even should the
    // file grow meanwhile.  A read that met it is not made again: stdio
    // would ask the system once more.
    if (in_ended || std::feof(source)) {
        in_ended = true;
        return false;
    }
    errno = 0;
    std::size_t got = std::fread(in_block, 1, block_size, source);
    if (got == 0) {
        in_ended = true;  // what was read before stays where it was
        if (std::ferror(source) && source_error == 0) source_error = errno;
        return false;
    }
    in_base += in_end;
    in_pos = 0;
    in_end = got;
    return true;
}

void keep_ahead(std::size_t n) {
    std::size_t ahead = in_end - in_pos;
    if (ahead >= n || in_ended || std::feof(source)) return;
    std::memmove(in_block, in_block + in_pos, ahead);
    in_base += in_pos;
    in_pos = 0;
    in_end = ahead;
    // A short count may be a pipe that has more to come; the next refill asks again.
    errno = 0;
    in_end += std::fread(in_block + ahead, 1, block_size - ahead, source);
    if (std::ferror(source) && source_error == 0) source_error = errno;
}

void flush_block(OutBlock &out, std::FILE *stream) {
    // A failed write leaves the stream's error indicator set, and its reason
    // here; the driver reports it when it closes dest or flushes the console.
    if (out.used != 0 && stream != nullptr) {
        errno = 0;
        if (std::fwrite(out.data, 1, out.used, stream) != out.used && out.error == 0) out.error = errno;
    }
    out.flushed += out.used;
    out.used = 0;
}

void write_block(OutBlock &out, std::FILE *stream, const void *bytes, std::size_t n) {
    const auto *from = static_cast<const unsigned char *>(bytes);
    while (n > block_size - out.used) {
        std::size_t room = block_size - out.used;
        std::memcpy(out.data + out.used, from, room);
        out.used = block_size;
        flush_block(out, stream);
        from += room;
        n -= room;
    }
    std::memcpy(out.data + out.used, from, n);
    out.used += n;
}

void echo_escaped(int c) {
    static constexpr char hex[] = "0123456789ABCDEF";
    char *to = reinterpret_cast<char *>(room_for(console_out, console, 5));
    to[0] = '{';
    to[1] = '$';
    to[2] = hex[c >> 4 & 0xF];
    to[3] = hex[c & 0xF];
    to[4] = '}';
    console_out.used += 5;
}

void finish_output() {
    flush_block(dest_out, dest);
    flush_block(console_out, console);
}

}  // namespace vbconv

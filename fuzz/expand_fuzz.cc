// Fuzz target for the lister.  The input is a ".bas" file; its first byte
// stands for the lead byte, which the driver consumes before listing, and
// the rest is listed whatever it holds.  Each record read must come out as
// one listing line ending in CR LF and one echo line ending in " [CR]" CR LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/expand.h"
#include "convert/format.h"
#include "dialect/keyword.h"
#include "harness.h"

using vbfuzz::byte_at;
using vbfuzz::require;

namespace {

constexpr unsigned wait_token = 0x80 + vbconv::kw_wait;

struct Record {
    unsigned number;
    bool body_has_cr;  // a raw CR in the body reaches the echo
};

struct Walk {
    std::vector<Record> records;
    bool machine_code = false;  // stopped on a link of 01 to FF: high byte zero, low byte not
    bool wait_byte = false;     // some body holds the WAIT token's byte
};

// The records the lister reads, in file order: a link whose high byte is
// not zero, a line number, then a body up to a zero byte or the end; zero
// bytes before a body are skipped.
Walk walk(std::string_view in) {
    Walk w;
    std::size_t at = 0;
    while (at + 2 <= in.size() && in[at + 1] != 0 && at + 4 <= in.size()) {
        Record r{byte_at(in, at + 2) | byte_at(in, at + 3) << 8, false};
        at += 4;
        while (at < in.size() && in[at] == 0) ++at;
        for (; at < in.size() && in[at] != 0; ++at) {
            r.body_has_cr |= in[at] == '\r';
            w.wait_byte |= byte_at(in, at) == wait_token;
        }
        if (at < in.size()) ++at;  // the terminator
        w.records.push_back(r);
    }
    w.machine_code = at + 2 <= in.size() && in[at + 1] == 0 && in[at] != 0;
    return w;
}

std::string number_field(unsigned number) {
    char field[16];
    int len = vbconv::format_5d(field, static_cast<std::int32_t>(number));
    return std::string(field, static_cast<std::size_t>(len)) + ' ';
}

// The listing: one line per record, "%5d " and its number, then printable
// bytes and line feeds only, then CR LF.
void check_listing(std::string_view listing, const std::vector<Record> &records) {
    for (const Record &r : records) {
        std::string field = number_field(r.number);
        require(listing.substr(0, field.size()) == field, "a listing line starts with its number as \"%5d \"");
        std::size_t end = listing.find('\r');
        require(end != std::string_view::npos && end + 1 < listing.size() && listing[end + 1] == '\n',
                "every listing line ends in CR LF");
        for (unsigned char c : listing.substr(field.size(), end - field.size()))
            require((c >= 0x20 && c <= 0x7E) || c == '\n', "a listing holds printable bytes and line feeds only");
        listing.remove_prefix(end + 2);
    }
    require(listing.empty(), "the listing holds one line per record and nothing more");
}

// The echo: each line starts with the number and ends in " [CR]" CR LF.  Its
// body bytes are raw, so lines can be told apart only where no body holds CR.
void check_echo(std::string_view echo, const std::vector<Record> &records) {
    constexpr std::string_view end_mark = " [CR]\r\n";
    if (records.empty()) {
        require(echo.empty(), "no record, no echo");
        return;
    }
    require(echo.size() >= end_mark.size() && echo.substr(echo.size() - end_mark.size()) == end_mark,
            "the echo ends in \" [CR]\" CR LF");
    for (const Record &r : records) {
        std::string field = number_field(r.number);
        require(echo.substr(0, field.size()) == field, "an echo line starts with its number as \"%5d \"");
        if (r.body_has_cr) return;
        std::size_t cr = echo.find('\r');
        require(cr != std::string_view::npos && cr + 2 <= echo.size() && cr >= 5 &&
                    echo.substr(cr - 5, end_mark.size()) == end_mark,
                "every echo line ends in \" [CR]\" CR LF");
        echo.remove_prefix(cr + 2);
    }
    require(echo.empty(), "the echo holds one line per record and nothing more");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view file(reinterpret_cast<const char *>(data), size);
    std::string_view image = file.substr(size > 0 ? 1 : 0);
    vbfuzz::Output out = vbfuzz::run(image, [] { return vbconv::p_expand(); });
    Walk w = walk(image);
    check_listing(out.dest, w.records);
    check_echo(out.console, w.records);
    require(out.result == 0 || out.result == 1, "the lister returns 0 or 1");
    if (out.result == 1)
        require(w.machine_code && w.wait_byte,
                "the notice is asked for only after a link of 01 to FF in a program that holds WAIT");
    return 0;
}

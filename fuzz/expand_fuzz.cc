// Fuzz target for the lister.  The input is a ".bas" file; its first byte
// stands for the lead byte, which the driver consumes before listing, and
// the rest is listed whatever it holds.  Each record read must come out as
// one listing line ending in CR LF and one echo line ending in " [CR]" CR LF.
// The lister must know whether its listing tokenizes back into the input.
// And with escapes, every canonical image must come back byte for byte: the
// input when it is one, and always the image built of the input's bytes
// taken as bodies.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/escape.h"
#include "convert/expand.h"
#include "convert/format.h"
#include "convert/tokenize.h"
#include "dialect/image.h"
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

vbfuzz::Output tokenize(std::string_view text) {
    return vbfuzz::run(text, [] {
        vbconv::p_tokenize(vbconv::load_address);
        return 0;
    });
}

// Canonical: lead byte 00, records chained from the load address with bodies
// of 1 to 254 bytes without 00, the end marker and nothing after it, all of
// it below 64 KB.
bool canonical(std::string_view file) {
    if (file.size() < 3 || file.size() > 0x10000 - vbconv::load_address || file[0] != 0) return false;
    unsigned address = vbconv::load_address;
    std::size_t at = 1;
    while (at + 2 < file.size()) {
        std::size_t end = file.find('\0', at + 4);
        if (at + 4 >= file.size() || end == std::string_view::npos) return false;
        std::size_t body = end - at - 4;
        if (body < 1 || body > static_cast<std::size_t>(vbconv::max_body)) return false;
        address = vbconv::next_address(address, static_cast<unsigned>(body));
        if ((byte_at(file, at) | byte_at(file, at + 1) << 8) != address) return false;
        at = end + 1;
    }
    return at + 2 == file.size() && file[at] == 0 && file[at + 1] == 0;
}

// A canonical image of the input's bytes: its runs without 00, cut to bodies
// of at most 254 bytes, numbered 0, 1, 2, ... while they fit below 64 KB.
std::string canonical_of(std::string_view in) {
    std::string img(1, '\0');
    unsigned address = vbconv::load_address, number = 0;
    for (std::size_t at = 0; at < in.size();) {
        std::size_t end = std::min(in.find('\0', at), in.size());
        std::size_t size = std::min<std::size_t>(end - at, vbconv::max_body);
        if (size == 0) {
            ++at;
            continue;
        }
        if (address + size + 5 + 2 > 0x10000) break;
        address = vbconv::next_address(address, static_cast<unsigned>(size));
        img += static_cast<char>(address & 0xFF);
        img += static_cast<char>(address >> 8);
        img += static_cast<char>(number & 0xFF);
        img += static_cast<char>(number >> 8);
        img.append(in.substr(at, size));
        img += '\0';
        ++number;
        at += size;
    }
    return img + std::string(2, '\0');
}

// Listing with escapes and tokenizing that with escapes gives `img` back.
void check_escaped_round_trip(const std::string &img) {
    vbconv::escape_mode = true;
    vbconv::image_lead = vbconv::lead_byte;
    vbfuzz::Output listing = vbfuzz::run(std::string_view(img).substr(1), [] { return vbconv::p_expand(); });
    bool said = vbconv::image_comes_back;
    vbfuzz::Output back = tokenize(listing.dest);
    vbconv::escape_mode = false;
    require(said, "the escape lister says a canonical image comes back");
    require(back.errors == 0, "an escaped listing of a canonical image tokenizes without error");
    require(back.dest == img, "an escaped listing of a canonical image tokenizes back into it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view file(reinterpret_cast<const char *>(data), size);
    std::string_view image = file.substr(size > 0 ? 1 : 0);
    vbconv::image_lead = size > 0 ? data[0] : EOF;  // as the driver tells it
    vbfuzz::Output out = vbfuzz::run(image, [] { return vbconv::p_expand(); });
    Walk w = walk(image);
    check_listing(out.dest, w.records);
    check_echo(out.console, w.records);
    require(out.result == 0 || out.result == 1, "the lister returns 0 or 1");
    if (out.result == 1)
        require(w.machine_code && w.wait_byte,
                "the notice is asked for only after a link of 01 to FF in a program that holds WAIT");

    // What the lister says of its listing is what tokenizing it gives.
    bool said = vbconv::image_comes_back;
    std::string listing = out.dest;
    if (out.result == 1) listing += "\r\n*** Machine language part skipped. ***\r\n";  // as the driver adds it
    std::string again = tokenize(listing).dest;
    if (size == 0 || data[0] <= 1)  // what the driver takes for an image
        require(said == (again == file), "the lister knows whether its listing tokenizes back into the image");

    if (canonical(file)) check_escaped_round_trip(std::string(file));
    check_escaped_round_trip(canonical_of(file));
    return 0;
}

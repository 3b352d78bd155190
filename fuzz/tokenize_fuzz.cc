// Fuzz target for the tokenizer.  The input is a text listing.  The image
// made of it must be well formed, and the trace must tell the same lines.
// Then the round trip: the image of a text that a listing holds unchanged
// (the input itself, or else the input less the bytes a listing drops) must
// come back as the same image after a listing and a second tokenization.
// With escapes, any image a text gives without error, while it fits in 64 KB,
// comes back the same after an escaped listing and tokenization.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/escape.h"
#include "convert/expand.h"
#include "convert/tokenize.h"
#include "dialect/image.h"
#include "harness.h"

using vbfuzz::byte_at;
using vbfuzz::require;

namespace {

// The longest listing line (line end not counted) that one read of the
// tokenizer takes whole, together with its CR LF.
constexpr std::size_t longest_listing_line = 253;

struct Record {
    unsigned link;
    unsigned number;
    std::string_view body;
};

bool is_space(unsigned c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

vbfuzz::Output tokenize(std::string_view text) {
    return vbfuzz::run(text, [] {
        vbconv::p_tokenize(vbconv::load_address);
        return 0;
    });
}

// Walks the image by its links: lead byte, records chained from the load
// address, end marker.  Returns the records.
std::vector<Record> check_image(std::string_view img) {
    require(img.size() >= 3 && img[0] == 0, "the image starts with the lead byte 00");
    std::vector<Record> records;
    unsigned address = vbconv::load_address;
    std::size_t at = 1;
    for (;;) {
        require(at + 2 <= img.size(), "the image ends in the end marker");
        if (at + 2 == img.size()) {
            require(img[at] == 0 && img[at + 1] == 0, "the image ends in the end marker 00 00");
            return records;
        }
        require(at + 4 < img.size(), "a record has a link, a line number and a body");
        std::size_t end = img.find('\0', at + 4);
        require(end != std::string_view::npos && end + 2 < img.size(),
                "a record's body ends in 00 before the end marker");
        std::string_view body = img.substr(at + 4, end - at - 4);
        require(!body.empty(), "no record has an empty body");
        require(!is_space(byte_at(body, 0)), "no body begins with white space");
        require(body.find_first_of("\r\n") == std::string_view::npos, "no body holds 0x0A or 0x0D");
        address = vbconv::next_address(address, static_cast<unsigned>(body.size()));
        unsigned link = byte_at(img, at) | byte_at(img, at + 1) << 8;
        require(link == address, "each link is the previous address + body length + 5, kept to 16 bits");
        records.push_back({link, byte_at(img, at + 2) | byte_at(img, at + 3) << 8, body});
        at = end + 1;
    }
}

// Every trace line reads "[number] body [NULL]"; those with a body are the
// records, in order, with the number kept to 16 bits.
void check_trace(std::string_view trace, const std::vector<Record> &records) {
    std::size_t next = 0;
    while (!trace.empty()) {
        std::size_t eol = trace.find('\n');
        require(eol != std::string_view::npos, "every trace line ends in a line feed");
        std::string_view line = trace.substr(0, eol);
        trace.remove_prefix(eol + 1);

        std::size_t close = line.find("] ");
        constexpr std::string_view tail = " [NULL]";
        require(line.size() >= 1 + 5 + 2 + tail.size() && line[0] == '[' && close != std::string_view::npos &&
                    close >= 6 && line.substr(line.size() - tail.size()) == tail,
                "a trace line reads \"[%5d] body [NULL]\"");
        std::string_view body = line.substr(close + 2, line.size() - tail.size() - close - 2);
        if (body.empty()) continue;
        require(next < records.size(), "each traced body has its record");
        require(body == records[next].body, "the trace shows the record's body");
        std::string field(line.substr(1, close - 1));
        require((static_cast<unsigned>(std::stol(field)) & 0xFFFF) == records[next].number,
                "the trace shows the record's line number");
        ++next;
    }
    require(next == records.size(), "each record has its trace line");
}

// True for the bytes a listing carries over unchanged, line ends included:
// no other control byte, and nothing from 0x80 up.
bool listable(unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n'; }

bool listable(std::string_view text) {
    for (unsigned char c : text)
        if (!listable(c)) return false;
    return true;
}

// `text` without the bytes a listing would drop or change.
std::string listable_part(std::string_view text) {
    std::string out;
    for (unsigned char c : text)
        if (listable(c)) out.push_back(static_cast<char>(c));
    return out;
}

// Image -> listing -> image gives the first image again, for the image of a
// listable text, as long as every listing line fits one read of the tokenizer
// and the image fits the address space: a program so long that a link wraps
// to below 0x0100 is cut short there by the lister, which takes a link with
// a zero high byte for the end of the program.
void check_round_trip(const std::string &img) {
    for (const Record &r : check_image(img))
        if (vbconv::ends_program(static_cast<unsigned char>(r.link >> 8))) return;
    vbfuzz::Output listing = vbfuzz::run(std::string_view(img).substr(1), [] { return vbconv::p_expand(); });
    std::string_view rest = listing.dest;
    while (!rest.empty()) {
        std::size_t eol = rest.find("\r\n");
        require(eol != std::string_view::npos, "every listing line ends in CR LF");
        if (eol > longest_listing_line) return;  // would be split on the way back: not comparable
        rest.remove_prefix(eol + 2);
    }
    require(listing.result == 0, "a tokenized image never asks for the machine-language notice");
    std::string again = tokenize(listing.dest).dest;
    require(again == img, "a listing tokenizes back into the image it was made from");
}

void check_escaped(std::string_view text) {
    vbconv::escape_mode = true;
    vbfuzz::Output first = tokenize(text);
    if (first.errors == 0 && first.dest.size() + vbconv::load_address <= 0x10000) {
        vbconv::image_lead = vbconv::lead_byte;
        vbfuzz::Output listing = vbfuzz::run(std::string_view(first.dest).substr(1), [] { return vbconv::p_expand(); });
        require(vbconv::image_comes_back, "the escape lister says the image of a text comes back");
        vbfuzz::Output again = tokenize(listing.dest);
        require(again.errors == 0 && again.dest == first.dest,
                "an escaped listing tokenizes back into the image it was made from");
    }
    vbconv::escape_mode = false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    vbfuzz::Output out = tokenize(text);
    std::vector<Record> records = check_image(out.dest);
    check_trace(out.console, records);

    if (listable(text)) {
        check_round_trip(out.dest);
    } else {
        std::string part = listable_part(text);
        check_round_trip(tokenize(part).dest);
    }
    check_escaped(text);
    return 0;
}

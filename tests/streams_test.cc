// The converters read their input and write their outputs in blocks; a line,
// a record, a CR LF pair or the closing link that falls across the edge of a
// block must come out as it does anywhere else.  The expected bytes here are
// built by hand, not by the converters.
#include "convert/streams.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "convert/filter.h"
#include "support.h"

using vbconv::block_size;
using vbtest::bytes;
using vbtest::image;
using vbtest::tok;

namespace {

using Records = std::vector<std::pair<unsigned, std::string>>;

std::string number_5d(unsigned n) {
    char s[16];
    std::snprintf(s, sizeof s, "%5u", n);
    return s;
}

// Records numbered from 1 whose bytes (headers, bodies, terminators) add up
// to exactly `size`, the last one's body holding a WAIT.
Records records_of_size(std::size_t size) {
    Records records;
    std::size_t left = size;
    while (left > 260) {
        records.emplace_back(static_cast<unsigned>(records.size() + 1), std::string(10, 'A'));
        left -= 15;
    }
    records.emplace_back(static_cast<unsigned>(records.size() + 1), tok("WAIT") + std::string(left - 6, '1'));
    return records;
}

// The records of an image longer than the address space, as the lister
// reads them: without lead byte or end marker, and with links that never
// wrap below 0x0100 (they all point at 0x0101; the lister does not follow
// them).
std::string bare(const Records &records) {
    std::string img;
    for (const auto &[line, body] : records) img += bytes({0x01, 0x01, int(line & 0xFF), int(line >> 8)}) + body + '\0';
    return img;
}

}  // namespace

TEST(Blocks, TokenizerLinesAcrossInputBlocks) {
    std::string text, trace;
    Records records;
    unsigned number = 10;
    auto line = [&](const std::string &body, const std::string &end) {
        text += body + end;
        trace += "[" + number_5d(number) + "] " + body + " [NULL]\n";
        records.emplace_back(number, body);
        number += 10;
    };
    const std::string xs(99, 'X');
    while (text.size() < block_size - 140) line(xs, "\n");
    line(std::string(block_size - 1 - text.size(), 'Y'), "\r\n");  // CR ends one block, LF starts the next
    ASSERT_EQ(text.size(), block_size + 1);
    while (text.size() < 2 * block_size - 140) line(xs, "\n");
    // 300 bytes across the next edge: still read as 254 and then the rest.
    text += std::string(300, 'W') + "\n";
    trace += "[" + number_5d(number) + "] " + std::string(254, 'W') + " [NULL]\n";
    trace += "[" + number_5d(number + 10) + "] " + std::string(46, 'W') + " [NULL]\n";
    records.emplace_back(number, std::string(254, 'W'));
    records.emplace_back(number + 10, std::string(46, 'W'));
    number += 20;
    line("Z", "\n");

    vbtest::Converted c = vbtest::tokenize(text);
    EXPECT_EQ(c.dest, image(records));
    EXPECT_EQ(c.console, trace);
}

TEST(Blocks, ListerRecordsAcrossInputBlocks) {
    const std::string body = tok("PRINT") + std::string(" \"ABCDEF\"");  // 15 bytes a record
    // Shifting the first record moves every later one across the block edge
    // by one byte, until each byte of a record has sat at the edge.
    for (std::size_t shift = 0; shift < 15; ++shift) {
        Records records = {{1, std::string(1 + shift, 'S')}};
        std::string listing = "    1 " + std::string(1 + shift, 'S') + "\r\n";
        std::string echo = "    1 " + std::string(1 + shift, 'S') + " [CR]\r\n";
        for (unsigned n = 2; records.size() * 15 < block_size + 60; ++n) {
            records.emplace_back(n, body);
            listing += number_5d(n) + " PRINT \"ABCDEF\"\r\n";
            echo += number_5d(n) + " PRINT \"ABCDEF\" [CR]\r\n";
        }
        vbtest::Converted c = vbtest::expand(bare(records) + bytes({0x00, 0x00}));
        EXPECT_EQ(c.dest, listing) << "shift " << shift;
        EXPECT_EQ(c.console, echo) << "shift " << shift;
        EXPECT_EQ(c.result, 0) << "shift " << shift;
    }
}

TEST(Blocks, ClosingLinkAtTheEdgeOfABlock) {
    // The image fills its input blocks exactly and ends in a link below
    // 0x0100: the lister stops there without having met the end of the file.
    std::string prog = bare(records_of_size(block_size - 2));
    EXPECT_EQ(vbtest::expand(prog + bytes({0x34, 0x00})).result, 1);
    EXPECT_EQ(vbtest::expand(prog + bytes({0x34, 0x00, 0x60})).result, 1);
    prog = bare(records_of_size(2 * block_size - 1));  // the link straddles the edge
    EXPECT_EQ(vbtest::expand(prog + bytes({0x34, 0x00})).result, 1);
    EXPECT_EQ(vbtest::expand(prog + bytes({0x34})).result, 0);  // cut in the link
    prog = bare(records_of_size(block_size - 1));
    EXPECT_EQ(vbtest::expand(prog + bytes({0x34})).result, 0);  // cut in the link, at the edge
}

TEST(Blocks, FilterAcrossInputBlocks) {
    std::string input, expected;
    for (std::size_t i = 0; input.size() < 2 * block_size + 100; ++i) {
        int c = static_cast<int>(i * 7 % 256);
        input.push_back(static_cast<char>(c));
        if (c == 0x00 || c == 0x0A || c == 0x0D)
            expected.push_back('\n');
        else if (c >= 0x20 && c <= 0x7E)
            expected.push_back(static_cast<char>(c));
    }
    vbtest::Converted c = vbtest::convert(input, [] {
        vbconv::pet_2_asc();
        return 0;
    });
    EXPECT_EQ(c.dest, expected);
}

#include "convert/expand.h"

#include <gtest/gtest.h>

#include "support.h"

using vbtest::bytes;
using vbtest::expand;
using vbtest::image;
using vbtest::tok;

namespace {

// The image without its lead byte, as the lister sees it.
std::string body_of(const std::string &img) { return img.substr(1); }

// The records of an image without the end marker, so a test can close it as it likes.
std::string records_of(const std::vector<std::pair<unsigned, std::string>> &records) {
    std::string img = body_of(image(records));
    return img.substr(0, img.size() - 2);
}

}  // namespace

TEST(Detokenizer, ListsOneLineAndEchoesIt) {
    std::string img = image({{10, tok("PRINT") + std::string(" \"HI\"")}});
    ASSERT_EQ(img, bytes({0x00, 0x0C, 0x08, 0x0A, 0x00, 0xA8, 0x20, 0x22, 0x48, 0x49, 0x22, 0x00, 0x00, 0x00}));
    vbtest::Converted c = expand(body_of(img));
    EXPECT_EQ(c.dest, "   10 PRINT \"HI\"\r\n");
    EXPECT_EQ(c.console, "   10 PRINT \"HI\" [CR]\r\n");
    EXPECT_EQ(c.result, 0);
}

TEST(Detokenizer, NumbersAreRightAlignedOverTheWholeRange) {
    vbtest::Converted c = expand(body_of(image({{0, "A"}, {7, "B"}, {12345, "C"}, {65535, "D"}})));
    EXPECT_EQ(c.dest, "    0 A\r\n    7 B\r\n12345 C\r\n65535 D\r\n");
}

TEST(Detokenizer, ControlBytesAreFilteredButEchoedRaw) {
    vbtest::Converted c = expand(body_of(image({{1, bytes({'A', 0x0D, 'B', 0x07, 'C'})}})));
    EXPECT_EQ(c.dest, "    1 A\nBC\r\n");
    EXPECT_EQ(c.console, "    1 A\rB\aC [CR]\r\n");
}

TEST(Detokenizer, TokenBytesInsideStringsAreCharacters) {
    std::string body = tok("PRINT") + bytes({'"', 0xA8, 0x9E, '"', 0xA8});
    vbtest::Converted c = expand(body_of(image({{1, body}})));
    EXPECT_EQ(c.dest, "    1 PRINT\"\"PRINT\r\n");
    EXPECT_EQ(c.console, "    1 PRINT\"" + bytes({0xA8, 0x9E}) + "\"PRINT [CR]\r\n");
}

TEST(Detokenizer, BytesWithoutKeywordGetAMarker) {
    vbtest::Converted c = expand(body_of(image({{1, bytes({0xF5, 0xF6, 0xFA, 0xFE, 'X'})}})));
    EXPECT_EQ(c.dest, "    1 BORDER{$F6}{$FA}{$FE}X\r\n");
    EXPECT_EQ(c.console, "    1 BORDER{$F6}{$FA}{$FE}X [CR]\r\n");
}

TEST(Detokenizer, ByteFFIsMarkedAndThenEchoedRawToo) {
    vbtest::Converted c = expand(body_of(image({{10, bytes({0xFF, 0xFF, 0xFF})}})));
    EXPECT_EQ(c.dest, "   10 {$FF}{$FF}{$FF}\r\n");
    EXPECT_EQ(c.console, "   10 {$FF}\xFF{$FF}\xFF{$FF}\xFF [CR]\r\n");
}

TEST(Detokenizer, AlignmentModeRemovesNumberPadding) {
    std::string img = image({
        {1, bytes({0x12, ' ', 'A'})},                // the marker only counts on line 0
        {5, bytes({' ', ' ', 0xA8})},                // mode still off: nothing removed
        {0, bytes({0x12, ' ', 'A'})},                // switches the mode on, removes nothing itself
        {5, bytes({' ', ' ', 0xA8})},                // two spaces removed
        {7, bytes({'"', ' ', ' ', ' ', 'A', '"'})},  // inside strings too, only two
        {50, bytes({' ', 'X'})},
        {500, bytes({' ', 'X'})},
        {0, bytes({'A', 0x12})},  // not the first body byte: no effect on the count
    });
    vbtest::Converted c = expand(body_of(img));
    EXPECT_EQ(c.dest,
              "    1  A\r\n"
              "    5   PRINT\r\n"
              "    0  A\r\n"
              "    5 PRINT\r\n"
              "    7 \" A\"\r\n"
              "   50 X\r\n"
              "  500  X\r\n"
              "    0 A\r\n");
    EXPECT_EQ(c.console.substr(0, 22), "    1 \x12 A [CR]\r\n    5 ");
}

TEST(Detokenizer, EmptyBodyTakesTheFollowingBytes) {
    // Line 10 ends at once; the reader skips its terminator and reads the next
    // record's link and number as the body.
    vbtest::Converted c = expand(body_of(image({{10, ""}, {20, "A"}})));
    EXPECT_EQ(c.dest, "   10 \r\n");
    EXPECT_EQ(c.console, "   10 " + bytes({0x0C, 0x08, 0x14}) + " [CR]\r\n");
    EXPECT_EQ(c.result, 0);
}

TEST(Detokenizer, MachineLanguageNoticeNeedsWaitAndAnOpenLink) {
    std::string wait_prog = records_of({{10, tok("WAIT") + std::string(" 1")}});
    EXPECT_EQ(expand(wait_prog + bytes({0x34, 0x00, 0xA9, 0x00, 0x60})).result, 1);  // machine code follows
    EXPECT_EQ(expand(wait_prog + bytes({0x34, 0x00})).result, 1);        // the link is the file's last two bytes
    EXPECT_EQ(expand(wait_prog + bytes({0x00, 0x00, 0xA9})).result, 0);  // end marker
    EXPECT_EQ(expand(wait_prog + bytes({0x34})).result, 0);              // input runs out in the link
    EXPECT_EQ(expand(wait_prog).result, 0);

    std::string quoted = records_of({{10, bytes({'"', 0x9E, '"'})}});
    EXPECT_EQ(expand(quoted + bytes({0x34, 0x00, 0x60})).result, 0);  // a WAIT in a string does not count
    EXPECT_EQ(expand(records_of({{10, "A"}}) + bytes({0x34, 0x00, 0x60})).result, 0);
}

TEST(Detokenizer, DamagedImagesAreListedAsFarAsTheyGo) {
    struct Case {
        const char *what;
        std::string input;
        std::string dest;
    } cases[] = {
        {"empty", "", ""},
        {"cut in the link", bytes({0x0C}), ""},
        {"cut in the line number", bytes({0x0C, 0x08, 0x0A}), ""},
        {"cut right after the header", bytes({0x0C, 0x08, 0x0A, 0x00}), "   10 \r\n"},
        {"cut in the zeros before a body", bytes({0x0C, 0x08, 0x0A, 0x00, 0x00, 0x00}), "   10 \r\n"},
        {"cut in a body", bytes({0x0C, 0x08, 0x0A, 0x00, 0xA8, 0x20}), "   10 PRINT \r\n"},
        {"no end marker", bytes({0x0C, 0x08, 0x0A, 0x00, 'A', 0x00}), "   10 A\r\n"},
        {"link below 0x0100 first", bytes({0x34, 0x00, 0x0A, 0x00, 'A', 0x00}), ""},
        {"body of 0xFF", bytes({0x0C, 0x08, 0x0A, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00}), "   10 {$FF}{$FF}\r\n"},
    };
    for (const Case &k : cases) {
        vbtest::Converted c = expand(k.input);
        EXPECT_EQ(c.dest, k.dest) << k.what;
        EXPECT_EQ(c.result, 0) << k.what;
    }
}

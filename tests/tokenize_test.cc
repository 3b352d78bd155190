#include "convert/tokenize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "convert/escape.h"
#include "dialect/image.h"
#include "support.h"

using vbtest::bytes;
using vbtest::image;
using vbtest::tokenize;

namespace {

// The body of the one record that the text line makes.
std::string body(const std::string &line) {
    std::string img = tokenize(line + "\n").dest;
    if (img.size() < 9) return "<no record>";
    return img.substr(5, img.size() - 5 - 3);
}

// The (line number, body) records of an image, read by following its links;
// fails the test if a link does not point at the record after it.
std::vector<std::pair<unsigned, std::string>> records(const std::string &img) {
    std::vector<std::pair<unsigned, std::string>> out;
    unsigned address = vbconv::load_address;
    std::size_t at = 1;
    while (at + 2 < img.size()) {
        unsigned link = static_cast<unsigned char>(img[at]) | static_cast<unsigned char>(img[at + 1]) << 8;
        unsigned line = static_cast<unsigned char>(img.at(at + 2)) | static_cast<unsigned char>(img.at(at + 3)) << 8;
        std::size_t end = img.find('\0', at + 4);
        if (end == std::string::npos) {
            ADD_FAILURE() << "record of line " << line << " has no terminator";
            break;
        }
        out.emplace_back(line, img.substr(at + 4, end - at - 4));
        address = (address + static_cast<unsigned>(end - at - 4) + 5) & 0xFFFF;
        EXPECT_EQ(link, address) << "link of line " << line;
        at = end + 1;
    }
    EXPECT_EQ(img.substr(at), bytes({0, 0})) << "the end marker closes the image";
    return out;
}

}  // namespace

TEST(Tokenizer, EmptyInputIsLeadByteAndEndMarker) {
    vbtest::Converted c = tokenize("");
    EXPECT_EQ(c.dest, bytes({0, 0, 0}));
    EXPECT_EQ(c.console, "");
}

TEST(Tokenizer, OneLineImageAndTrace) {
    vbtest::Converted c = tokenize("10 PRINT \"HI\"\r\n");
    EXPECT_EQ(c.dest, bytes({0x00, 0x0C, 0x08, 0x0A, 0x00, 0xA8, 0x20, 0x22, 0x48, 0x49, 0x22, 0x00, 0x00, 0x00}));
    EXPECT_EQ(c.console, "[   10] \xA8 \"HI\" [NULL]\n");
    EXPECT_EQ(tokenize("10 PRINT \"HI\"\n20 GOTO 10\n").dest,
              image({{10, bytes({0xA8, 0x20, 0x22, 0x48, 0x49, 0x22})}, {20, bytes({0x89, 0x20, 0x31, 0x30})}}));
}

TEST(Tokenizer, KeywordsOperatorsAndCaseFlips) {
    EXPECT_EQ(body("PRINT \"TO\""), bytes({0xA8, 0x20, 0x22, 0x54, 0x4F, 0x22}));
    EXPECT_EQ(body("PRINT TO"), bytes({0xA8, 0x20, 0xB3}));
    EXPECT_EQ(body("X=INT\x08"), bytes({0x58, 0xC7, 0xCA}));
    EXPECT_EQ(body("A=B"), bytes({0x41, 0xC7, 0x42}));
    EXPECT_EQ(body("PRINT A+1"), bytes({0xA8, 0x20, 0x41, 0xBC, 0x31}));
    EXPECT_EQ(body("print"), "print");
    EXPECT_EQ(body("Po 1,2"), bytes({0xA3, 0x20, 0x31, 0x2C, 0x32}));
    EXPECT_EQ(body("PRint"), bytes({0xA8, 'n', 't'}));
    EXPECT_EQ(body("IF A>>2<=B"), bytes({0x8B, ' ', 'A', 0xC4, '2', 0xC8, 0xC7, 'B'}));
    EXPECT_EQ(body("A$=\"\xE9\"+\xA8"), bytes({'A', '$', 0xC7, '"', 0xE9, '"', 0xBC, 0xA8}));  // high bytes copied
}

TEST(Tokenizer, DataIsLiteralUpToColonAndRemToTheEnd) {
    EXPECT_EQ(body("DATA 1,PRINT:PRINT"), bytes({0x83, 0x20, 0x31, 0x2C, 0x50, 0x52, 0x49, 0x4E, 0x54, 0x3A, 0xA8}));
    EXPECT_EQ(body("REM PRINT:PRINT"), bytes({0x99}) + " PRINT:PRINT");
    // A colon inside quotes ends literal mode too.
    EXPECT_EQ(body("DATA \"A:B\",PRINT"), bytes({0x83, 0x20, 0x22, 0x41, 0x3A, 0x42, 0x22, 0x2C, 0xA8}));
}

TEST(Tokenizer, LinesAreNumberedFromTextOrCountedOnByTen) {
    vbtest::Converted c = tokenize("PRINT\nEND\n100 END\nEND\n200\nEND\n\n   \nEND\n10PRINT\n");
    EXPECT_EQ(
        records(c.dest),
        (std::vector<std::pair<unsigned, std::string>>{
            {10, "\xA8"}, {20, "\x80"}, {100, "\x80"}, {110, "\x80"}, {200, "\x80"}, {210, "\x80"}, {10, "\xA8"}}));
    EXPECT_EQ(c.console,
              "[   10] \xA8 [NULL]\n[   20] \x80 [NULL]\n[  100] \x80 [NULL]\n[  110] \x80 [NULL]\n"
              "[  200]  [NULL]\n[  200] \x80 [NULL]\n[  210]  [NULL]\n[  210]  [NULL]\n[  210] \x80 [NULL]\n"
              "[   10] \xA8 [NULL]\n");
}

TEST(Tokenizer, SignedAndOversizedLineNumbers) {
    struct Case {
        const char *text;
        const char *trace;
        unsigned stored;
    } cases[] = {
        {"-1 A", "[   -1] A [NULL]\n", 0xFFFF},
        {"70000 A", "[70000] A [NULL]\n", 70000 & 0xFFFF},
        {"  +5 A", "[    5] A [NULL]\n", 5},
        {"4294967306 A", "[   10] A [NULL]\n", 10},
        {"99999999999 A", "[1215752191] A [NULL]\n", 1215752191u & 0xFFFF},
        {"-2147483648 A", "[-2147483648] A [NULL]\n", 0},
    };
    for (const Case &k : cases) {
        vbtest::Converted c = tokenize(std::string(k.text) + "\n");
        EXPECT_EQ(c.console, k.trace) << k.text;
        EXPECT_EQ(records(c.dest), (std::vector<std::pair<unsigned, std::string>>{{k.stored, "A"}})) << k.text;
    }
    // A sign without digits is no number: the minus is an operator.
    EXPECT_EQ(tokenize("- 5\n").console, "[   10] \xBD 5 [NULL]\n");
    // Counting on wraps past the largest int.
    EXPECT_EQ(tokenize("2147483647 A\nB\n").console, "[2147483647] A [NULL]\n[-2147483639] B [NULL]\n");
}

// A line with more text read after it is tokenized where it was read, its
// number read a word at a time; a short input takes the general way, and
// escape mode the plain byte loops.  All must give the same number and
// body, and the first two the same trace.
TEST(Tokenizer, LinesTokenizedInPlaceAsTheGeneralWayDoes) {
    std::string after;
    for (int i = 0; i < 100; ++i) after += "PRINT X\n";
    for (const char *line :
         {"7 A", "1234567 A", "12345678 A", "4294967306 A", "00042\tA", "65535  A", "99A", "8 ", "31", "120 \t GOTO 5",
          "5:", "1 PRINT \"A:B\";X", "2 A$=\"OPEN TO THE END OF THE LINE", "3 PRINT \"\"\"\"",
          "4 X$=\"A STRING LONGER THAN A SCAN\"+\"Y\":END", "5 PRINT \"\xC1\xFF\" \xC1",
          "6 DATA \"A:B\",C:PRINT \"D:E\"", "7 \"PRINT\"PRINT",
          "8 PRINT \"GOTO PRINT AND OR THEN FOR NEXT STEP TO END\";\"X\"+A$+\"\xC1\"\xC1\"\xC1\"+\"OR"}) {
        vbtest::Converted alone = tokenize(std::string(line) + "\n");
        vbtest::Converted followed = tokenize(std::string(line) + "\n" + after);
        EXPECT_EQ(followed.console.substr(0, followed.console.find('\n')),
                  alone.console.substr(0, alone.console.find('\n')))
            << line;
        vbconv::escape_mode = true;
        vbtest::Converted plain = tokenize(std::string(line) + "\n");
        vbconv::escape_mode = false;
        auto first = records(plain.dest), more = records(followed.dest);
        EXPECT_EQ(records(alone.dest), first) << line;
        more.resize(std::min(more.size(), first.size()));  // the record of the line, if it makes one
        EXPECT_EQ(more, first) << line;
    }
}

// Lines whose end falls near the most one read holds, of each kind the line
// loop takes its own way (code, an open string, REM with and without a high
// byte, DATA), ended each way: read in place they give what the general
// way gives, which is what a short input takes.
TEST(Tokenizer, LinesNearTheReadLimitTokenizedInPlaceAsTheGeneralWayDoes) {
    std::string after;
    for (int i = 0; i < 100; ++i) after += "PRINT X\n";
    for (std::string start : {"10 PRINT X", "10 A$=\"", "10 REM A:B\"C", "10 REM \xC1", "10 DATA 1:PRINT X"})
        for (int size = 250; size <= 257; ++size)
            for (std::string end :
                 {std::string("\n"), std::string("\r\n"), std::string("\r"), std::string("\0Y\n", 3)}) {
                std::string line = start + std::string(static_cast<std::size_t>(size) - start.size(), 'x') + end;
                vbtest::Converted general = tokenize(line + "1 A\n");
                vbtest::Converted in_place = tokenize(line + "1 A\n" + after);
                auto first = records(general.dest), more = records(in_place.dest);
                more.resize(std::min(more.size(), first.size()));
                EXPECT_EQ(more, first) << start << " " << size;
                EXPECT_EQ(in_place.console.substr(0, general.console.size()), general.console) << start << " " << size;
                EXPECT_EQ(in_place.warnings, general.warnings) << start << " " << size;
            }
}

TEST(Tokenizer, LongLinesAreSplitIntoReadsOf254Bytes) {
    std::string xs(251, 'X');
    // 254 bytes before the line feed: the line feed is read alone, as an empty line.
    vbtest::Converted c = tokenize("10 " + xs + "\n");
    EXPECT_EQ(records(c.dest), (std::vector<std::pair<unsigned, std::string>>{{10, xs}}));
    EXPECT_EQ(c.console, "[   10] " + xs + " [NULL]\n[   20]  [NULL]\n");
    // 253 bytes before CR LF: the LF is left over the same way.
    c = tokenize("10 " + xs.substr(1) + "\r\n");
    EXPECT_EQ(c.console, "[   10] " + xs.substr(1) + " [NULL]\n[   20]  [NULL]\n");
    // Digits at the start of the rest are a line number.
    c = tokenize("10 " + xs + "123 Y\nZ\n");
    EXPECT_EQ(records(c.dest), (std::vector<std::pair<unsigned, std::string>>{{10, xs}, {123, "Y"}, {133, "Z"}}));
}

TEST(Tokenizer, EveryKindOfLineEndEndsALine) {
    std::vector<std::pair<unsigned, std::string>> three = {{10, "\x80"}, {20, "A"}, {30, "B"}};
    EXPECT_EQ(records(tokenize("10 END\n20 A\n30 B\n").dest), three);
    EXPECT_EQ(records(tokenize("10 END\r\n20 A\r\n30 B\r\n").dest), three);
    EXPECT_EQ(records(tokenize("10 END\r20 A\r30 B\r").dest), three);
    EXPECT_EQ(records(tokenize("10 END\r20 A\n30 B").dest), three);
    // CR CR is two line ends, the second an empty line.
    EXPECT_EQ(tokenize("END\r\rA\r").console, "[   10] \x80 [NULL]\n[   20]  [NULL]\n[   20] A [NULL]\n");
    // A zero byte ends the text of its line.
    EXPECT_EQ(records(tokenize(std::string("10 A\0B\n20 C\n", 12)).dest),
              (std::vector<std::pair<unsigned, std::string>>{{10, "A"}, {20, "C"}}));
}

TEST(Tokenizer, LinksWrapPastTheAddressSpace) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += std::string(240, 'X') + "\n";
    std::string img = tokenize(text).dest;
    EXPECT_EQ(records(img).size(), 300u);  // every link checked against the running address
}

TEST(Tokenizer, LineNumberScanMatchesScanfRules) {
    struct Case {
        const char *text;
        int consumed;
        std::int32_t number;
    } cases[] = {
        {"10 PRINT", 2, 10}, {" \t10", 4, 10}, {"-7", 2, -7}, {"+7", 2, 7},   {"PRINT", 0, 99},
        {"+ 7", 0, 99},      {"", 0, 99},      {"\n", 0, 99}, {"007x", 3, 7},
    };
    for (const Case &k : cases) {
        std::int32_t number = 99;
        EXPECT_EQ(vbconv::scan_line_number(reinterpret_cast<const unsigned char *>(k.text), number), k.consumed)
            << k.text;
        EXPECT_EQ(number, k.number) << k.text;
    }
}

// --escape: a listing in which every byte that would not come back is
// written {$hh}, and a tokenizer that reads it so; together they give back
// every canonical image byte for byte.
#include "convert/escape.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "convert/expand.h"
#include "convert/tokenize.h"
#include "support.h"

using vbtest::bytes;
using vbtest::image;
using vbtest::tok;
using Records = std::vector<std::pair<unsigned, std::string>>;

namespace {

vbtest::Converted escaped(bool listing, const std::string &input) {
    vbconv::escape_mode = true;
    vbtest::Converted c = listing ? vbtest::expand(input.substr(1)) : vbtest::tokenize(input);
    vbconv::escape_mode = false;
    return c;
}

// The records of a canonical image.
Records records_of(const std::string &img) {
    Records out;
    for (std::size_t at = 1; at + 4 < img.size();) {
        std::size_t end = img.find('\0', at + 4);
        out.emplace_back(static_cast<unsigned char>(img[at + 2]) | static_cast<unsigned char>(img[at + 3]) << 8,
                         img.substr(at + 4, end - at - 4));
        at = end + 1;
    }
    return out;
}

// Lists `img` with escapes, tokenizes that with escapes, and checks that the
// image comes back, that neither side warned, and that the lister knew.
void round_trip(const std::string &img, const std::string &what) {
    vbtest::Converted listing = escaped(true, img);
    EXPECT_EQ(listing.warnings, "") << what;
    EXPECT_TRUE(vbconv::image_comes_back) << what << ": " << vbconv::image_difference;
    vbtest::Converted back = escaped(false, listing.dest);
    EXPECT_EQ(back.warnings, "") << what;
    EXPECT_EQ(back.errors, 0) << what;
    ASSERT_EQ(back.dest, img) << what << "\nlisting:\n" << listing.dest;
}

}  // namespace

TEST(Escape, ListingEscapesOnlyWhatWouldNotComeBack) {
    std::string print(1, tok("PRINT")), data(1, tok("DATA")), rem(1, tok("REM"));
    struct Case {
        std::string body;
        std::string text;
    } cases[] = {
        {print + " \"HI\"", "PRINT \"HI\""},
        {print + "\"A\a\r" + bytes({0xE9}) + "\"", "PRINT\"A{$07}{$0D}{$E9}\""},
        {" A", "{$20}A"},
        {"  A", "{$20} A"},
        {"ATO", "A{$54}O"},
        {"Po", "{$50}o"},
        {tok("DO") + std::string("KE"), "DO{$4B}E"},
        {"A" + std::string(2, tok("<")), "A<{$C8}"},
        {"A" + std::string(1, tok("<")) + "<", "A<{$3C}"},
        {data + "1," + print + ":" + print, "DATA1,{$A8}:PRINT"},
        {rem + " " + print + data, "REM {$A8}{$83}"},
        {bytes({0xF6, 0xFF, 'X'}), "{$F6}{$FF}X"},
        {"\"{$41}{$4\"", "\"{$7B}$41}{$4\""},
        {"{", "{"},
    };
    for (const Case &k : cases) {
        vbtest::Converted c = escaped(true, image({{10, k.body}}));
        EXPECT_EQ(c.dest, "   10 " + k.text + "\r\n") << k.text;
        EXPECT_EQ(c.console, "   10 " + k.text + " [CR]\r\n") << k.text;
        EXPECT_EQ(escaped(false, c.dest).dest, image({{10, k.body}})) << k.text;
    }
    // Alignment mode removes no spaces, so nothing is lost.
    Records aligned = {{0, bytes({0x12})}, {5, "  " + print}};
    EXPECT_EQ(escaped(true, image(aligned)).dest, "    0 {$12}\r\n    5 {$20} PRINT\r\n");
}

TEST(Escape, TokenizingReadsEscapesAsBytesThatTakeNoPart) {
    std::string print(1, tok("PRINT")), data(1, tok("DATA"));
    struct Case {
        const char *text;
        std::string body;
    } cases[] = {
        {"10 PRINT \"A{$07}{$0d}B\"", print + " \"A\a\rB\""},  // either case of hex digit
        {"10 A{$22}PRINT", "A\"" + print},                     // no string opened
        {"10 D{$4F}", "DO"},                                   // no keyword matched across it
        {"10 DO{$4B}E", tok("DO") + std::string("KE")},        //
        {"10 DATA 1{$3A}PRINT", data + " 1:PRINT"},            // literal text goes on
        {"10 {$20}A", " A"},                                   // not skipped as white space
        {"10 {$41{$7B}$41}", "{$41{$41}"},                     // not an escape, and an escaped '{'
        {"{$31}0 A", "10 A"},                                  // not a line number
        {"10 X{$A8}", "X" + print},                            // a token byte
        {"\xEF\xBB\xBF"
         "10 A{$07}",
         "A\a"},  // after a byte-order mark, which is skipped
    };
    for (const Case &k : cases) {
        vbtest::Converted c = escaped(false, std::string(k.text) + "\n");
        EXPECT_EQ(records_of(c.dest), (Records{{10, k.body}})) << k.text;
        EXPECT_EQ(c.warnings, "") << k.text;
    }
    // Lines are read whole, and CR LF is one line end wherever it falls.
    std::string xs(249, 'X');
    vbtest::Converted c = escaped(false, "10 " + xs + "{$41}\r\n20 B\r\n");
    EXPECT_EQ(records_of(c.dest), (Records{{10, xs + "A"}, {20, "B"}}));
    c = escaped(false, "10 " + xs + "ABCD\r\n20 B\r\n");
    EXPECT_EQ(records_of(c.dest), (Records{{10, xs + "ABCD"}, {20, "B"}}));
}

TEST(Escape, TokenizingRefusesWhatNoRecordCanHold) {
    struct Case {
        std::string text;
        const char *error;
    } cases[] = {
        {"10 A{$00}B\n", "in:1: error: {$00} stands for a zero byte, which no body can hold; write a '{' as {$7B}\n"},
        {"10 A\n20 " + std::string(255, 'X') + "\n",
         "in:2: error: the body is 255 bytes long and cannot fit a record (254 bytes at most)\n"},
        {"10 " + std::string(70000, 'X') + "\n",
         "in:1: error: line is longer than 65536 bytes: its body cannot fit a record (254 bytes at most)\n"},
    };
    for (const Case &k : cases) {
        vbtest::Converted c = escaped(false, k.text);
        EXPECT_EQ(c.warnings, k.error);
        EXPECT_EQ(c.errors, 1);
        EXPECT_EQ(c.warning_count, 0);
    }
    EXPECT_EQ(escaped(false, "10 " + std::string(254, 'X') + "\n").errors, 0);
}

TEST(Escape, ListingWarnsOfBodiesNoRecordCanHold) {
    std::string img = image({{10, std::string(300, 'A')}});
    vbtest::Converted c = escaped(true, img);
    EXPECT_EQ(c.warnings,
              "in: line 10: warning: the body is 300 bytes long, more than a record the tokenizer writes holds (254): "
              "it cannot come back\n");
    EXPECT_EQ(std::string(vbconv::image_difference), "line 10");
}

// A random body made of the cases that are hard to carry through text:
// control bytes, line ends, high bytes in strings, keywords in DATA and REM
// text, keyword letters as text, leading spaces, '{' and escapes as text,
// unknown tokens, abbreviation traps, long lines.  A `clean` one holds only
// printable bytes and tokens, as most lines do, and tests the default
// lister's judgement where it is quickest.
std::string random_body(std::mt19937 &rng, bool clean) {
    static const std::string pieces[] = {
        "\"",
        " ",
        "{",
        "{$41}",
        "$",
        "}",
        ":",
        ",",
        "TO",
        "DO",
        "KE",
        "Po",
        "PRint",
        "<",
        ">",
        "=",
        "A",
        "X1",
        "1",
        "\r",
        "\n",
        "\t",
        "\a",
        "\x7f",
        "{$0",
        "DATA",
        "REM",
        std::string(1, tok("DATA")),
        std::string(1, tok("REM")),
        std::string(1, tok("DO")),
        std::string(1, tok("<")),
        std::string(1, tok(">")),
        std::string(1, tok("PRINT")),
        std::string(1, tok("TO")),
        std::string(1, tok("=")),
    };
    std::uniform_int_distribution<int> kind(0, 9), piece(0, std::size(pieces) - 1), any(1, 255);
    auto fits = [clean](const std::string &s) {
        for (unsigned char c : s)
            if (clean && (c < 0x20 || c == 0x7F || c > 0xF5)) return false;
        return true;
    };
    std::size_t want = std::uniform_int_distribution<std::size_t>(1, kind(rng) == 0 ? 254 : 40)(rng);
    std::string body;
    while (body.size() < want) {
        std::string add = kind(rng) < 7 ? pieces[piece(rng)] : std::string(1, static_cast<char>(any(rng)));
        if (fits(add)) body += add.substr(0, want - body.size());
    }
    return body;
}

TEST(Escape, EveryCanonicalImageComesBack) {
    std::mt19937 rng(20240610);
    int images = 0;
    for (; images < 3000; ++images) {
        Records records;
        unsigned number = 0;
        int lines = std::uniform_int_distribution<int>(1, 12)(rng);
        for (int i = 0; i < lines; ++i) {
            number += std::uniform_int_distribution<unsigned>(1, 3000)(rng);
            if (number > 0xFFFF) break;
            records.emplace_back(number, random_body(rng, images % 2 == 1));
        }
        std::string img = image(records);
        ASSERT_NO_FATAL_FAILURE(round_trip(img, "image " + std::to_string(images)));

        // The default listing: the lister must know whether it comes back.
        vbtest::Converted listing = vbtest::expand(img.substr(1));
        bool said = vbconv::image_comes_back;
        ASSERT_EQ(said, vbtest::tokenize(listing.dest).dest == img) << "image " << images << ": " << listing.dest;
    }
    EXPECT_EQ(images, 3000);
}

TEST(Escape, CorpusImagesWithControlBytesInTheirStringsComeBack) {
    std::error_code ec;
    std::mt19937 rng(7);
    int programs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(CORPUS_DIR, ec)) {
        if (entry.path().extension() != ".txt") continue;
        Records records = records_of(vbtest::tokenize(vbtest::read_file(entry.path().string())).dest);
        for (auto &[number, body] : records) {
            std::size_t quote = body.find('"');
            if (quote == std::string::npos || body.size() > 250) continue;
            body.insert(quote + 1, bytes({std::uniform_int_distribution<int>(1, 31)(rng), 0x7F, 0xE9}));
        }
        ASSERT_NO_FATAL_FAILURE(round_trip(image(records), entry.path().filename().string()));
        ++programs;
    }
    if (programs == 0) GTEST_SKIP() << "no corpus at " << CORPUS_DIR;
    EXPECT_EQ(programs, 102);
}

TEST(Escape, DefaultListerKnowsWhichLinesComeBack) {
    std::mt19937 rng(99);
    int back = 0, lost = 0;
    for (int i = 0; i < 5000; ++i) {
        std::string body = random_body(rng, true).substr(0, 12);
        std::string img = image({{10, body}});
        vbtest::Converted listing = vbtest::expand(img.substr(1));
        bool same = vbtest::tokenize(listing.dest).dest == img;
        ASSERT_EQ(vbconv::image_comes_back, same) << listing.dest;
        ASSERT_EQ(listing.warnings.empty(), same) << listing.dest;  // and says why not
        (same ? back : lost) += 1;
    }
    EXPECT_GT(back, 500);
    EXPECT_GT(lost, 1000);
}

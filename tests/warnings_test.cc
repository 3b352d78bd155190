// Every loss a conversion can cause is warned about, in the form editors
// read, at the line it happens; and --check learns whether an image comes
// back from its listing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "convert/expand.h"
#include "convert/filter.h"
#include "convert/warn.h"
#include "dialect/image.h"
#include "support.h"

using vbtest::bytes;
using vbtest::image;
using vbtest::tok;

namespace {

struct Lossy {
    const char *what;
    std::string input;
    std::string warnings;
    const char *difference;  // what --check names first, "" when the image comes back
};

std::string after_lead(const std::string &img) { return img.substr(1); }

}  // namespace

TEST(Warnings, ListingSaysWhatDoesNotComeBack) {
    std::string print = std::string(1, tok("PRINT"));
    const Lossy cases[] = {
        {"nothing lost", after_lead(image({{10, print + " \"HI\""}, {20, "A" + std::string(1, tok("=")) + "1"}})), "",
         ""},
        {"control bytes dropped", after_lead(image({{10, print + "\"A\a\x01\""}})),
         "in: line 10: warning: 2 bytes the text cannot hold are dropped: $07 $01; --escape keeps them\n", "line 10"},
        {"high byte in a string", after_lead(image({{10, "\"" + bytes({0xE9}) + "\""}})),
         "in: line 10: warning: 1 byte the text cannot hold is dropped: $E9; --escape keeps it\n", "line 10"},
        {"line end in a body", after_lead(image({{10, "A\rB"}})),
         "in: line 10: warning: line end $0D in the body breaks the listed line into 2; --escape keeps it\n",
         "line 10"},
        {"line too long", after_lead(image({{10, std::string(249, 'X')}})),
         "in: line 10: warning: the listed line is 255 bytes long, more than one read of the tokenizer takes (254 "
         "before its line end): it comes back split; --escape reads lines whole\n",
         "line 10"},
        {"longest line that comes back", after_lead(image({{10, std::string(248, 'X')}})), "", ""},
        {"far too long", after_lead(image({{10, std::string(3000, 'X') + std::string(3000, '\xF6')}})),
         "in: line 10: warning: $F6 $F6 $F6 $F6 ... stand for no keyword: the marker listed reads back as text; "
         "--escape reads them back\n"
         "in: line 10: warning: the listed line is 18006 bytes long, more than one read of the tokenizer takes (254 "
         "before its line end): it comes back split; --escape reads lines whole\n",
         "line 10"},
        {"too long across a block of the output", after_lead(image([] {
             std::vector<std::pair<unsigned, std::string>> records;
             for (unsigned n = 1; n <= 5555; ++n) records.push_back({n, "A"});
             records.push_back({6000, std::string(20000, 'B')});
             return records;
         }())),
         "in: line 6000: warning: the listed line is 20006 bytes long, more than one read of the tokenizer takes (254 "
         "before its line end): it comes back split; --escape reads lines whole\n",
         "line 6000"},
        {"no keyword", after_lead(image({{10, bytes({0xF6, 'A'})}})),
         "in: line 10: warning: $F6 stands for no keyword: the marker listed reads back as text; --escape reads it "
         "back\n",
         "line 10"},
        {"leading space", after_lead(image({{10, " A"}})),
         "in: line 10: warning: the body starts with white space, which tokenizing skips; --escape keeps it\n",
         "line 10"},
        {"letters of a keyword", after_lead(image({{10, "ATOP"}})),
         "in: line 10: warning: the text \"TO\" reads back as the keyword TO; --escape keeps it text\n", "line 10"},
        {"abbreviation", after_lead(image({{10, "Po"}})),
         "in: line 10: warning: the text \"Po\" reads back as the keyword POKE; --escape keeps it text\n", "line 10"},
        {"keyword runs on", after_lead(image({{10, tok("DO") + std::string("KE")}})),
         "in: line 10: warning: the keyword DO and the text after it read back as the keyword DOKE; --escape keeps "
         "them apart\n",
         "line 10"},
        {"operator runs on", after_lead(image({{10, "A" + std::string(1, tok("<")) + "<2"}})),
         "in: line 10: warning: the keyword < and the text after it read back as the keyword <<; --escape keeps "
         "them apart\n",
         "line 10"},
        {"keyword in DATA", after_lead(image({{10, tok("DATA") + std::string("1,") + print}})),
         "in: line 10: warning: the keyword PRINT stands in DATA or REM text, where it reads back as plain text; "
         "--escape keeps it\n",
         "line 10"},
        {"empty body", after_lead(image({{10, ""}, {20, "A"}})),
         "in: line 10: warning: the record has an empty body: the listing takes the bytes after it for this line's "
         "text\n"
         "in: warning: the program ends on link $0041 instead of the end marker 00 00: the 2 bytes after it are not "
         "listed\n",
         "line 10"},
        {"link astray", bytes({0x00, 0x09, 0x0A, 0x00, 'A', 0x00, 0x00, 0x00}),
         "in: line 10: warning: the link $0900 does not lead to the next record at $0807, which tokenizing writes "
         "instead\n",
         "line 10"},
        {"numbers descend", after_lead(image({{20, "A"}, {10, "B"}, {10, "C"}})),
         "in: line 10: warning: line number 10 does not ascend (it follows line 20)\n"
         "in: line 10: warning: line number 10 does not ascend (it follows line 10)\n",
         ""},
        {"no end marker", after_lead(image({{10, "A"}})).substr(0, 6),
         "in: warning: the image ends before its end marker\n", "no end marker"},
        {"empty file", "", "in: warning: the image ends before its end marker\n", "no end marker"},
        {"after the end marker", after_lead(image({{10, "A"}})) + "xy",
         "in: warning: 2 bytes after the end marker are not listed\n", "bytes after the end marker"},
        {"machine language",
         after_lead(image({{10, tok("WAIT") + std::string("1")}})).substr(0, 7) + bytes({0x34, 0x00, 0xA9, 0x00, 0x60}),
         "in: warning: the program ends on link $0034: the 3 bytes after it are a machine-language part, skipped "
         "with a notice\n",
         "link $0034 instead of the end marker"},
        {"alignment removes spaces, silently",
         after_lead(image({{0, bytes({0x12, 'A'})}, {5, bytes({' ', ' ', 'A'})}})),
         "in: line 0: warning: 1 byte the text cannot hold is dropped: $12; --escape keeps it\n", "line 0"},
    };
    for (const Lossy &k : cases) {
        vbtest::Converted c = vbtest::expand(k.input);
        EXPECT_EQ(c.warnings, k.warnings) << k.what;
        EXPECT_EQ(vbconv::image_comes_back, *k.difference == 0) << k.what;
        EXPECT_EQ(std::string(vbconv::image_difference), k.difference) << k.what;
    }
}

// A record with plenty of input after it is listed in one pass, and judged
// there; a lone one goes the general way.  Both must find the same: the
// keywords whose spelling may read on, DATA and REM text, letters before them.
TEST(Warnings, ARecordListedInOnePassIsJudgedAsAnyOther) {
    auto t = [](const char *k) { return std::string(1, tok(k)); };
    const struct {
        const char *what;
        std::string body;
        bool comes_back;
    } cases[] = {
        {"< before <", "A" + t("<") + "<2", false},
        {"< before the token <", "A" + t("<") + t("<") + "2", false},
        {"< before =", "A" + t("<") + t("=") + "2", true},
        {"> before >", "A" + t(">") + ">2", false},
        {"DO before KE", t("DO") + "KE", false},
        {"DO before k", t("DO") + "k", false},
        {"DO before X", t("DO") + "X", true},
        {"REM text", t("REM") + "PRINT TO<<", true},
        {"keyword in REM text", t("REM") + "A" + t("PRINT"), false},
        {"letters before REM", "ATOP" + t("REM") + "X", false},
        {"keyword in DATA", t("DATA") + "1," + t("PRINT"), false},
        {"DATA then code", t("DATA") + "1:" + t("PRINT") + "A", true},
        {"letters in DATA", t("DATA") + "ATOP,1", true},
        {"keyword after a colon in a DATA string", t("DATA") + "\"A:B\"," + t("PRINT"), true},
        {"keyword in a second DATA", t("DATA") + "1:" + t("DATA") + "2," + t("PRINT"), false},
        {"keyword in DATA past 32 bytes", t("DATA") + std::string(40, '1') + t("PRINT"), false},
        {"code after DATA past 32 bytes", t("DATA") + std::string(40, '1') + ":" + t("PRINT") + "A", true},
        {"keyword in DATA from byte 31", std::string(30, '1') + t("DATA") + "2," + t("PRINT"), false},
        {"< after a long string", t("PRINT") + "\"" + std::string(40, 'X') + t("PRINT") + "\"A" + t("<") + "<2", false},
        {"REM after 32 bytes", std::string(40, 'B') + t("REM") + "A" + t("PRINT"), false},
        {"letters after 32 bytes", std::string(40, '1') + "ATOP", false},
        {"no keyword after 32 bytes", std::string(40, '1') + bytes({0xF6}), false},
        {"a line of three turns", t("PRINT") + "\"" + std::string(90, 'Y') + "\"", true},
    };
    for (const auto &k : cases) {
        std::vector<std::pair<unsigned, std::string>> records{{10, k.body}};
        for (unsigned n = 20; n < 600; n += 10) records.push_back({n, "A1"});
        // Listed first, so that no bytes the general path left in the
        // output blocks stand in for the echo's.
        vbtest::Converted followed = vbtest::expand(after_lead(image(records)));
        EXPECT_EQ(vbconv::image_comes_back, k.comes_back) << k.what;
        records.resize(1);
        vbtest::Converted alone = vbtest::expand(after_lead(image(records)));
        EXPECT_EQ(vbconv::image_comes_back, k.comes_back) << k.what;
        EXPECT_EQ(followed.warnings, alone.warnings) << k.what;
        EXPECT_EQ(followed.dest.substr(0, alone.dest.find('\n')), alone.dest.substr(0, alone.dest.find('\n')))
            << k.what;
        EXPECT_EQ(followed.console.substr(0, alone.console.find('\n')),
                  alone.console.substr(0, alone.console.find('\n')))
            << k.what;
    }
    // A WAIT listed in one pass counts for the machine-language notice.
    for (const char *body : {"WAIT", "END"}) {
        std::vector<std::pair<unsigned, std::string>> records{{10, t(body) + " 1"}};
        for (unsigned n = 20; n < 600; n += 10) records.push_back({n, "A1"});
        std::string img = after_lead(image(records));
        img = img.substr(0, img.size() - 2) + bytes({0x34, 0x00, 0xA9, 0x00, 0x60});
        EXPECT_EQ(vbtest::expand(img).result, body[0] == 'W' ? 1 : 0) << body;
    }
}

TEST(Warnings, LeadByteOneDoesNotComeBack) {
    vbconv::image_lead = vbconv::alt_lead_byte;
    vbtest::Converted c = vbtest::expand(after_lead(vbtest::hi_image()));
    vbconv::image_lead = vbconv::lead_byte;
    EXPECT_EQ(c.warnings, "in: warning: lead byte $01 comes back as $00\n");
    EXPECT_EQ(std::string(vbconv::image_difference), "lead byte $01");
}

TEST(Warnings, TokenizingSaysWhatTheImageChanges) {
    struct Case {
        const char *what;
        std::string text;
        std::string warnings;
    } cases[] = {
        {"nothing lost", "10 PRINT \"\xC3\xA9\"\r\n20 REM \x07\n", ""},
        {"split line", "10 " + std::string(260, 'X') + "\n20 Y\n",
         "in:1: warning: line is longer than one read (254 bytes) and is split: the rest became line 20; --escape "
         "reads lines whole\n"
         "in:2: warning: line number 20 does not ascend (it follows line 20)\n"},
        {"split leaving only blanks", "10 " + std::string(251, 'X') + "   \n",
         "in:1: warning: line is longer than one read (254 bytes) and is split: the rest made no record; --escape "
         "reads lines whole\n"},
        {"split before its line end only", "10 " + std::string(251, 'X') + "\r\n20 Y\n", ""},
        {"NUL byte", std::string("10 A\0BC\n20 D\n", 13),
         "in:1: warning: a NUL byte ends the line: it and the 2 bytes after it are dropped\n"},
        {"NUL byte before one more", std::string("10 A\0B\n20 D\0\n", 13),
         "in:1: warning: a NUL byte ends the line: it and the byte after it are dropped\n"
         "in:2: warning: a NUL byte ends the line: it is dropped\n"},
        {"numbers out of range", "-1 A\n70000 B\n",
         "in:1: warning: line number -1 is outside 0 to 65535: stored as 65535\n"
         "in:2: warning: line number 70000 is outside 0 to 65535: stored as 4464\n"
         "in:2: warning: line number 4464 does not ascend (it follows line 65535)\n"},
        {"automatic numbers count", "100 A\nB\n105 C\n",
         "in:3: warning: line number 105 does not ascend (it follows line 110)\n"},
        {"UTF-8 outside strings", "10 A$=\xC3\xA9\n",
         "in:1: warning: 2 bytes from $80 up outside strings are kept, but an image reads them as keyword tokens: "
         "$C3 $A9\n"},
        {"in REM text too", "10 REM \xE9\n",
         "in:1: warning: byte $E9 outside a string is kept, but an image reads it as a keyword token\n"},
        {"lines counted by CR LF and lone CR", "10 A\r\n20 B\r30 C\n5 D\n",
         "in:4: warning: line number 5 does not ascend (it follows line 30)\n"},
        {"byte-order mark is skipped",
         "\xEF\xBB\xBF"
         "10 A\n",
         ""},
    };
    for (const Case &k : cases) EXPECT_EQ(vbtest::tokenize(k.text).warnings, k.warnings) << k.what;
    // A byte-order mark no longer hides the first line number.
    EXPECT_EQ(vbtest::tokenize("\xEF\xBB\xBF"
                               "10 A\n")
                  .dest,
              image({{10, "A"}}));
}

TEST(Warnings, TokenizingPastTheAddressSpace) {
    std::string text;
    for (int i = 1; i <= 300; ++i) text += std::to_string(i) + " " + std::string(240, 'X') + "\n";
    vbtest::Converted c = vbtest::tokenize(text);
    EXPECT_EQ(c.warnings,
              "in:260: warning: the program passes the top of the 64 KB address space: this line's link wraps to "
              "$00D5, where a listing of the image stops\n");
}

TEST(Warnings, TenOfAKindThenACount) {
    std::string text;
    for (int i = 30; i > 0; --i) text += std::to_string(i) + " A\xFF\n";
    vbtest::Converted c = vbtest::tokenize(text);
    EXPECT_EQ(c.warning_count, 29 + 30);
    EXPECT_EQ(std::count(c.warnings.begin(), c.warnings.end(), '\n'), 10 + 10 + 2);
    EXPECT_EQ(c.warnings.substr(c.warnings.rfind("in:11:")),
              "in:11: warning: line number 20 does not ascend (it follows line 21)\n"
              "in: warning: 19 more not shown: line numbers that do not ascend\n"
              "in: warning: 20 more not shown: bytes from $80 up outside strings\n");
}

TEST(Warnings, PlainTextSaysWhatItDrops) {
    vbtest::Converted c = vbtest::convert("A\tB\xC3\xA9\r\n", [] {
        vbconv::pet_2_asc();
        return 0;
    });
    EXPECT_EQ(c.dest, "AB\n\n");
    EXPECT_EQ(c.warnings,
              "in: warning: not a program image, so filtered as plain text: 3 bytes it cannot hold are dropped: $09 "
              "$C3 $A9\n");
}

TEST(Warnings, GoToTheirStreamAfterTheEchoSoFar) {
    vbtest::Scratch s;
    vbtest::write_file(s.path("A.bas"), image({{10, "A\aB"}, {20, "C"}}));
    vbtest::Run r = vbtest::run_vbconv(s.dir, {"A.bas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "A.bas: line 10: warning: 1 byte the text cannot hold is dropped: $07; --escape keeps it\n");
    EXPECT_EQ(vbtest::read_file(s.path("A.TXT")), "   10 AB\r\n   20 C\r\n");  // the files are as ever
}

// --check, --strict and --escape as a user runs them: what each prints, the
// files each leaves, and the exit statuses, the lowest but 0 winning.
TEST(Warnings, CheckStrictAndEscapeRuns) {
    vbtest::Scratch s;
    std::string lossy = image({{10, "A\aB"}, {20, "C"}});
    vbtest::write_file(s.path("lossy.bas"), lossy);
    vbtest::write_file(s.path("clean.bas"), vbtest::hi_image());
    vbtest::write_file(s.path("t.txt"), "10 A\n5 B\n");
    vbtest::write_file(s.path("aligned.bas"), image({{0, "\x12"}, {5, "  X"}}));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // with --check: all of it
    } cases[] = {
        {{"--check", "clean.bas"}, 0, "clean.bas: ok\n"},
        {{"--check", "lossy.bas", "t.txt"},
         3,
         "t.txt: 1 warning\nlossy.bas: 1 warning; its listing would not come back as the same image: line 10\n"},
        {{"--check", "aligned.bas"},
         3,
         "aligned.bas: 1 warning; its listing would not come back as the same image: line 0\n"},
        {{"--check", "--escape", "lossy.bas"}, 0, "lossy.bas: ok\n"},
        {{"--strict", "clean.bas"}, 0, ""},
        {{"--strict", "lossy.bas"}, 3, ""},
        {{"--strict", "lossy.bas", "notes.doc"}, 2, ""},  // a skip outranks warnings
    };
    for (const Case &c : cases) {
        vbtest::Run r = vbtest::run_vbconv(s.dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1] << r.err;
        if (c.args[0] == "--check") {
            EXPECT_EQ(r.out, c.out) << c.args[1];
            EXPECT_FALSE(vbtest::exists(s.path(c.args.back().substr(0, c.args.back().size() - 4) + ".TXT")));
        }
    }
    // The escaped listing comes back as the image, byte for byte, through the program.
    vbtest::Run r = vbtest::run_vbconv(s.dir, {"--escape", "lossy.bas"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::rename(s.path("lossy.TXT").c_str(), s.path("back.txt").c_str());
    r = vbtest::run_vbconv(s.dir, {"--escape", "--strict", "back.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vbtest::read_file(s.path("back.BAS")), lossy);
    // An escape that no record can hold fails the run and keeps no output.
    vbtest::write_file(s.path("bad.txt"), "10 A{$00}\n");
    r = vbtest::run_vbconv(s.dir, {"--escape", "bad.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(vbtest::exists(s.path("bad.BAS")));
}

// A line goes out in one write where it fits a buffer, and in pieces where
// a long name does not: the same bytes either way.
TEST(Warnings, LinesOfAnyLengthComeOutWhole) {
    for (std::size_t size : {2, 5000}) {
        std::string name(size, 'n');
        std::FILE *saved = vbconv::warn_stream;
        vbconv::warn_stream = std::tmpfile();
        vbconv::warnings_begin(name.c_str());
        vbconv::warn_text(vbconv::Warn::split, 7, "a %s", "b");
        vbconv::warn_line(vbconv::Warn::bad_link, 8, "c");
        vbconv::warn_file(vbconv::Warn::lead_byte, "d%d", 1);
        vbconv::error_text(vbconv::Warn::zero_escape, 9, "e");
        vbconv::warnings_end();
        std::rewind(vbconv::warn_stream);
        std::string got;
        for (int c; (c = std::fgetc(vbconv::warn_stream)) != EOF;) got.push_back(static_cast<char>(c));
        std::fclose(vbconv::warn_stream);
        vbconv::warn_stream = saved;
        EXPECT_EQ(got, name + ":7: warning: a b\n" + name + ": line 8: warning: c\n" + name + ": warning: d1\n" + name +
                           ":9: error: e\n")
            << size;
    }
}

// Counting what follows the end marker reads nothing more: an image that a
// stream without end follows is listed, and the run ends.
TEST(Warnings, WhatFollowsTheEndMarkerIsNotReadToItsEnd) {
    vbtest::Scratch s;
    ASSERT_EQ(symlink("/dev/zero", s.path("z.bas").c_str()), 0);
    vbtest::Run r = vbtest::run_vbconv(s.dir, {"-q", "z.bas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(vbtest::read_file(s.path("z.TXT")), "");
    EXPECT_NE(r.err.find("z.bas: warning: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" or more bytes after the end marker are not listed\n"), std::string::npos) << r.err;
}

// The driver, mostly through the built program: names, messages, their order,
// exit statuses and the files it leaves.
#include "driver/driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/version.h"
#include "support.h"

using vbtest::bytes;
using vbtest::exists;
using vbtest::hi_echo;
using vbtest::hi_image;
using vbtest::hi_listing;
using vbtest::image;
using vbtest::read_file;
using vbtest::run_vbconv;
using vbtest::tok;
using vbtest::write_file;

namespace {

const std::string banner = "\nVelmar-BASIC Converter Version " VBCONV_VERSION "\n";

std::string to_text(const std::string &out) { return "\nBASIC to TEXT, converted to: " + out + "\n\n"; }
std::string to_basic(const std::string &out) { return "\nTEXT to BASIC, converted to: " + out + "\n\n"; }

}  // namespace

TEST(OutputName, ExtensionDecidesDirectionAndIsUpperCased) {
    struct Case {
        const char *in;
        vbconv::Direction direction;
        const char *out;
    } cases[] = {
        {"prog.bas", vbconv::Direction::basic_to_text, "prog.TXT"},
        {"prog.Bas", vbconv::Direction::basic_to_text, "prog.TXT"},
        {"PROG.TXT", vbconv::Direction::text_to_basic, "PROG.BAS"},
        {"a.b.tXt", vbconv::Direction::text_to_basic, "a.b.BAS"},
        {".bas", vbconv::Direction::basic_to_text, ".TXT"},
        {"dir.txt/x.bas", vbconv::Direction::basic_to_text, "dir.txt/x.TXT"},
        {"bas", vbconv::Direction::none, "-"},
        {"prog.ba", vbconv::Direction::none, "-"},
        {"prog.bas.", vbconv::Direction::none, "-"},
        {"prog_bas", vbconv::Direction::none, "-"},
        {"", vbconv::Direction::none, "-"},
    };
    for (const Case &c : cases) {
        std::string out = "-";
        EXPECT_EQ(vbconv::output_name(c.in, out), c.direction) << c.in;
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(Driver, NoArgumentsPrintsOnlyTheBanner) {
    vbtest::Scratch s;
    vbtest::Run r = run_vbconv(s.dir, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner);
    EXPECT_EQ(r.err, "");
}

TEST(Driver, ArgumentsAreHandledFromLastToFirst) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    write_file(s.path("B.txt"), "10 PRINT \"HI\"\n");
    vbtest::Run r = run_vbconv(s.dir, {"A.bas", "B.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, banner + to_basic("B.BAS") + "[   10] \xA8 \"HI\" [NULL]\n" + to_text("A.TXT") + hi_echo);
    EXPECT_EQ(read_file(s.path("B.BAS")), hi_image());
    EXPECT_EQ(read_file(s.path("A.TXT")), hi_listing);
}

TEST(Driver, LeadByteDecidesBetweenImageAndPlainText) {
    vbtest::Scratch s;
    write_file(s.path("empty.bas"), "");
    write_file(s.path("one.bas"), "\x01" + hi_image().substr(1));
    write_file(s.path("plain.bas"), "AB\tC\r\n" + bytes({0xC1, 0x00}) + "D");
    vbtest::Run r = run_vbconv(s.dir, {"empty.bas", "one.bas", "plain.bas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(s.path("empty.TXT")), "");
    EXPECT_EQ(read_file(s.path("one.TXT")), hi_listing);
    EXPECT_EQ(read_file(s.path("plain.TXT")), "ABC\n\n\nD");
    // Plain text is not echoed.
    EXPECT_EQ(r.out, banner + to_text("plain.TXT") + to_text("one.TXT") + hi_echo + to_text("empty.TXT"));
}

TEST(Driver, MachineLanguageNoticeEndsTheListing) {
    vbtest::Scratch s;
    std::string records = image({{10, tok("WAIT") + std::string(" 1")}});
    records.resize(records.size() - 2);
    write_file(s.path("ml.bas"), records + bytes({0x34, 0x00, 0xA9, 0x00, 0x60}));
    vbtest::Run r = run_vbconv(s.dir, {"ml.bas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(s.path("ml.TXT")), "   10 WAIT 1\r\n\r\n*** Machine language part skipped. ***\r\n");
    EXPECT_EQ(r.out, banner + to_text("ml.TXT") + "   10 WAIT 1 [CR]\r\n");
}

TEST(Driver, OpenFailuresStopTheRunWithStatusOne) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    write_file(s.path("C.bas"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"C.bas", "missing.bas", "A.bas"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't open input file missing.bas\n");
    EXPECT_EQ(r.out, banner + to_text("A.TXT") + hi_echo + to_text("missing.TXT"));
    EXPECT_EQ(read_file(s.path("A.TXT")), hi_listing);  // finished before the failure
    EXPECT_FALSE(exists(s.path("missing.TXT")));
    EXPECT_FALSE(exists(s.path("C.TXT")));  // never reached

    ASSERT_EQ(mkdir(s.path("D.TXT").c_str(), 0755), 0);
    write_file(s.path("D.bas"), hi_image());
    r = run_vbconv(s.dir, {"D.bas"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't open output file D.TXT\n");
    EXPECT_EQ(r.out, banner + to_text("D.TXT"));
}

TEST(Driver, OtherNamesAreSkippedAndNeverWritten) {
    vbtest::Scratch s;
    write_file(s.path("notes.doc"), "keep me");
    write_file(s.path("A.bas"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"A.bas", "notes.doc", "ab"});
    EXPECT_EQ(r.status, vbconv::exit_skipped);
    EXPECT_EQ(r.err,
              "vbconv: ab: name ends in neither .bas nor .txt; skipped\n"
              "vbconv: notes.doc: name ends in neither .bas nor .txt; skipped\n");
    EXPECT_EQ(r.out, banner + to_text("A.TXT") + hi_echo);
    EXPECT_EQ(read_file(s.path("notes.doc")), "keep me");
    EXPECT_EQ(read_file(s.path("A.TXT")), hi_listing);
}

TEST(Driver, HelpAndVersionTouchNoFile) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    for (const char *opt : {"--help", "-h"}) {
        vbtest::Run r = run_vbconv(s.dir, {"A.bas", opt});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(banner + "\nusage: vbconv FILE...\n", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    vbtest::Run r = run_vbconv(s.dir, {"--version", "A.bas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "vbconv " VBCONV_VERSION "\n");
    EXPECT_FALSE(exists(s.path("A.TXT")));
}

TEST(Driver, ChosenDirectionsAndOutputs) {
    const std::string hi_trace = "[   10] \xA8 \"HI\" [NULL]\n";
    struct Case {
        std::vector<std::string> args;
        std::string out;                                           // standard output
        std::vector<std::pair<std::string, std::string>> written;  // files the run made
    } cases[] = {
        {{"--to-text", "PROG.PRG"}, banner + to_text("PROG.TXT") + hi_echo, {{"PROG.TXT", hi_listing}}},
        {{"--to-basic", "notes"}, banner + to_basic("notes.BAS") + hi_trace, {{"notes.BAS", hi_image()}}},
        {{"--to-text", "notes"}, banner + to_text("notes.TXT"), {{"notes.TXT", "10 PRINT \"HI\"\n"}}},  // filtered
        {{"-q", "PROG.PRG", "--to-text", "-o", "x.txt"}, "", {{"x.txt", hi_listing}}},
        {{"a.bas", "b.bas", "-o", "out"}, banner + to_text("out/b.TXT") + hi_echo + to_text("out/a.TXT") + hi_echo,
         {{"out/a.TXT", hi_listing}, {"out/b.TXT", hi_listing}}},
        {{"--to-text", "-o", "-", "PROG.PRG"}, hi_listing, {}},
        {{"a.bas", "-o-"}, hi_listing, {}},
    };
    for (const Case &c : cases) {
        vbtest::Scratch s;
        write_file(s.path("PROG.PRG"), hi_image());
        write_file(s.path("a.bas"), hi_image());
        write_file(s.path("b.bas"), hi_image());
        write_file(s.path("notes"), "10 PRINT \"HI\"\n");
        mkdir(s.path("out").c_str(), 0755);
        vbtest::Run r = run_vbconv(s.dir, c.args);
        EXPECT_EQ(r.status, 0) << c.args[0] << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, c.out) << c.args[0];
        for (const auto &[name, content] : c.written) EXPECT_EQ(read_file(s.path(name)), content) << name;
    }
}

TEST(Driver, StandardInputToStandardOutputOrAFile) {
    vbtest::Scratch s;
    vbtest::Streams in;
    in.in = hi_image();
    vbtest::Run r = run_vbconv(s.dir, {"--to-text", "-"}, in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, hi_listing);
    in.in = "10 PRINT \"HI\"\n";
    r = run_vbconv(s.dir, {"--to-basic", "-", "-o", "x.BAS"}, in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + to_basic("x.BAS") + "[   10] \xA8 \"HI\" [NULL]\n");
    EXPECT_EQ(read_file(s.path("x.BAS")), hi_image());
    // An output named for the input itself is refused, as any other.
    r = run_vbconv(s.dir, {"--to-basic", "x.BAS", "-o", "x.BAS"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbconv: x.BAS: is the same file as x.BAS; both left untouched\n");
    EXPECT_EQ(read_file(s.path("x.BAS")), hi_image());
}

// What holds for the files of a run on every system vbconv is built for,
// Windows under Wine included: names in any script, names that differ only
// in case, outputs that exist already, binary standard streams, patterns,
// and a reader that goes away.
#include "driver/files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "driver/driver.h"
#include "support.h"

using vbtest::hi_image;
using vbtest::hi_listing;
using vbtest::image;
using vbtest::read_file;
using vbtest::run_vbconv;
using vbtest::tok;
using vbtest::write_file;

// Greek, Cyrillic, Japanese, and a character beyond 16 bits (a surrogate
// pair in a Windows name).
TEST(Files, NamesInAnyScriptAreKept) {
    vbtest::Scratch s;
    const std::string stems[] = {"πρόγραμμα", "программа", "日本", "😀"};
    std::vector<std::string> args;
    for (const auto &stem : stems) {
        write_file(s.path(stem + ".bas"), hi_image());
        args.push_back(stem + ".bas");
    }
    write_file(s.path("λίστα.txt"), "10 PRINT \"HI\"\n");
    args.push_back("λίστα.txt");
    vbtest::Run r = run_vbconv(s.dir, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const auto &stem : stems) EXPECT_EQ(read_file(s.path(stem + ".TXT")), hi_listing) << stem;
    EXPECT_EQ(read_file(s.path("λίστα.BAS")), hi_image());
    EXPECT_NE(r.out.find("converted to: 日本.TXT\n"), std::string::npos) << r.out;
}

// Where the file system ignores case, p.BAS is p.bas and p.TXT is P.txt, so
// each conversion's output is the other's input: whatever the file system,
// neither input may be written over.
TEST(Files, InputsSurviveNamesThatDifferOnlyInCase) {
    vbtest::Scratch s;
    write_file(s.path("p.bas"), hi_image());
    write_file(s.path("P.txt"), "20 END\n");
    vbtest::Run r = run_vbconv(s.dir, {"p.bas", "P.txt"});
    if (vbtest::windows_build()) {
        EXPECT_EQ(r.status, vbconv::exit_skipped);  // its file systems ignore case
    }
    EXPECT_EQ(read_file(s.path("p.bas")), hi_image());
    EXPECT_EQ(read_file(s.path("P.txt")), "20 END\n");
    if (r.status == vbconv::exit_ok) {  // the file system heeds case
        EXPECT_EQ(read_file(s.path("p.TXT")), hi_listing);
        EXPECT_EQ(read_file(s.path("P.BAS")), image({{20, std::string(1, tok("END"))}}));
    } else {
        EXPECT_EQ(r.status, vbconv::exit_skipped) << r.err;
    }
}

// Nothing of a longer older output remains.  Windows' rename does not
// replace an existing file, so this is where its replacing call shows.
TEST(Files, ExistingOutputsAreReplacedWhole) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    write_file(s.path("B.txt"), "10 PRINT \"HI\"\n");
    write_file(s.path("A.TXT"), std::string(1000, 'x'));
    write_file(s.path("B.BAS"), std::string(1000, 'x'));
    vbtest::Run r = run_vbconv(s.dir, {"A.bas", "B.txt"});
    EXPECT_EQ(r.status, vbconv::exit_ok) << r.err;
    EXPECT_EQ(read_file(s.path("A.TXT")), hi_listing);
    EXPECT_EQ(read_file(s.path("B.BAS")), hi_image());
}

// Text mode would add a CR before each LF written, drop the CR of CR LF read,
// and end the input at 0x1A.  The image holds all three (line 2573 is 0D 0A).
TEST(Files, StandardStreamsAreBinary) {
    vbtest::Scratch s;
    const std::string listing = "10 PRINT \"\x1A\"\r\n2573 REM\r\n";
    const std::string image = vbtest::tokenize(listing).dest;
    struct Case {
        std::vector<std::string> args;
        std::string in, out;
    } cases[] = {
        {{"--to-basic", "-"}, listing, image},
        {{"--to-text", "-"}, image, vbtest::expand(image.substr(1)).dest},
    };
    for (const Case &c : cases) {
        vbtest::Streams streams;
        streams.in = c.in;
        vbtest::Run r = run_vbconv(s.dir, c.args, streams);
        EXPECT_EQ(r.status, vbconv::exit_ok) << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
}

// Command Prompt and PowerShell hand a pattern to the program, which expands
// it; a POSIX shell expands it itself, and a pattern reaching vbconv is a name.
TEST(Files, PatternsAreExpandedWhereTheShellLeavesThem) {
    vbtest::Scratch s;
    write_file(s.path("a.bas"), hi_image());
    write_file(s.path("B.BAS"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"-q", "*.bas"});
    if (vbtest::windows_build()) {
        EXPECT_EQ(r.status, vbconv::exit_ok) << r.err;
        EXPECT_EQ(read_file(s.path("a.TXT")), hi_listing);
        EXPECT_EQ(read_file(s.path("B.TXT")), hi_listing);
    } else {
        EXPECT_EQ(r.status, vbconv::exit_failure);
        EXPECT_EQ(r.err, "Can't open input file *.bas\n");
    }
    r = run_vbconv(s.dir, {"-q", "z*.bas"});  // matching nothing, it stays as it is
    EXPECT_EQ(r.status, vbconv::exit_failure);
    EXPECT_EQ(r.err, "Can't open input file z*.bas\n");
}

// A conversion to standard output ends as a filter does when its reader goes
// away: quietly, by SIGPIPE, or where there is none (Windows) with status 1.
TEST(Files, AReaderThatGoesAwayEndsTheConversionQuietly) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"-o", "-", "A.bas"}, vbtest::Stdout::closed_pipe);
    EXPECT_EQ(r.status, vbtest::windows_build() ? vbconv::exit_failure : 128 + SIGPIPE);
    EXPECT_EQ(r.err, "");
}

// The null device is written in place: there is no file to replace, and no
// temporary file is left beside it.
TEST(Files, TheNullDeviceIsWrittenInPlace) {
    vbtest::Scratch s;
    write_file(s.path("a.bas"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"-o", vbtest::windows_build() ? "NUL" : "/dev/null", "a.bas"});
    EXPECT_EQ(r.status, vbconv::exit_ok) << r.err;
    EXPECT_EQ(vbtest::names_in(s.dir), std::vector<std::string>{"a.bas"});
}

// The converters' echo is left unbuilt only where it would go nowhere: the
// null device, not a file beside it (Windows writes it to NUL all the same).
TEST(Files, OnlyTheNullDeviceTakesNoEcho) {
    vbtest::Scratch s;
    write_file(s.path("a.txt"), "10 END\n");
    std::FILE *null = std::fopen(vbtest::windows_build() ? "NUL" : "/dev/null", "wb");
    std::FILE *file = std::fopen(s.path("a.txt").c_str(), "rb");
    ASSERT_NE(null, nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(vbconv::is_null_device(null), !vbtest::windows_build());
    EXPECT_FALSE(vbconv::is_null_device(file));
    std::fclose(null);
    std::fclose(file);
}

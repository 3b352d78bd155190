// What holds for the files of a run on every system vbconv is built for,
// Windows under Wine included: names in any script, names that differ only
// in case, outputs that exist already.
#include <gtest/gtest.h>

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

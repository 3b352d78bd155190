// What the program does when files or the console fail it: it reports the
// failure, never reports success for an output that was not written whole,
// and never writes over its own input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "driver/driver.h"
#include "support.h"

using vbtest::exists;
using vbtest::hi_image;
using vbtest::hi_listing;
using vbtest::read_file;
using vbtest::run_vbconv;
using vbtest::tok;
using vbtest::write_file;

namespace {

// A listing long enough that its trace overflows any console buffer.
std::string long_listing() {
    std::string text;
    for (int n = 1; n <= 20000; ++n) text += std::to_string(n) + " PRINT \"LINE\";" + std::to_string(n) + "\n";
    return text;
}

}  // namespace

TEST(Hardening, DirectoryAsInputIsAReadErrorAndCreatesNoOutput) {
    vbtest::Scratch s;
    ASSERT_EQ(mkdir(s.path("d.bas").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(s.path("d.txt").c_str(), 0755), 0);
    write_file(s.path("d.TXT"), "an older listing");
    vbtest::Run r = run_vbconv(s.dir, {"d.bas"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbconv: d.bas: read error: Is a directory\n");
    EXPECT_EQ(read_file(s.path("d.TXT")), "an older listing");
    r = run_vbconv(s.dir, {"d.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbconv: d.txt: read error: Is a directory\n");
    EXPECT_FALSE(exists(s.path("d.BAS")));
}

TEST(Hardening, WriteErrorsAreReportedWithStatusOne) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    write_file(s.path("B.txt"), "10 PRINT\n");
    write_file(s.path("C.bas"), hi_image());
    ASSERT_EQ(symlink("/dev/full", s.path("A.TXT").c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", s.path("B.BAS").c_str()), 0);
    vbtest::Run r = run_vbconv(s.dir, {"C.bas", "A.bas"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbconv: A.TXT: write error: No space left on device\n");
    EXPECT_FALSE(exists(s.path("C.TXT")));  // the run stops at the failure
    r = run_vbconv(s.dir, {"B.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbconv: B.BAS: write error: No space left on device\n");
}

TEST(Hardening, OutputThatIsTheInputIsLeftAlone) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    write_file(s.path("B.txt"), "10 PRINT\n");
    write_file(s.path("C.bas"), hi_image());
    ASSERT_EQ(symlink("A.bas", s.path("A.TXT").c_str()), 0);
    ASSERT_EQ(link(s.path("B.txt").c_str(), s.path("B.BAS").c_str()), 0);
    vbtest::Run r = run_vbconv(s.dir, {"C.bas", "B.txt", "A.bas"});
    EXPECT_EQ(r.status, vbconv::exit_skipped);
    EXPECT_EQ(r.err,
              "vbconv: A.TXT: is the same file as A.bas; both left untouched\n"
              "vbconv: B.BAS: is the same file as B.txt; both left untouched\n");
    EXPECT_EQ(read_file(s.path("A.bas")), hi_image());
    EXPECT_EQ(read_file(s.path("B.txt")), "10 PRINT\n");
    EXPECT_EQ(read_file(s.path("C.TXT")), hi_listing);  // the others are still converted
}

TEST(Hardening, ConsoleThatGoesAwayCostsOnlyTheEcho) {
    vbtest::Scratch s;
    std::string text = long_listing();
    write_file(s.path("big.txt"), text);
    vbtest::Run r = run_vbconv(s.dir, {"big.txt"}, vbtest::Stdout::closed_pipe);
    EXPECT_EQ(r.status, 0);
    // Only the warnings that its links wrap past the address space.
    std::istringstream err(r.err);
    for (std::string line; std::getline(err, line);) EXPECT_NE(line.find(": warning: "), std::string::npos) << line;
    EXPECT_EQ(read_file(s.path("big.BAS")), vbtest::tokenize(text).dest);

    // Named apart from big.txt, which is big.TXT where case is ignored.
    write_file(s.path("image.bas"), read_file(s.path("big.BAS")));
    r = run_vbconv(s.dir, {"image.bas"}, vbtest::Stdout::closed_pipe);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(s.path("image.TXT")), vbtest::expand(read_file(s.path("image.bas")).substr(1)).dest);
}

TEST(Hardening, ConsoleThatCannotBeWrittenIsReported) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"A.bas"}, vbtest::Stdout::full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbconv: standard output: write error: No space left on device\n");
    EXPECT_EQ(read_file(s.path("A.TXT")), hi_listing);
    // Said once, also where the conversion itself goes there.
    r = run_vbconv(s.dir, {"A.bas", "-o", "-"}, vbtest::Stdout::full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbconv: standard output: write error: No space left on device\n");
}

TEST(Hardening, OddNamesAreJustNames) {
    vbtest::Scratch s;
    const std::string names[] = {"with space.bas", "caf\xC3\xA9\xFF.bas", "-x.bas", std::string(196, 'n') + ".bas"};
    std::vector<std::string> args = {"--"};  // after it, even "-x.bas" is a name
    for (const auto &name : names) {
        write_file(s.path(name), hi_image());
        args.push_back(name);
    }
    vbtest::Run r = run_vbconv(s.dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto &name : names)
        EXPECT_EQ(read_file(s.path(name.substr(0, name.size() - 4) + ".TXT")), hi_listing) << name;
}

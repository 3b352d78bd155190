// The command line: options among files, their values, usage errors, and
// the output names that a chosen direction gives.
#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "support.h"

using vbconv::Direction;

namespace {

// Parses `args` (without the program name); returns the usage error, or ""
// with `options` and `files` filled in.  The options point into `args`.
std::string parse(std::vector<std::string> &args, vbconv::Options &options, std::vector<std::string> &files) {
    std::vector<char *> argv = {const_cast<char *>("vbconv")};
    for (auto &a : args) argv.push_back(a.data());
    const char *error = vbconv::parse_options(static_cast<int>(argv.size()), argv.data(), options);
    files.assign(options.files, options.files + options.file_count);
    return error == nullptr ? "" : error;
}

}  // namespace

TEST(Options, AreFoundAmongFilesAndTakeTheirValues) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> files;
        Direction direction;
        const char *output;  // null: none
        bool quiet;
    } cases[] = {
        {{"a.bas", "b.txt"}, {"a.bas", "b.txt"}, Direction::none, nullptr, false},
        {{"a", "--to-text", "b"}, {"a", "b"}, Direction::basic_to_text, nullptr, false},
        {{"--to-basic", "-o", "out", "-"}, {"-"}, Direction::text_to_basic, "out", false},
        {{"-qo-", "x"}, {"x"}, Direction::none, "-", true},
        {{"-ofile", "--quiet", "x"}, {"x"}, Direction::none, "file", true},
        {{"--output=dir/", "x", "y"}, {"x", "y"}, Direction::none, "dir/", false},
        {{"--output", "-q", "x"}, {"x"}, Direction::none, "-q", false},  // a value, not an option
        {{"--to-text", "--", "-q", "-o", "-"}, {"-q", "-o", "-"}, Direction::basic_to_text, nullptr, false},
        {{"x", "--to-text", "--to-text"}, {"x"}, Direction::basic_to_text, nullptr, false},
    };
    for (const Case &c : cases) {
        vbconv::Options o;
        std::vector<std::string> files;
        std::vector<std::string> args = c.args;
        std::string error = parse(args, o, files);
        EXPECT_EQ(error, "") << c.args[0];
        EXPECT_EQ(files, c.files) << c.args[0];
        EXPECT_EQ(o.direction, c.direction) << c.args[0];
        EXPECT_STREQ(o.output, c.output) << c.args[0];
        EXPECT_EQ(o.quiet, c.quiet) << c.args[0];
    }
    vbconv::Options o;
    std::vector<std::string> files;
    std::vector<std::string> all = {"--check", "--strict", "--escape", "-h", "--version"};
    EXPECT_EQ(parse(all, o, files), "");
    EXPECT_TRUE(o.check && o.strict && o.escape && o.help && o.version);
}

TEST(Options, UsageErrors) {
    struct Case {
        std::vector<std::string> args;
        const char *error;
    } cases[] = {
        {{"-x.bas"}, "unknown option -x"},
        {{"a", "--to-txt"}, "unknown option --to-txt"},
        {{"--quiet=yes"}, "option --quiet takes no value"},
        {{"a", "-o"}, "-o needs a path"},
        {{"a", "--output"}, "--output needs a path"},
        {{"-o", "", "a"}, "-o needs a path"},
        {{"-o", "x", "-o", "y", "a"}, "-o may be given only once"},
        {{"--to-text", "--to-basic", "a"}, "--to-text and --to-basic exclude each other"},
        {{"-"}, "standard input (-) needs --to-text or --to-basic"},
        {{"--to-text", "-", "-"}, "standard input (-) can be read only once"},
        {{"--check", "-o", "x", "a"}, "--check writes no file; -o has no place beside it"},
        {{"-o", "x"}, "-o names an output, but no file is named"},
    };
    for (const Case &c : cases) {
        vbconv::Options o;
        std::vector<std::string> files;
        std::vector<std::string> args = c.args;
        EXPECT_EQ(parse(args, o, files), c.error) << c.args[0];
    }
}

TEST(Options, AChosenDirectionReplacesAnyExtension) {
    struct Case {
        const char *in;
        Direction direction;
        const char *out;
    } cases[] = {
        {"PROG.PRG", Direction::basic_to_text, "PROG.TXT"},
        {"prog", Direction::text_to_basic, "prog.BAS"},
        {"a.b/prog", Direction::basic_to_text, "a.b/prog.TXT"},
        {"x.tar.gz", Direction::text_to_basic, "x.tar.BAS"},
        {"prog.bas", Direction::basic_to_text, "prog.TXT"},
        {"prog.bas", Direction::text_to_basic, "prog.BAS"},
        {".bas", Direction::basic_to_text, ".TXT"},  // as without the option
        {".prog", Direction::basic_to_text, ".prog.TXT"},
        {"dir/.prog.x", Direction::text_to_basic, "dir/.prog.BAS"},
        {"dir/", Direction::basic_to_text, "dir/.TXT"},
    };
    for (const Case &c : cases) EXPECT_EQ(vbconv::forced_output_name(c.in, c.direction), c.out) << c.in;
}

TEST(Options, UsageErrorsTouchNoFile) {
    vbtest::Scratch s;
    vbtest::write_file(s.path("a.bas"), vbtest::hi_image());
    vbtest::write_file(s.path("b.bas"), vbtest::hi_image());
    for (std::vector<std::string> args :
         {std::vector<std::string>{"a.bas", "--bogus"}, std::vector<std::string>{"-o", "one.TXT", "a.bas", "b.bas"}}) {
        vbtest::Run r = vbtest::run_vbconv(s.dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("\nusage: vbconv "), std::string::npos) << r.err;
        EXPECT_FALSE(vbtest::exists(s.path("a.TXT")));
        EXPECT_FALSE(vbtest::exists(s.path("one.TXT")));
    }
}

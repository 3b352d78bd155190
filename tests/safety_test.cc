// No run may corrupt or destroy a file: not through closed standard streams,
// a console redirected into an output, outputs that are inputs or are
// written twice, failures and signals half way, links, permissions, or bytes
// that drive a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support.h"

using vbtest::exists;
using vbtest::hi_image;
using vbtest::hi_listing;
using vbtest::image;
using vbtest::names_in;
using vbtest::read_file;
using vbtest::run_vbconv;
using vbtest::tok;
using vbtest::write_file;

namespace {

std::string big_listing() {
    std::string text;
    for (int n = 1; n <= 30000; ++n) text += std::to_string(n) + " PRINT \"A LINE OF SOME LENGTH\";" + "\n";
    return text;
}

mode_t mode_of(const std::string &path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(Safety, ClosedStandardStreamsTakeNoFile) {
    vbtest::Scratch s;
    std::string text = big_listing();
    write_file(s.path("x.txt"), text);
    vbtest::Streams closed;
    closed.out = vbtest::Stdout::closed;
    closed.close_in = true;
    vbtest::Run r = run_vbconv(s.dir, {"x.txt"}, closed);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(s.path("x.BAS")), vbtest::tokenize(text).dest);
}

TEST(Safety, StandardOutputIsNeverAFileOfTheConversion) {
    vbtest::Scratch s;
    write_file(s.path("g.bas"), hi_image());
    write_file(s.path("g.TXT"), "");
    vbtest::Streams into;
    into.out = vbtest::Stdout::file;
    into.out_path = s.path("g.TXT");  // vbconv g.bas >> g.TXT
    vbtest::Run r = run_vbconv(s.dir, {"g.bas"}, into);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbconv: g.TXT: is standard output; g.bas not converted\n");
    EXPECT_EQ(read_file(s.path("g.TXT")).find("PRINT"), std::string::npos);

    write_file(s.path("t.txt"), "10 PRINT\n");
    into.out_path = s.path("t.txt");  // vbconv t.txt >> t.txt would read its own trace for ever
    r = run_vbconv(s.dir, {"t.txt"}, into);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbconv: t.txt: is standard output; skipped\n");
    EXPECT_FALSE(exists(s.path("t.BAS")));
}

TEST(Safety, NoOutputTakesThePlaceOfAnInputOrAnEarlierOutput) {
    vbtest::Scratch s;
    std::string other_image = image({{20, std::string(1, tok("END"))}});
    struct Case {
        std::vector<std::string> args;
        std::string err;
        std::vector<std::pair<std::string, std::string>> files_after;
    } cases[] = {
        // prog.txt comes first and would replace the image named before it.
        {{"prog.BAS", "prog.txt"},
         "vbconv: prog.BAS: is also an input of this run; left untouched, prog.txt not converted\n",
         {{"prog.BAS", hi_image()}, {"prog.TXT", hi_listing}}},
        // x.bas would replace the edited listing before it is read.
        {{"x.TXT", "x.bas"},
         "vbconv: x.TXT: is also an input of this run; left untouched, x.bas not converted\n",
         {{"x.TXT", "10 END\n"}, {"x.BAS", image({{10, std::string(1, tok("END"))}})}}},
        // Two images, one listing: the first one written stays.
        {{"p.bas", "p.BAS"},
         "vbconv: p.TXT: already written by this run; not written again, p.bas not converted\n",
         {{"p.TXT", "   20 END\r\n"}}},
    };
    for (const Case &c : cases) {
        write_file(s.path("prog.BAS"), hi_image());
        write_file(s.path("prog.txt"), "10 PRINT \"BYE\"\n");
        write_file(s.path("x.bas"), hi_image());
        write_file(s.path("x.TXT"), "10 END\n");
        write_file(s.path("p.bas"), hi_image());
        write_file(s.path("p.BAS"), other_image);
        vbtest::Run r = run_vbconv(s.dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args[0];
        EXPECT_EQ(r.err, c.err);
        for (const auto &[name, content] : c.files_after) EXPECT_EQ(read_file(s.path(name)), content) << name;
    }
    // Files are told apart by identity, not by name: another name of an input
    // (a link, or another case where case is ignored) is that input.
    std::remove(s.path("prog.TXT").c_str());
    ASSERT_EQ(link(s.path("prog.BAS").c_str(), s.path("alias.bas").c_str()), 0);
    vbtest::Run r = run_vbconv(s.dir, {"alias.bas", "prog.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(s.path("alias.bas")), hi_image());
}

TEST(Safety, AFailedOrInterruptedConversionKeepsTheOldOutput) {
    vbtest::Scratch s;
    // Reading a process's own memory at offset 0 fails.
    ASSERT_EQ(symlink("/proc/self/mem", s.path("x.txt").c_str()), 0);
    write_file(s.path("x.BAS"), hi_image());
    vbtest::Run r = run_vbconv(s.dir, {"x.txt"});
    EXPECT_EQ(r.status, 1);
    if (vbtest::windows_build()) {  // where Wine words the failure its own way
        EXPECT_EQ(r.err.rfind("vbconv: x.txt: read error: ", 0), 0u) << r.err;
    } else {
        EXPECT_EQ(r.err, "vbconv: x.txt: read error: Input/output error\n");
    }
    EXPECT_EQ(read_file(s.path("x.BAS")), hi_image());
    EXPECT_EQ(names_in(s.dir), (std::vector<std::string>{"x.BAS", "x.txt"}));

    // Signalled while the echo waits on a full pipe, with half the image
    // written.  Windows knows only Ctrl-C, which Wine makes of SIGINT.
    std::vector<int> signals = {SIGTERM, SIGINT, SIGHUP};
    if (vbtest::windows_build()) signals = {SIGINT};
    for (int sig : signals) {
        vbtest::Scratch t;
        write_file(t.path("big.txt"), big_listing());
        write_file(t.path("big.BAS"), hi_image());
        vbtest::Streams blocked;
        blocked.out = vbtest::Stdout::unread_pipe;
        blocked.meanwhile = [&](int pid) {
            for (int i = 0; i < 2000 && names_in(t.dir).size() < 3; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            kill(pid, sig);
        };
        r = run_vbconv(t.dir, {"big.txt"}, blocked);
        EXPECT_EQ(r.status, vbtest::windows_build() ? vbtest::ctrl_c_status : 128 + sig);
        EXPECT_EQ(read_file(t.path("big.BAS")), hi_image());
        EXPECT_EQ(names_in(t.dir), (std::vector<std::string>{"big.BAS", "big.txt"}));
    }

    // A broken pipe ends the run where a conversion goes to standard output;
    // here the warnings of another file meet it.  (Windows has no SIGPIPE.)
    if (vbtest::windows_build()) return;
    vbtest::Scratch p;
    std::string reversed;
    for (int n = 20000; n > 0; --n) reversed += std::to_string(n) + " PRINT\n";
    write_file(p.path("rev.txt"), reversed);
    vbtest::Streams broken;
    broken.in = "10 END\n";
    broken.err_to_closed_pipe = true;
    r = run_vbconv(p.dir, {"--to-basic", "-", "rev.txt"}, broken);
    EXPECT_EQ(r.status, 128 + SIGPIPE);
    EXPECT_EQ(names_in(p.dir), (std::vector<std::string>{"rev.txt"}));
}

TEST(Safety, LinksAreReplacedNeverWrittenThrough) {
    vbtest::Scratch s;
    write_file(s.path("labloop.txt"), "10 PRINT\n");
    write_file(s.path("precious"), "keep me");
    ASSERT_EQ(symlink("precious", s.path("labloop.BAS").c_str()), 0);
    write_file(s.path("other.txt"), "10 PRINT\n");
    ASSERT_EQ(symlink("nowhere", s.path("other.BAS").c_str()), 0);
    vbtest::Run r = run_vbconv(s.dir, {"labloop.txt", "other.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(s.path("precious")), "keep me");
    EXPECT_FALSE(exists(s.path("nowhere")));
    for (const char *out : {"labloop.BAS", "other.BAS"}) {
        struct stat st {};
        ASSERT_EQ(lstat(s.path(out).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << out;
        EXPECT_EQ(read_file(s.path(out)), vbtest::tokenize("10 PRINT\n").dest);
    }
}

TEST(Safety, OutputsKeepPrivateProgramsPrivate) {
    vbtest::Scratch s;
    mode_t mask = umask(0);
    umask(mask);
    struct Case {
        mode_t input;
        int existing_output;  // -1: none
        mode_t expected;
    } cases[] = {
        {0600, -1, 0600},
        {0640, -1, 0640 & ~mask},
        {0755, -1, 0644 & ~mask},  // no execute bits
        {0600, 0664, 0664},        // a file replaced keeps its own
    };
    for (const Case &c : cases) {
        std::remove(s.path("p.TXT").c_str());
        write_file(s.path("p.bas"), hi_image());
        chmod(s.path("p.bas").c_str(), c.input);
        if (c.existing_output >= 0) {
            write_file(s.path("p.TXT"), "old");
            chmod(s.path("p.TXT").c_str(), static_cast<mode_t>(c.existing_output));
        }
        vbtest::Run r = run_vbconv(s.dir, {"p.bas"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(mode_of(s.path("p.TXT")), c.expected) << std::oct << c.input;
    }
    // A read-only output is not replaced, as it could not be written before.
    chmod(s.path("p.TXT").c_str(), 0444);
    if (access(s.path("p.TXT").c_str(), W_OK) != 0) {  // root may write anything
        vbtest::Run r = run_vbconv(s.dir, {"p.bas"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Can't open output file p.TXT\n");
    }
}

TEST(Safety, AWriteErrorGivesItsOwnReason) {
    vbtest::Scratch s;
    write_file(s.path("A.bas"), vbtest::tokenize(big_listing()).dest);
    ASSERT_EQ(symlink("/dev/full", s.path("A.TXT").c_str()), 0);
    // The output fails on its first block, and the echo goes on failing
    // after it, with EPIPE: the output's failure keeps its own reason.
    vbtest::Run r = run_vbconv(s.dir, {"A.bas"}, vbtest::Stdout::closed_pipe);
    EXPECT_EQ(r.status, 1);
    // (The image of so many lines wraps the address space: a warning comes first.)
    EXPECT_NE(r.err.find("\nvbconv: A.TXT: write error: No space left on device\n"), std::string::npos) << r.err;
}

namespace {

// Runs vbconv with standard output on a new terminal; `seen` gets what the
// terminal received.
vbtest::Run run_on_terminal(const std::string &dir, const std::vector<std::string> &args, std::string &seen) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
    vbtest::Streams tty;
    tty.out = vbtest::Stdout::file;
    tty.out_path = ptsname(master);
    tty.meanwhile = [&](int) {
        // Read until the program has closed its end and nothing more comes.
        char buf[4096];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<std::size_t>(n));
        }
    };
    vbtest::Run r = run_vbconv(dir, args, tty);
    close(master);
    return r;
}

}  // namespace

TEST(Safety, ATerminalSeesNoRawControlBytes) {
    vbtest::Scratch s;
    std::string esc_name = "t\x1b]0;x\x07.bas";
    write_file(s.path(esc_name), image({{10, tok("PRINT") + std::string(" \"\x1b[2J\x9b\"")}}));
    write_file(s.path("u.txt"), "10 PRINT \"\x1b[2J\"\n");
    std::string seen;
    vbtest::Run r = run_on_terminal(s.dir, {"u.txt", esc_name, "\x1b[31m"}, seen);
    EXPECT_EQ(r.status, 2);
    for (char c : seen) EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c <= 0x7E)) << int(c);
    EXPECT_NE(seen.find("converted to: t{$1B}]0;x{$07}.TXT"), std::string::npos) << seen;
    EXPECT_NE(seen.find("PRINT \"{$1B}[2J{$9B}\" [CR]"), std::string::npos) << seen;
    EXPECT_NE(seen.find("] {$A8} \"{$1B}[2J\" [NULL]"), std::string::npos) << seen;
    // Standard error is no terminal here, so names there stay raw.
    EXPECT_EQ(r.err,
              "vbconv: \x1b[31m: name ends in neither .bas nor .txt; skipped\n" + esc_name +
                  ": line 10: warning: 2 bytes the text cannot hold are dropped: $1B $9B; --escape keeps them\n");

    // Nor is an image written to one.
    seen.clear();
    r = run_on_terminal(s.dir, {"--to-basic", "u.txt", "-o", "-"}, seen);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(seen, "");
}

// Helpers shared by the tests: byte strings, images built record by record,
// converters run on in-memory streams, and the built program run on files.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace vbtest {

// A byte string from byte values.
std::string bytes(std::initializer_list<int> values);

// A program image built from (line number, body) records: lead byte 00,
// records linked from 0x0801, end marker 00 00.
std::string image(const std::vector<std::pair<unsigned, std::string>> &records);

// The token byte of a keyword, looked up by its spelling in the table.
char tok(const char *spelling);

// The one-line program 10 PRINT "HI": its image, the listing made of it,
// and that listing's echo on the console.
std::string hi_image();
inline const std::string hi_listing = "   10 PRINT \"HI\"\r\n";
inline const std::string hi_echo = "   10 PRINT \"HI\" [CR]\r\n";

// What a converter wrote, given `input` as source.
struct Converted {
    std::string dest;      // the output stream
    std::string console;   // the echo
    int result = 0;        // the converter's return value, where it has one
    std::string warnings;  // what it warned about, the file named "in"
    int warning_count = 0;
    int errors = 0;
};
Converted convert(const std::string &input, const std::function<int()> &converter);
Converted expand(const std::string &image_after_lead);  // p_expand on a stream without its lead byte
Converted tokenize(const std::string &text);            // p_tokenize(0x0801)

// A fresh folder for one test, removed when it goes out of scope.
struct Scratch {
    Scratch();
    ~Scratch();
    std::string path(const std::string &name) const { return dir + "/" + name; }
    std::string dir;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool exists(const std::string &path);

// The program under test, run in folder `cwd` with `args`: the built vbconv,
// or the shell command in $VBCONV_TEST_CMD (say "wine /path/to/vbconv.exe")
// with `args` appended.
struct Run {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // standard output
    std::string err;  // standard error
};
// Where its standard output goes: a file that is read back, a pipe whose
// reader has gone away, /dev/full, a file the test names (appended to),
// nowhere (closed), or a pipe nobody reads, so that the program blocks once
// it is full.
enum class Stdout { captured, closed_pipe, full, file, closed, unread_pipe };
Run run_vbconv(const std::string &cwd, const std::vector<std::string> &args, Stdout stdout_to = Stdout::captured);

// The standard streams of a run, and what the test does while it runs.
struct Streams {
    Stdout out = Stdout::captured;
    std::string out_path;                    // with Stdout::file: the file standard output appends to
    std::string in;                          // the bytes standard input holds
    bool close_in = false;                   // standard input closed instead
    bool err_to_closed_pipe = false;         // standard error a pipe whose reader has gone away
    std::function<void(int pid)> meanwhile;  // called once the program started, before waiting for it
};
Run run_vbconv(const std::string &cwd, const std::vector<std::string> &args, const Streams &streams);

// True when the program under test is a Windows build ($VBCONV_TEST_CMD runs
// a .exe), whose file system ignores case and which has no signals but Ctrl-C.
bool windows_build();

// The status a POSIX parent sees when Ctrl-C ends a Windows program: the low
// byte of 0xC000013A.
inline constexpr int ctrl_c_status = 0x3A;

// Names in folder `dir`, hidden ones included, sorted.
std::vector<std::string> names_in(const std::string &dir);

}  // namespace vbtest

// The command-line driver.  For each argument, from the last to the first:
// derive the direction and output name, announce them, open both files, tell
// a program image from plain text, run one converter, close both files.
#include "driver/driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "convert/expand.h"
#include "convert/filter.h"
#include "convert/streams.h"
#include "convert/tokenize.h"
#include "convert/warn.h"
#include "dialect/image.h"

namespace vbconv {

namespace {

constexpr const char *banner = "\nVelmar-BASIC Converter Version 2.2\n";
constexpr const char *version = "vbconv 2.2\n";
constexpr const char *usage =
    "\n"
    "usage: vbconv FILE...\n"
    "       vbconv -h | --help | --version\n"
    "\n"
    "  NAME.bas  a tokenized program image, listed as text into NAME.TXT\n"
    "  NAME.txt  a text listing, tokenized into a program image NAME.BAS\n"
    "\n"
    "The extension's case does not matter; the output gets an upper-case one and\n"
    "is written beside its input, replacing a file of that name.  Several files\n"
    "may be named; they are handled from the last to the first.  Each conversion\n"
    "is echoed: the listing of an image, the trace of a tokenized text.  A .bas\n"
    "file that is not a program image is copied as filtered plain text.  Every\n"
    "argument other than -h, --help and --version is a file name.\n"
    "\n"
    "Exit status: 0 all converted; 1 a file could not be opened, read or written\n"
    "(the run stops there); 2 some argument was skipped.  See vbconv(1).\n";
constexpr const char *ml_notice = "\r\n*** Machine language part skipped. ***\r\n";

// What handling one argument came to.
enum class Outcome { converted, skipped, failed };

// Writes a diagnostic to standard error, after whatever the console holds so
// far, so that the two appear in the order they happened.
template <typename... Args>
void complain(const char *format, Args... args) {
    std::fflush(console);
    std::fprintf(stderr, format, args...);
}

const char *reason(int err) { return std::strerror(err != 0 ? err : EIO); }

bool ends_with_nocase(std::string_view name, std::string_view ext) {
    if (name.size() < ext.size()) return false;
    name.remove_prefix(name.size() - ext.size());
    for (std::size_t i = 0; i < ext.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(name[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + ('a' - 'A'));
        if (a != static_cast<unsigned char>(ext[i])) return false;
    }
    return true;
}

// Tells a program image (lead byte 0x00 or 0x01, or nothing at all) from
// plain text and runs the matching converter.
void convert_basic() {
    int c = getc_unlocked(source);
    if (c != EOF) ungetc(c, source);
    if (c != EOF && c != lead_byte && c != alt_lead_byte) {
        pet_2_asc();
        return;
    }
    (void)getc_unlocked(source);  // the lead byte is consumed here
    image_lead = c;
    if (p_expand() != 0) std::fputs(ml_notice, dest);
}

// Opens the output of `in_name`, once sure that writing it cannot harm the
// input: it is not a directory and the output name does not lead to it.
Outcome open_output(const char *in_name, const std::string &out_name) {
    struct stat in_st;
    int err = fstat(fileno(source), &in_st) != 0 ? errno : S_ISDIR(in_st.st_mode) ? EISDIR : 0;
    if (err != 0) {
        complain("vbconv: %s: read error: %s\n", in_name, reason(err));
        return Outcome::failed;
    }
    struct stat out_st;
    if (stat(out_name.c_str(), &out_st) == 0 && out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino) {
        complain("vbconv: %s: is the same file as %s; both left untouched\n", out_name.c_str(), in_name);
        return Outcome::skipped;
    }
    dest = std::fopen(out_name.c_str(), "wb");
    if (dest == nullptr) {
        complain("Can't open output file %s\n", out_name.c_str());
        return Outcome::failed;
    }
    return Outcome::converted;
}

// Closes both streams and reports what went wrong reading or writing them.
Outcome close_streams(const char *in_name, const std::string &out_name) {
    Outcome outcome = Outcome::converted;
    if (std::ferror(source)) {
        complain("vbconv: %s: read error: %s\n", in_name, reason(errno));
        outcome = Outcome::failed;
    }
    std::fclose(source);
    int write_err = std::ferror(dest) ? errno : 0;
    bool write_failed = std::ferror(dest) != 0;
    if (std::fclose(dest) != 0 && !write_failed) {
        write_failed = true;
        write_err = errno;
    }
    if (write_failed && outcome == Outcome::converted) {
        complain("vbconv: %s: write error: %s\n", out_name.c_str(), reason(write_err));
        outcome = Outcome::failed;
    }
    return outcome;
}

Outcome convert(const char *in_name) {
    std::string out_name;
    Direction direction = output_name(in_name, out_name);
    if (direction == Direction::none) {
        complain("vbconv: %s: name ends in neither .bas nor .txt; skipped\n", in_name);
        return Outcome::skipped;
    }
    std::fputs(direction == Direction::basic_to_text ? "\nBASIC to TEXT, " : "\nTEXT to BASIC, ", console);
    std::fprintf(console, "converted to: %s\n\n", out_name.c_str());

    source = std::fopen(in_name, "rb");
    if (source == nullptr) {
        complain("Can't open input file %s\n", in_name);
        return Outcome::failed;
    }
    if (Outcome opened = open_output(in_name, out_name); opened != Outcome::converted) {
        std::fclose(source);
        return opened;
    }

    warnings_begin(in_name);
    if (direction == Direction::text_to_basic)
        p_tokenize(load_address);
    else
        convert_basic();
    warnings_end();
    return close_streams(in_name, out_name);
}

// Flushes the console; a reader that went away early (a closed pipe) costs
// only the echo, any other failure is reported.  True when all is well.
bool finish_console() {
    if (std::fflush(console) == 0 && !std::ferror(console)) return true;
    if (errno == EPIPE) return true;
    std::fprintf(stderr, "vbconv: standard output: write error: %s\n", reason(errno));
    return false;
}

}  // namespace

Direction output_name(std::string_view name, std::string &out) {
    Direction direction = Direction::none;
    std::string_view ext;
    if (ends_with_nocase(name, ".bas")) {
        direction = Direction::basic_to_text;
        ext = ".TXT";
    } else if (ends_with_nocase(name, ".txt")) {
        direction = Direction::text_to_basic;
        ext = ".BAS";
    } else {
        return Direction::none;
    }
    out.assign(name);
    out.replace(out.size() - ext.size(), ext.size(), ext);
    return direction;
}

int run(int argc, char **argv) {
    // A console that goes away must not kill a conversion half way: writes to
    // it fail instead, and the files are still written whole.
    std::signal(SIGPIPE, SIG_IGN);
    console_by_line = isatty(fileno(stdout)) != 0;

    for (int n = 1; n < argc; ++n) {
        if (std::strcmp(argv[n], "--version") == 0) {
            std::fputs(version, console);
            return finish_console() ? exit_ok : exit_failure;
        }
    }
    std::fputs(banner, console);
    for (int n = 1; n < argc; ++n) {
        if (std::strcmp(argv[n], "--help") == 0 || std::strcmp(argv[n], "-h") == 0) {
            std::fputs(usage, console);
            return finish_console() ? exit_ok : exit_failure;
        }
    }

    int status = exit_ok;
    for (int n = argc - 1; n >= 1; --n) {
        Outcome outcome = convert(argv[n]);
        if (outcome == Outcome::failed) {
            finish_console();
            return exit_failure;
        }
        if (outcome == Outcome::skipped) status = exit_skipped;
    }
    if (!finish_console()) return exit_failure;
    return status;
}

}  // namespace vbconv

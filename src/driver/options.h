// The command line: options, and the files named among them.
#pragma once

namespace vbconv {

// Conversion directions: chosen by an option for every file, or by each
// input name's extension.
enum class Direction { none, basic_to_text, text_to_basic };

// What the command line asks for.
struct Options {
    Direction direction = Direction::none;  // --to-text or --to-basic; none: by each name's extension
    const char *output = nullptr;           // -o PATH: a file, a folder for every output, or "-"
    bool quiet = false;                     // -q: no banner, per-file lines or echo
    bool check = false;                     // --check: read and report, write no file
    bool strict = false;                    // --strict: warnings make the exit status 3
    bool escape = false;                    // --escape: exact conversions, {$hh} for what text cannot hold
    bool help = false;                      // -h, --help
    bool version = false;                   // --version
    char **files = nullptr;                 // the files named, in command-line order ("-" is standard input)
    int file_count = 0;
};

// Reads the arguments argv[1] to argv[argc - 1] into `options`.  Options may
// stand anywhere among the files, and "--" makes every later argument a file.
// The files are gathered at the front of argv, in their order, so that
// options.files points into argv.  Returns null, or the reason the command
// line is unusable (a usage error).
const char *parse_options(int argc, char **argv, Options &options);

}  // namespace vbconv

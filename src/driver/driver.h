// The command-line driver: names, opens and closes the files of each
// conversion and points the converters' streams at them.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vbconv {

// Exit statuses of the process.
inline constexpr int exit_ok = 0;       // every argument was converted
inline constexpr int exit_failure = 1;  // a file could not be opened, read or written; the run stopped there
inline constexpr int exit_skipped = 2;  // an argument was left alone (its name, or output = input); others converted

// Conversion directions, chosen by the input name's extension.
enum class Direction { none, basic_to_text, text_to_basic };

// Chooses the direction for the file `name` and sets `out` to its output name:
// ".bas" becomes ".TXT" and ".txt" becomes ".BAS", whatever the input's case.
// Returns Direction::none (and leaves `out` alone) for any other name.
Direction output_name(std::string_view name, std::string &out);

// Runs the whole program on its command line and returns the exit status.
int run(int argc, char **argv);

}  // namespace vbconv

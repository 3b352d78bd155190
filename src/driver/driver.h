// The command-line driver: reads the options, works out each input's
// direction and output, opens the files of each conversion, points the
// converters' streams at them, and keeps or drops each output.
#pragma once

#include <string>
#include <string_view>

#include "driver/options.h"

namespace vbconv {

// Exit statuses of the process; when several apply, the lowest but 0 wins.
inline constexpr int exit_ok = 0;  // every argument was converted
inline constexpr int exit_failure =
    1;  // a usage error, or a file could not be opened, read or written: the run stopped
inline constexpr int exit_skipped = 2;   // an argument was left alone (its name, or its output); others converted
inline constexpr int exit_findings = 3;  // warnings under --strict, or findings of --check

// Chooses the direction for the file `name` by its extension and sets `out`
// to its output name: ".bas" becomes ".TXT" and ".txt" becomes ".BAS",
// whatever the input's case.  Returns Direction::none (and leaves `out`
// alone) for any other name.
Direction output_name(std::string_view name, std::string &out);

// The output name of `name` converted in `direction` whatever its name: its
// extension (from the last '.' of its last component, unless that dot begins
// the component), if it has one, replaced by ".TXT" or ".BAS", or else that
// added.  Where output_name gives a name, this gives the same.
std::string forced_output_name(std::string_view name, Direction direction);

// Runs the whole program on its command line and returns the exit status.
int run(int argc, char **argv);

}  // namespace vbconv

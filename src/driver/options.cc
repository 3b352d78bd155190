// Option parsing, in the manner of getopt: short options may be bundled
// (-qo OUT), -o takes the next argument or the rest of its own (-oOUT), and
// long options may give their value after '=' (--output=OUT).
#include "driver/options.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace vbconv {

namespace {

char problem[512];  // the reason of the last usage error

const char *fail(const char *format, std::string_view what) {
    std::snprintf(problem, sizeof problem, format, static_cast<int>(what.size()), what.data());
    return problem;
}

const char *set_direction(Options &options, Direction direction) {
    if (options.direction != Direction::none && options.direction != direction)
        return "--to-text and --to-basic exclude each other";
    options.direction = direction;
    return nullptr;
}

const char *set_output(Options &options, const char *path) {
    if (options.output != nullptr) return "-o may be given only once";
    if (*path == '\0') return "-o needs a path";
    options.output = path;
    return nullptr;
}

// A long option, "--name" or "--name=value"; `next` is the argument after it,
// which --output takes when no '=' gave it a value.  Sets `used_next` when
// it took that argument.
const char *long_option(Options &options, std::string_view arg, const char *next, bool &used_next) {
    std::string_view name = arg.substr(0, arg.find('='));
    const char *value = name.size() < arg.size() ? arg.data() + name.size() + 1 : nullptr;
    if (name == "--output") {
        if (value == nullptr) {
            if (next == nullptr) return "--output needs a path";
            value = next;
            used_next = true;
        }
        return set_output(options, value);
    }
    if (value != nullptr) return fail("option %.*s takes no value", name);
    if (name == "--to-text") return set_direction(options, Direction::basic_to_text);
    if (name == "--to-basic") return set_direction(options, Direction::text_to_basic);
    bool *flag = name == "--quiet"     ? &options.quiet
                 : name == "--check"   ? &options.check
                 : name == "--strict"  ? &options.strict
                 : name == "--escape"  ? &options.escape
                 : name == "--help"    ? &options.help
                 : name == "--version" ? &options.version
                                       : nullptr;
    if (flag == nullptr) return fail("unknown option %.*s", arg);
    *flag = true;
    return nullptr;
}

// Bundled short options after a single dash, such as "-q" or "-qoOUT".
const char *short_options(Options &options, const char *arg, const char *next, bool &used_next) {
    for (const char *p = arg + 1; *p != '\0'; ++p) {
        switch (*p) {
            case 'q':
                options.quiet = true;
                break;
            case 'h':
                options.help = true;
                break;
            case 'o':
                if (p[1] != '\0') return set_output(options, p + 1);
                if (next == nullptr) return "-o needs a path";
                used_next = true;
                return set_output(options, next);
            default:
                return fail("unknown option -%.*s", std::string_view(p, 1));
        }
    }
    return nullptr;
}

}  // namespace

const char *parse_options(int argc, char **argv, Options &options) {
    options = Options{};
    int files = 1;  // files are moved down to argv[1], argv[2], ... as they are met
    bool only_files = false;
    for (int n = 1; n < argc; ++n) {
        char *arg = argv[n];
        if (only_files || arg[0] != '-' || arg[1] == '\0') {  // "-" alone is standard input
            argv[files++] = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            only_files = true;
            continue;
        }
        const char *next = n + 1 < argc ? argv[n + 1] : nullptr;
        bool used_next = false;
        const char *error =
            arg[1] == '-' ? long_option(options, arg, next, used_next) : short_options(options, arg, next, used_next);
        if (error != nullptr) return error;
        if (used_next) ++n;
    }
    options.files = argv + 1;
    options.file_count = files - 1;
    if (options.help || options.version) return nullptr;

    int standard_inputs = 0;
    for (int i = 0; i < options.file_count; ++i) standard_inputs += std::strcmp(options.files[i], "-") == 0;
    if (standard_inputs > 1) return "standard input (-) can be read only once";
    if (standard_inputs == 1 && options.direction == Direction::none)
        return "standard input (-) needs --to-text or --to-basic";
    if (options.check && options.output != nullptr) return "--check writes no file; -o has no place beside it";
    if (options.output != nullptr && options.file_count == 0) return "-o names an output, but no file is named";
    return nullptr;
}

}  // namespace vbconv

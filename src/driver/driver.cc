// The command-line driver.  It reads the options, then handles the files from
// the last named to the first: works out each one's direction and output,
// announces it, opens the input, refuses any output that would harm a file,
// runs one converter, and keeps the output only when it is complete.
#include "driver/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <set>
#include <vector>

#include "convert/escape.h"
#include "convert/expand.h"
#include "convert/filter.h"
#include "convert/streams.h"
#include "convert/tokenize.h"
#include "convert/warn.h"
#include "dialect/image.h"
#include "driver/files.h"
#include "driver/version.h"

namespace vbconv {

namespace {

constexpr const char *banner = "\nVelmar-BASIC Converter Version " VBCONV_VERSION "\n";
constexpr const char *version = "vbconv " VBCONV_VERSION "\n";
constexpr const char *usage_line =
    "usage: vbconv [-q] [--to-text | --to-basic] [-o PATH] [--check] [--strict] [--escape] [--] FILE...\n";
constexpr const char *usage =
    "\n"
    "usage: vbconv FILE...\n"
    "       vbconv [-q] [--to-text | --to-basic] [-o PATH] [--check] [--strict] [--escape] [--] FILE...\n"
    "       vbconv -h | --help | --version\n"
    "\n"
    "  NAME.bas  a tokenized program image, listed as text into NAME.TXT\n"
    "  NAME.txt  a text listing, tokenized into a program image NAME.BAS\n"
    "\n"
    "The extension's case does not matter; the output gets an upper-case one and\n"
    "is written beside its input, replacing a file of that name once it is\n"
    "complete.  Several files may be named; they are handled from the last to the\n"
    "first.  Each conversion is echoed: the listing of an image, the trace of a\n"
    "tokenized text.  A .bas file that is not a program image is copied as\n"
    "filtered plain text.\n"
    "\n"
    "  --to-text     list every file named, whatever its name (output NAME.TXT)\n"
    "  --to-basic    tokenize every file named, whatever its name (output NAME.BAS)\n"
    "  -o PATH       the output file; with several files, a folder for them all;\n"
    "                - for standard output\n"
    "  -             as a file: standard input (with --to-text or --to-basic),\n"
    "                converted to standard output unless -o names a file\n"
    "  -q, --quiet   no banner, per-file lines or echo\n"
    "  --check       convert nothing: report what a conversion would lose\n"
    "  --strict      exit with status 3 when a conversion gave warnings\n"
    "  --escape      exact conversions: {$hh} stands for a byte text cannot hold\n"
    "  --            every later argument is a file\n"
    "\n"
    "Whenever a conversion goes to standard output, nothing else does.  Warnings\n"
    "and errors go to standard error.\n"
    "\n"
    "Exit status: 0 all converted; 1 a usage error, or a file could not be\n"
    "opened, read or written (the run stops there); 2 some file was skipped;\n"
    "3 warnings under --strict, or findings of --check.  See vbconv(1).\n";
constexpr const char *ml_notice = "\r\n*** Machine language part skipped. ***\r\n";
constexpr const char *stdin_name = "standard input";

// What handling one file came to.
enum class Outcome {
    converted,  // and nothing to say
    warned,     // converted, with warnings under --strict, or findings of --check
    skipped,    // left alone, with a message
    failed,     // a failure that stops the run
};

// One file of the run, from its name to its output.
struct Job {
    const char *in_name;   // as named, or stdin_name
    bool from_stdin;       // the file named "-"
    Direction direction;   // never none once resolved
    std::string out_name;  // the output file, unless to_stdout or checking
    bool to_stdout;        // the conversion goes to standard output
    Replacing replacing;   // how the output is being written
    FileId in_id;          // what the input is, once it is open
    FileId out_id;         // what the output's name leads to, as refuse_harm found it
};

Options options;
bool console_quiet;  // nothing but a conversion itself goes to standard output
bool stderr_is_terminal;
bool listed_image;                  // the current file was listed as a program image, not filtered as plain text
std::vector<FileId> inputs_of_run;  // every file named, as found before the first was handled, sorted by identity
// The order of identities that the lookups below sort by.
bool id_before(const FileId &a, const FileId &b) {
    return a.volume != b.volume ? a.volume < b.volume
           : a.index != b.index ? a.index < b.index
                                : a.index_high < b.index_high;
}
struct IdOrder {
    bool operator()(const FileId &a, const FileId &b) const { return id_before(a, b); }
};
std::set<FileId, IdOrder> outputs_written;  // every output this run has completed
FileId stdout_id;                           // what standard output leads to, if it is a plain file

// A name as it may be shown: where the text goes to a terminal, every byte
// outside printable ASCII is written as {$hh}, so that a name cannot drive
// the terminal.
std::string shown(std::string_view name, bool terminal) {
    if (!terminal) return std::string(name);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : name) {
        if (c >= 0x20 && c <= 0x7E) {
            s.push_back(static_cast<char>(c));
        } else {
            s += "{$";
            s.push_back(hex[c >> 4]);
            s.push_back(hex[c & 0xF]);
            s.push_back('}');
        }
    }
    return s;
}

std::string err_name(std::string_view name) { return shown(name, stderr_is_terminal); }

int stdout_error;  // the reason the first failed flush of standard output gave, from that call

void flush_stdout() {
    errno = 0;
    if (std::fflush(stdout) != 0 && stdout_error == 0) stdout_error = write_error(stdout, errno);
}

// Writes a diagnostic to standard error, after whatever standard output holds
// so far, so that the two appear in the order they happened.
[[gnu::format(printf, 1, 2)]] void complain(const char *format, ...) {
    flush_stdout();
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
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

#ifdef _WIN32
bool is_separator(char c) { return c == '/' || c == '\\' || c == ':'; }
constexpr bool folders_open = false;        // fopen refuses a folder (EACCES)
constexpr bool ids_survive_rename = false;  // FAT's file index is where its entry is
#else
bool is_separator(char c) { return c == '/'; }
constexpr bool folders_open = true;        // fopen reads a folder; the reads fail
constexpr bool ids_survive_rename = true;  // an inode keeps its number through a rename
#endif

// The last component of a path.
std::string_view base_name(std::string_view path) {
    std::size_t i = path.size();
    while (i > 0 && !is_separator(path[i - 1])) --i;
    return path.substr(i);
}

// Works out the direction and the output of the file `name`.  Returns false
// when it has no direction: a name that ends in neither .bas nor .txt, and
// no option that chose one.
bool resolve(const char *name, Job &job) {
    job = Job{};
    job.from_stdin = std::strcmp(name, "-") == 0;
    job.in_name = job.from_stdin ? stdin_name : name;
    if (options.direction != Direction::none) {
        job.direction = options.direction;
        if (!job.from_stdin) job.out_name = forced_output_name(name, job.direction);
    } else {
        job.direction = output_name(name, job.out_name);
        if (job.direction == Direction::none) return false;
    }
    if (options.check) return true;
    if (options.output == nullptr) {
        job.to_stdout = job.from_stdin;
    } else if (std::strcmp(options.output, "-") == 0) {
        job.to_stdout = true;
    } else if (is_directory(options.output)) {
        std::string folder = options.output;
        if (!is_separator(folder.back())) folder.push_back('/');
        job.out_name = folder + std::string(base_name(job.out_name));
    } else {
        job.out_name = options.output;
    }
    return true;
}

// The usage errors that only the file system can tell, found before any file
// is touched; null when there are none.
const char *check_outputs() {
    if (options.output == nullptr || options.check) return nullptr;
    bool to_stdout = std::strcmp(options.output, "-") == 0;
    bool to_folder = !to_stdout && is_directory(options.output);
    if (options.file_count > 1 && !to_folder) return "-o PATH with several files needs PATH to be a folder";
    if (to_folder && std::strcmp(options.files[0], "-") == 0)
        return "standard input has no name to give its output in a folder";
    return nullptr;
}

// Whether `id` is in `ids`, sorted by id_before: a run of many files asks
// this of every output, so a walk over them all would cost the square.
bool among(const std::vector<FileId> &ids, const FileId &id) {
    auto at = std::lower_bound(ids.begin(), ids.end(), id, id_before);
    return at != ids.end() && same_file(*at, id);
}

// Tells a program image (lead byte 0x00 or 0x01, or nothing at all) from
// plain text and runs the matching converter.
void convert_basic() {
    int c = std::getc(source);
    if (c != EOF) ungetc(c, source);
    if (c != EOF && c != lead_byte && c != alt_lead_byte) {
        pet_2_asc();
        return;
    }
    (void)std::getc(source);  // the lead byte is consumed here
    image_lead = c;
    listed_image = true;
    if (p_expand() != 0 && dest != nullptr) std::fputs(ml_notice, dest);
}

// Refuses an output that would harm a file: the input itself, another file
// named in this run (handled already or still to come), an output this run
// has already written, or the file standard output is writing.  Also refuses
// to read the file standard output is writing.  Returns skipped after saying
// why, or converted.
Outcome refuse_harm(Job &job) {
    const FileId &in = job.in_id;
    if (same_file(in, stdout_id)) {
        complain("vbconv: %s: is standard output; skipped\n", err_name(job.in_name).c_str());
        return Outcome::skipped;
    }
    if (job.to_stdout || options.check) return Outcome::converted;

    FileId out = job.out_id = id_of(job.out_name.c_str());
    std::string o = err_name(job.out_name), i = err_name(job.in_name);
    if (same_file(out, in)) {
        complain("vbconv: %s: is the same file as %s; both left untouched\n", o.c_str(), i.c_str());
        return Outcome::skipped;
    }
    if (among(inputs_of_run, out)) {
        complain("vbconv: %s: is also an input of this run; left untouched, %s not converted\n", o.c_str(), i.c_str());
        return Outcome::skipped;
    }
    if (out.known && outputs_written.count(out) != 0) {
        complain("vbconv: %s: already written by this run; not written again, %s not converted\n", o.c_str(),
                 i.c_str());
        return Outcome::skipped;
    }
    if (same_file(out, stdout_id)) {
        complain("vbconv: %s: is standard output; %s not converted\n", o.c_str(), i.c_str());
        return Outcome::skipped;
    }
    return Outcome::converted;
}

// Opens the input of `job` as source: standard input, or the file named.
Outcome open_source(Job &job) {
    if (job.from_stdin) {
        source = stdin;
        job.in_id = id_of(source);
        return Outcome::converted;
    }
    source = std::fopen(job.in_name, "rb");
    if (source != nullptr) {
        job.in_id = id_of(source);
        // A buffer of its own, so that stdio does not ask the system how
        // large to make one; reads of whole blocks go around it anyway.
        static char buffer[4096];
        setvbuf(source, buffer, _IOFBF, sizeof buffer);
    }
    // A folder opens for reading on POSIX systems, and fails to open on
    // Windows; either way it is caught here, before any output is opened.
    if (folders_open ? source != nullptr && job.in_id.directory : is_directory(job.in_name)) {
        complain("vbconv: %s: read error: %s\n", err_name(job.in_name).c_str(), reason(EISDIR));
        return Outcome::failed;
    }
    if (source == nullptr) {
        complain("Can't open input file %s\n", err_name(job.in_name).c_str());
        return Outcome::failed;
    }
    return Outcome::converted;
}

// Opens the output of `job` as dest: nothing when checking, standard output,
// or the output file.
Outcome open_dest(Job &job) {
    dest_out.error = 0;
    if (options.check) {
        dest = nullptr;
        return Outcome::converted;
    }
    if (job.to_stdout) {
        dest = stdout;
        return Outcome::converted;
    }
    int err = 0;
    dest = open_output(job.out_name.c_str(), job.from_stdin ? nullptr : &job.in_id, &job.out_id, job.replacing, err);
    if (dest == nullptr) {
        complain("Can't open output file %s\n", err_name(job.out_name).c_str());
        return Outcome::failed;
    }
    return Outcome::converted;
}

void close_source(const Job &job) {
    if (!job.from_stdin) std::fclose(source);
    source = nullptr;
}

// Closes both streams of a conversion that ran, reports what went wrong
// reading or writing them, and keeps the output only when all went well.
Outcome finish(Job &job, bool converter_failed) {
    Outcome outcome = converter_failed ? Outcome::failed : Outcome::converted;
    if (std::ferror(source)) {
        complain("vbconv: %s: read error: %s\n", err_name(job.in_name).c_str(), reason(source_error));
        outcome = Outcome::failed;
    }
    close_source(job);
    if (dest == nullptr) return outcome;

    int write_err = std::ferror(dest) ? write_error(dest, dest_out.error) : 0;
    bool write_failed = std::ferror(dest) != 0;
    if (job.to_stdout) {
        // Standard output's failure stops the run, and finish_console, which
        // the run calls next, reports it once: a reader that went away, as
        // quietly as a filter's does.
        if (write_failed && stdout_error == 0) stdout_error = write_err;
        flush_stdout();
        return std::ferror(stdout) ? Outcome::failed : outcome;
    }
    // Where a rename keeps a file's identity, the new file is asked while it
    // is open, without looking its name up again.
    FileId done = ids_survive_rename && outcome == Outcome::converted && !write_failed ? id_of(dest) : FileId{};
    if (outcome != Outcome::converted || write_failed) {
        discard_output(dest, job.replacing);
    } else if ((write_err = commit_output(dest, job.replacing, job.out_name.c_str())) != 0) {
        write_failed = true;
    } else {
        if (!ids_survive_rename) done = id_of(job.out_name.c_str());
        if (done.known) outputs_written.insert(done);
    }
    dest = nullptr;
    if (write_failed && outcome == Outcome::converted) {
        complain("vbconv: %s: write error: %s\n", err_name(job.out_name).c_str(), reason(write_err));
        outcome = Outcome::failed;
    }
    return outcome;
}

void announce(const Job &job) {
    if (console_quiet) return;
    std::fputs(job.direction == Direction::basic_to_text ? "\nBASIC to TEXT, " : "\nTEXT to BASIC, ", stdout);
    std::fprintf(stdout, "converted to: %s\n\n", shown(job.out_name, console_is_terminal).c_str());
}

// Says on standard output what --check found in one file: "NAME: ok", or
// how many warnings it gave and whether its listing would come back.
void report_check(const Job &job, int warnings, bool differs) {
    std::string name = shown(job.in_name, console_is_terminal);
    if (warnings == 0 && !differs) {
        std::printf("%s: ok\n", name.c_str());
        return;
    }
    std::printf("%s: %d warning%s", name.c_str(), warnings, warnings == 1 ? "" : "s");
    if (differs) std::printf("; its listing would not come back as the same image: %s", image_difference);
    std::printf("\n");
}

// Handles the file `name`, from its name to its output.
Outcome handle(const char *name) {
    Job job;
    if (!resolve(name, job)) {
        complain("vbconv: %s: name ends in neither .bas nor .txt; skipped\n", err_name(name).c_str());
        return Outcome::skipped;
    }
    announce(job);
    if (Outcome opened = open_source(job); opened != Outcome::converted) {
        if (source != nullptr) close_source(job);
        return opened;
    }
    if (Outcome refused = refuse_harm(job); refused != Outcome::converted) {
        close_source(job);
        return refused;
    }
    if (Outcome opened = open_dest(job); opened != Outcome::converted) {
        close_source(job);
        return opened;
    }
    source_error = 0;
    listed_image = false;
    std::string warn_name = err_name(job.in_name);  // held by the warnings until they end
    warnings_begin(warn_name.c_str());
    if (job.direction == Direction::text_to_basic)
        p_tokenize(load_address);
    else
        convert_basic();
    int warnings = warnings_end();
    // A conversion that met an error (escape mode's line that no record
    // holds) has said so; its output is not kept.
    Outcome outcome = finish(job, file_errors() != 0);
    if (outcome != Outcome::converted) return outcome;
    bool differs = listed_image && !image_comes_back;
    if (options.check) report_check(job, warnings, differs);
    return warnings > 0 && (options.strict || options.check) ? Outcome::warned
           : options.check && differs                        ? Outcome::warned
                                                             : Outcome::converted;
}

// Flushes standard output; a reader that went away early (a closed pipe)
// costs only the echo, any other failure is reported.  True when all is well.
bool finish_console() {
    flush_stdout();
    int err = console_out.error != 0 ? write_error(stdout, console_out.error) : stdout_error;
    if (!std::ferror(stdout) || err == EPIPE) return true;
    std::fprintf(stderr, "vbconv: standard output: write error: %s\n", reason(err));
    return false;
}

int usage_error(const char *problem) {
    std::fprintf(stderr, "vbconv: %s\n%sTry 'vbconv --help' for more.\n", problem, usage_line);
    return exit_failure;
}

// Whether any conversion of the run goes to standard output.
bool any_to_stdout() {
    if (options.check) return false;
    if (options.output != nullptr) return std::strcmp(options.output, "-") == 0;
    for (int i = 0; i < options.file_count; ++i)
        if (std::strcmp(options.files[i], "-") == 0) return true;
    return false;
}

// Notes what every file named is before any is handled, so that no output
// can take the place of one still to be read.
void note_inputs() {
    inputs_of_run.clear();
    outputs_written.clear();
    for (int i = 0; i < options.file_count; ++i) {
        FileId id = std::strcmp(options.files[i], "-") == 0 ? id_of(stdin) : id_of(options.files[i]);
        if (id.known) inputs_of_run.push_back(id);  // an unknown one is the same as nothing
    }
    std::sort(inputs_of_run.begin(), inputs_of_run.end(), id_before);
    FileId out = id_of(stdout);
    stdout_id = out.regular ? out : FileId{};
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

std::string forced_output_name(std::string_view name, Direction direction) {
    std::string out;
    if (output_name(name, out) != Direction::none) {  // ".bas" alone, too, gives ".TXT" as ever
        out.replace(out.size() - 4, 4, direction == Direction::basic_to_text ? ".TXT" : ".BAS");
        return out;
    }
    // The dot that begins a hidden file's name begins no extension.
    std::string_view base = base_name(name);
    std::size_t dot = base.rfind('.');
    bool extension = dot != std::string_view::npos && dot != 0;
    out.assign(name.substr(0, name.size() - (extension ? base.size() - dot : 0)));
    return out + (direction == Direction::basic_to_text ? ".TXT" : ".BAS");
}

int run(int argc, char **argv) {
    guard_standard_streams();
    if (const char *problem = parse_options(argc, argv, options)) return usage_error(problem);
    // A console that goes away must not kill a conversion half way: writes to
    // it fail instead, and the files are still written whole.  Where the
    // conversion itself goes to standard output, the process ends quietly
    // instead, as a filter in a pipe does.
    bool data_to_stdout = any_to_stdout();
    broken_pipe_ends_process(data_to_stdout);
    console_is_terminal = is_terminal(stdout);
    stderr_is_terminal = is_terminal(stderr);
    console_quiet = options.quiet || options.check || data_to_stdout;
    // What the converters echo to the null device is not built at all; the
    // run's own messages still go there, as they are.
    console = console_quiet || is_null_device(stdout) ? nullptr : stdout;
    escape_mode = options.escape;

    if (options.version) {
        std::fputs(version, stdout);
        return finish_console() ? exit_ok : exit_failure;
    }
    if (options.help) {
        std::fputs(banner, stdout);
        std::fputs(usage, stdout);
        return finish_console() ? exit_ok : exit_failure;
    }
    if (const char *problem = check_outputs()) return usage_error(problem);
    if (data_to_stdout && options.direction == Direction::text_to_basic && console_is_terminal) {
        complain("vbconv: a program image is not written to a terminal; name a file with -o, or redirect\n");
        return exit_failure;
    }

    if (!console_quiet) std::fputs(banner, stdout);
    note_inputs();
    bool skipped = false, warned = false;
    for (int n = options.file_count - 1; n >= 0; --n) {
        Outcome outcome = handle(options.files[n]);
        if (outcome == Outcome::failed) {
            finish_console();
            return exit_failure;
        }
        skipped |= outcome == Outcome::skipped;
        warned |= outcome == Outcome::warned;
    }
    if (!finish_console()) return exit_failure;
    return skipped ? exit_skipped : warned ? exit_findings : exit_ok;
}

}  // namespace vbconv

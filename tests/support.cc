#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "convert/expand.h"
#include "convert/streams.h"
#include "convert/tokenize.h"
#include "convert/warn.h"
#include "dialect/image.h"
#include "dialect/keyword.h"

namespace vbtest {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

std::string image(const std::vector<std::pair<unsigned, std::string>> &records) {
    std::string out(1, '\0');
    unsigned address = vbconv::load_address;
    for (const auto &[line, body] : records) {
        address = vbconv::next_address(address, static_cast<unsigned>(body.size()));
        out += bytes({int(address & 0xFF), int(address >> 8), int(line & 0xFF), int(line >> 8 & 0xFF)});
        out += body;
        out.push_back('\0');
    }
    out += bytes({0, 0});
    return out;
}

char tok(const char *spelling) {
    for (int p = 0; p < vbconv::keyword_count; ++p)
        if (vbconv::keyword[p] == spelling) return static_cast<char>(vbconv::token_base + p);
    throw std::invalid_argument(spelling);
}

std::string hi_image() { return image({{10, tok("PRINT") + std::string(" \"HI\"")}}); }

namespace {

std::string drain(std::FILE *f, char *&buf, std::size_t &size) {
    std::fclose(f);
    std::string s(buf, size);
    std::free(buf);
    return s;
}

}  // namespace

Converted convert(const std::string &input, const std::function<int()> &converter) {
    vbconv::source = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), vbconv::source);
    std::rewind(vbconv::source);
    char *dest_buf = nullptr, *console_buf = nullptr;
    std::size_t dest_size = 0, console_size = 0;
    vbconv::dest = open_memstream(&dest_buf, &dest_size);
    std::FILE *saved_console = vbconv::console;
    vbconv::console = open_memstream(&console_buf, &console_size);
    char *warn_buf = nullptr;
    std::size_t warn_size = 0;
    std::FILE *saved_warn = vbconv::warn_stream;
    vbconv::warn_stream = open_memstream(&warn_buf, &warn_size);

    Converted c;
    vbconv::warnings_begin("in");
    c.result = converter();
    c.warning_count = vbconv::warnings_end();
    c.errors = vbconv::file_errors();
    std::fclose(vbconv::source);
    c.dest = drain(vbconv::dest, dest_buf, dest_size);
    c.console = drain(vbconv::console, console_buf, console_size);
    c.warnings = drain(vbconv::warn_stream, warn_buf, warn_size);
    vbconv::console = saved_console;
    vbconv::warn_stream = saved_warn;
    return c;
}

Converted expand(const std::string &image_after_lead) {
    return convert(image_after_lead, [] { return vbconv::p_expand(); });
}

Converted tokenize(const std::string &text) {
    return convert(text, [] {
        vbconv::p_tokenize(vbconv::load_address);
        return 0;
    });
}

Scratch::Scratch() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vbconv-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir = tmpl;
}

Scratch::~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool exists(const std::string &path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

namespace {

// The command line that runs the program under test with `args`:
// $VBCONV_TEST_CMD if set, a shell command that the arguments are appended
// to (such as "wine /path/to/vbconv.exe"), else the built vbconv.
std::vector<std::string> command_line(const std::vector<std::string> &args) {
    std::vector<std::string> argv;
    const char *command = std::getenv("VBCONV_TEST_CMD");
    if (command != nullptr && *command != '\0')
        argv = {"/bin/sh", "-c", std::string("exec ") + command + " \"$@\"", "vbconv"};
    else
        argv = {VBCONV_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

}  // namespace

bool windows_build() {
    const char *command = std::getenv("VBCONV_TEST_CMD");
    return command != nullptr && std::string_view(command).find(".exe") != std::string_view::npos;
}

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Run run_vbconv(const std::string &cwd, const std::vector<std::string> &args, Stdout stdout_to) {
    Streams streams;
    streams.out = stdout_to;
    return run_vbconv(cwd, args, streams);
}

Run run_vbconv(const std::string &cwd, const std::vector<std::string> &args, const Streams &streams) {
    std::vector<std::string> command = command_line(args);
    std::vector<char *> argv;
    for (auto &word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    Scratch capture;
    std::string out_path = streams.out == Stdout::file ? streams.out_path : capture.path("stdout");
    std::string err_path = capture.path("stderr"), in_path = capture.path("stdin");
    write_file(in_path, streams.in);
    int pipe_ends[2] = {-1, -1};
    if (streams.out == Stdout::closed_pipe || streams.out == Stdout::unread_pipe) {
        if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe");
        if (streams.out == Stdout::closed_pipe) close(pipe_ends[0]);  // nobody will read
    }
    int err_pipe[2] = {-1, -1};
    if (streams.err_to_closed_pipe) {
        if (pipe(err_pipe) != 0) throw std::runtime_error("pipe");
        close(err_pipe[0]);  // nobody will read
    }
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);  // as a shell would start it
        int out = pipe_ends[1] >= 0               ? pipe_ends[1]
                  : streams.out == Stdout::full   ? open("/dev/full", O_WRONLY)
                  : streams.out == Stdout::file   ? open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644)
                  : streams.out == Stdout::closed ? -2
                                                  : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = streams.err_to_closed_pipe ? err_pipe[1] : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = streams.close_in ? -2 : open(in_path.c_str(), O_RDONLY);
        if (out == -1 || err < 0 || in == -1 || chdir(cwd.c_str()) != 0) _exit(127);
        if (dup2(err, 2) < 0 || (out >= 0 && dup2(out, 1) < 0) || (in >= 0 && dup2(in, 0) < 0)) _exit(127);
        if (pipe_ends[0] >= 0) close(pipe_ends[0]);
        for (int fd : {out, err, in})
            if (fd > 2) close(fd);
        if (streams.close_in) close(0);
        if (streams.out == Stdout::closed) close(1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pipe_ends[1] >= 0) close(pipe_ends[1]);
    if (err_pipe[1] >= 0) close(err_pipe[1]);
    if (streams.meanwhile) streams.meanwhile(pid);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (pipe_ends[0] >= 0) close(pipe_ends[0]);
    Run r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (streams.out == Stdout::captured) r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

}  // namespace vbtest

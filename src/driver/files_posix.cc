// Files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "driver/files.h"

namespace vbconv {

namespace {

// The temporary file of the output being written, to be removed by a signal
// that ends the process: a fixed buffer, since a signal handler may not
// allocate.  Empty when there is none.
char temp_path[4096];
volatile std::sig_atomic_t have_temp = 0;

void remove_temp_and_die(int sig) {
    if (have_temp != 0) unlink(temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Blocks the signals that remove the temporary file, so that the file and
// have_temp never disagree while the handler could look.
struct Blocked {
    sigset_t old;
};

Blocked block_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    Blocked b;
    sigprocmask(SIG_BLOCK, &set, &b.old);
    return b;
}

void unblock_signals(const Blocked &b) { sigprocmask(SIG_SETMASK, &b.old, nullptr); }

void install_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        // A signal the parent chose to ignore stays ignored, as with nohup.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = remove_temp_and_die;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

FileId id_of_stat(const struct stat &st) {
    FileId id;
    id.volume = static_cast<std::uint64_t>(st.st_dev);
    id.index = static_cast<std::uint64_t>(st.st_ino);
    id.known = true;
    id.regular = S_ISREG(st.st_mode);
    return id;
}

// Permissions for a new output: those of the file it replaces, or else the
// read and write bits of the input within the umask.
mode_t output_mode(const char *path, std::FILE *input) {
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = 0666;
    if (input != nullptr && fstat(fileno(input), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0666;
    return mode & ~mask;
}

}  // namespace

FileId id_of(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? id_of_stat(st) : FileId{};
}

FileId id_of(std::FILE *stream) {
    struct stat st;
    return fstat(fileno(stream), &st) == 0 ? id_of_stat(st) : FileId{};
}

bool is_directory(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_terminal(std::FILE *stream) { return isatty(fileno(stream)) != 0; }

void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is taken, and that is this one.
        int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null != fd && null >= 0) close(null);
    }
}

void broken_pipe_ends_process(bool ends) { std::signal(SIGPIPE, ends ? SIG_DFL : SIG_IGN); }

int write_error(std::FILE *, int err) { return err; }

std::FILE *open_output(const char *path, std::FILE *input, Replacing &how, int &err) {
    struct stat st;
    bool exists = stat(path, &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        err = EISDIR;
        return nullptr;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe: there is nothing to replace, and no file to harm.
        how = Replacing::no;
        std::FILE *out = std::fopen(path, "wb");
        err = out == nullptr ? errno : 0;
        return out;
    }
    // A read-only file is not replaced, just as it could not be overwritten.
    if (exists && access(path, W_OK) != 0) {
        err = errno;
        return nullptr;
    }

    // The temporary file goes in the folder of the name itself, not of what
    // a link there leads to: the rename then replaces the link, and nothing
    // is ever written through one.
    const char *slash = std::strrchr(path, '/');
    std::size_t dir_len = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
    constexpr char pattern[] = ".vbconv-XXXXXX";
    if (dir_len + sizeof pattern > sizeof temp_path) {
        err = ENAMETOOLONG;
        return nullptr;
    }
    install_handlers();
    mode_t mode = output_mode(path, input);
    Blocked blocked = block_signals();
    std::memcpy(temp_path, path, dir_len);
    std::memcpy(temp_path + dir_len, pattern, sizeof pattern);
    int fd = mkstemp(temp_path);
    err = fd < 0 ? errno : 0;
    if (fd >= 0) have_temp = 1;
    unblock_signals(blocked);
    if (fd < 0) return nullptr;

    std::FILE *out = nullptr;
    if (fchmod(fd, mode) != 0 || (out = fdopen(fd, "wb")) == nullptr) {
        err = errno;
        close(fd);
        discard_output(nullptr, Replacing::yes);
        return nullptr;
    }
    how = Replacing::yes;
    return out;
}

int commit_output(std::FILE *out, Replacing how, const char *path) {
    int err = std::fclose(out) != 0 ? errno : 0;
    if (how == Replacing::no) return err;
    if (err != 0) {
        discard_output(nullptr, how);
        return err;
    }
    Blocked blocked = block_signals();
    if (std::rename(temp_path, path) != 0) {
        err = errno;
        unlink(temp_path);
    }
    have_temp = 0;
    unblock_signals(blocked);
    return err;
}

void discard_output(std::FILE *out, Replacing how) {
    if (out != nullptr) std::fclose(out);
    if (how == Replacing::no) return;
    Blocked blocked = block_signals();
    if (have_temp != 0) unlink(temp_path);
    have_temp = 0;
    unblock_signals(blocked);
}

}  // namespace vbconv

// Files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "driver/files.h"

namespace vbconv {

namespace {

// The temporary file of the output being written, to be removed by a signal
// that ends the process: a fixed buffer, since a signal handler may not
// allocate.  Empty when there is none.
char temp_path[4096];
volatile std::sig_atomic_t have_temp = 0;

// The signals whose default action ends the process, which remove the
// temporary file first.  SIGPIPE is among them only where a broken pipe ends
// the process; where it is ignored, it stays ignored.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

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
    for (int sig : ending_signals) sigaddset(&set, sig);
    Blocked b;
    sigprocmask(SIG_BLOCK, &set, &b.old);
    return b;
}

void unblock_signals(const Blocked &b) { sigprocmask(SIG_SETMASK, &b.old, nullptr); }

void install_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : ending_signals) {
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
    id.directory = S_ISDIR(st.st_mode);
    id.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    return id;
}

// The process's umask, asked once: setting it to read it is two calls, and
// nothing in the run changes it.
mode_t process_umask() {
    static mode_t mask = [] {
        mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

// Permissions for a new output: those of the plain file it replaces, `own`
// (the name's own entry, a link not followed; null when there is none), or
// else the read and write bits of the input within the umask.
mode_t output_mode(const struct stat *own, const FileId *input) {
    if (own != nullptr) return own->st_mode & 07777;
    mode_t mode = input != nullptr && input->known && input->regular ? (input->mode & 0666) : 0666;
    return mode & ~process_umask();
}

// Creates the temporary file at temp_path, whose last six bytes are
// replaced by a new name until one is free, with permissions `mode`, as
// mkstemp does.  It is created with those permissions, within the umask, so
// that it is never open to more people than its final name will be, not even
// for a moment: a reader who opened it in that moment could read all that is
// written to it later.  Returns null with errno set.
std::FILE *create_temp(std::size_t name_end, mode_t mode) {
    static std::uint64_t state = static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15u ^
                                 reinterpret_cast<std::uintptr_t>(&state) ^ static_cast<std::uint64_t>(time(nullptr));
    constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        std::uint64_t bits = state >> 16;
        for (std::size_t i = name_end - 6; i < name_end; ++i, bits /= 62) temp_path[i] = letters[bits % 62];
        // O_EXCL: created here or not at all, and never through a link.
        int fd = open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return nullptr;
        have_temp = 1;
        // Bits the umask took away are given back only where the file being
        // replaced had them, which widens nothing it did not already show.
        std::FILE *out = nullptr;
        if ((mode & ~process_umask()) == mode || fchmod(fd, mode) == 0) out = fdopen(fd, "wb");
        if (out == nullptr) {
            int err = errno;
            close(fd);
            unlink(temp_path);
            have_temp = 0;
            errno = err;
        }
        return out;
    }
    errno = EEXIST;
    return nullptr;
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

bool is_null_device(std::FILE *stream) {
    struct stat st, null;
    return fstat(fileno(stream), &st) == 0 && S_ISCHR(st.st_mode) && stat("/dev/null", &null) == 0 &&
           S_ISCHR(null.st_mode) && st.st_rdev == null.st_rdev;
}

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

std::FILE *open_output(const char *path, const FileId *input, const FileId *there, Replacing &how, int &err) {
    FileId at = there != nullptr ? *there : id_of(path);
    bool exists = at.known;
    if (exists && at.directory) {
        err = EISDIR;
        return nullptr;
    }
    if (exists && !at.regular) {
        // A device or a pipe: there is nothing to replace, and no file to harm.
        how = Replacing::no;
        std::FILE *out = std::fopen(path, "wb");
        err = out == nullptr ? errno : 0;
        return out;
    }
    // A read-only file is not replaced, just as it could not be overwritten;
    // a link is replaced whatever it leads to.  With nothing at all there,
    // no link can be there either.
    struct stat own;
    bool own_file = exists && lstat(path, &own) == 0 && S_ISREG(own.st_mode);
    if (own_file && access(path, W_OK) != 0) {
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
    mode_t mode = output_mode(own_file ? &own : nullptr, input);
    std::memcpy(temp_path, path, dir_len);
    std::memcpy(temp_path + dir_len, pattern, sizeof pattern);
    Blocked blocked = block_signals();
    std::FILE *out = create_temp(dir_len + sizeof pattern - 1, mode);
    err = out == nullptr ? errno : 0;
    unblock_signals(blocked);
    if (out == nullptr) return nullptr;
    // The converters hand over whole blocks; stdio's own buffer would only
    // copy them once more, and ask the system how large to make it.
    setvbuf(out, nullptr, _IONBF, 0);
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
    // No signal is blocked here: one that comes after the rename, before
    // have_temp is cleared, unlinks a name that is gone, which does nothing.
    if (std::rename(temp_path, path) != 0) {
        err = errno;
        unlink(temp_path);
    }
    have_temp = 0;
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

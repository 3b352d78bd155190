// Files on Windows.  Names are UTF-8 throughout: the program's manifest makes
// the narrow calls of the system and the C library take them so, and every
// call here is a narrow one, as fopen is.  Errors of system calls are turned
// into errno values, so that the driver reports them as it does elsewhere.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "driver/files.h"

namespace vbconv {

namespace {

// The temporary file of the output being written, to be removed when Ctrl-C,
// Ctrl-Break or closing the console ends the process.  That handler runs on
// a thread of its own, so temp_lock keeps it from looking while the file and
// have_temp disagree.  Empty when there is none.
char temp_path[4096];
bool have_temp = false;
SRWLOCK temp_lock = SRWLOCK_INIT;

// Ends the process as Ctrl-C ends one by default, less the temporary file.
// It was opened for sharing deletion, so it can go while still open: the
// name goes at once, the file when the handle closes with the process.
// Terminating, rather than exiting, skips the C library's flushing at exit,
// which could wait for ever on a stream the main thread held when it stopped.
BOOL WINAPI remove_temp_and_end(DWORD) {
    AcquireSRWLockExclusive(&temp_lock);
    if (have_temp) DeleteFileA(temp_path);
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

void install_handler() {
    static bool installed = false;
    if (!installed) installed = SetConsoleCtrlHandler(remove_temp_and_end, TRUE) != 0;
}

// The errno value for a system error code; EIO for any other failure.
struct ErrorMap {
    DWORD error;
    int err;
};
constexpr ErrorMap error_map[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_NAME, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_DIRECTORY, ENOTDIR},
};

int errno_of(DWORD error) {
    for (const ErrorMap &m : error_map)
        if (m.error == error) return m.err;
    return EIO;
}

HANDLE handle_of(std::FILE *stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

// What a name leads to, following links, opened for no access at all, so
// that a file that others hold open or lock is still found; folders open too.
HANDLE open_to_ask(const char *path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The volume and the file's number on it.  The full 128-bit number is asked
// for first, since on ReFS the older 64-bit one need not be unique; it also
// needs no access right, where a handle written to by a redirection may lack
// the right to read attributes.
FileId id_of_handle(HANDLE h) {
    FileId id;
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return id;
    FILE_ID_INFO full;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandleEx(h, FileIdInfo, &full, sizeof full) != 0) {
        std::uint64_t half[2];
        static_assert(sizeof half == sizeof full.FileId);
        std::memcpy(half, &full.FileId, sizeof half);
        id.volume = full.VolumeSerialNumber;
        id.index = half[0];
        id.index_high = half[1];
    } else if (GetFileInformationByHandle(h, &info) != 0) {
        id.volume = info.dwVolumeSerialNumber;
        id.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    } else {
        return id;
    }
    FILE_STANDARD_INFO standard;
    id.known = true;
    id.regular = GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) != 0 &&
                 standard.Directory == FALSE;
    return id;
}

// A device such as NUL, CON or COM1, which Windows finds under any folder
// and with any extension (nul.TXT), or a name in the device space (\\.\).
bool is_device_name(const char *path) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    return n > 4 && n < sizeof full && std::strncmp(full, "\\\\.\\", 4) == 0;
}

bool is_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

std::FILE *open_in_place(const char *path, Replacing &how, int &err) {
    how = Replacing::no;
    std::FILE *out = std::fopen(path, "wb");
    err = out == nullptr ? errno : 0;
    return out;
}

// Creates a new temporary file in the folder of `path` (of the name itself,
// not of what a link there leads to, so that the rename replaces the link)
// and records it in temp_path.  Returns its handle, or INVALID_HANDLE_VALUE
// with `err` set.
HANDLE create_temp(const char *path, int &err) {
    std::size_t dir_len = std::strlen(path);
    while (dir_len > 0 && !is_separator(path[dir_len - 1])) --dir_len;
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Not guessable in advance, so that nobody can lay a name in the way.
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        char name[48];
        int n = std::snprintf(name, sizeof name, ".vbconv-%lx-%x%04x", GetCurrentProcessId(), serial++,
                              static_cast<unsigned>(now.LowPart & 0xFFFF));
        if (dir_len + static_cast<std::size_t>(n) + 1 > sizeof temp_path) {
            err = ENAMETOOLONG;
            return INVALID_HANDLE_VALUE;
        }
        AcquireSRWLockExclusive(&temp_lock);
        std::memcpy(temp_path, path, dir_len);
        std::memcpy(temp_path + dir_len, name, static_cast<std::size_t>(n) + 1);
        HANDLE h = CreateFileA(temp_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = GetLastError();
        have_temp = h != INVALID_HANDLE_VALUE;
        ReleaseSRWLockExclusive(&temp_lock);
        if (h != INVALID_HANDLE_VALUE) return h;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            err = errno_of(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    err = EEXIST;
    return INVALID_HANDLE_VALUE;
}

}  // namespace

FileId id_of(const char *path) {
    HANDLE h = open_to_ask(path);
    FileId id = id_of_handle(h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return id;
}

FileId id_of(std::FILE *stream) { return id_of_handle(handle_of(stream)); }

bool is_directory(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// NUL is a character device too, as a terminal is; only a console has a mode.
bool is_terminal(std::FILE *stream) {
    DWORD mode;
    return GetConsoleMode(handle_of(stream), &mode) != 0;
}

// NUL is not told from other character devices here: the echo is written.
bool is_null_device(std::FILE *) { return false; }

void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // A standard handle that the parent did not give, or gave closed, is
        // left by the C library without a handle, and writes to it fail.
        HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        SetLastError(NO_ERROR);
        if (h == INVALID_HANDLE_VALUE || h == nullptr || reinterpret_cast<intptr_t>(h) == -2 ||
            (GetFileType(h) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)) {
            int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
            if (null >= 0 && null != fd) {
                _dup2(null, fd);
                _close(null);
            }
        }
        // No CR added before LF, and no CR or Ctrl-Z taken out or taken for
        // the end: the bytes are the program's, as on any other system.
        _setmode(fd, _O_BINARY);
    }
}

// Windows has no SIGPIPE: writes to a pipe whose reader went away fail
// instead, and write_error() tells such a failure from others.
void broken_pipe_ends_process(bool) {}

// The C library reports a write to a pipe without a reader as EINVAL (from
// ERROR_NO_DATA, or ERROR_PIPE_NOT_CONNECTED), which no write of valid bytes
// to a pipe otherwise gives.
int write_error(std::FILE *stream, int err) {
    if (err == EINVAL && GetFileType(handle_of(stream)) == FILE_TYPE_PIPE) return EPIPE;
    return err;
}

std::FILE *open_output(const char *path, const FileId *, const FileId *, Replacing &how, int &err) {
    if (is_device_name(path)) return open_in_place(path, how, err);
    HANDLE h = open_to_ask(path);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        bool disk = GetFileType(h) == FILE_TYPE_DISK;
        DWORD attributes = GetFileInformationByHandle(h, &info) != 0 ? info.dwFileAttributes : 0;
        CloseHandle(h);
        // A pipe or a device: there is nothing to replace, and no file to harm.
        if (!disk) return open_in_place(path, how, err);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            err = EISDIR;
            return nullptr;
        }
        // A read-only file is not replaced, just as it could not be overwritten.
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            err = EACCES;
            return nullptr;
        }
    }

    // The new file gets the permissions its folder gives every new file, and
    // no attribute of the input's: a read-only input makes a writable output.
    install_handler();
    h = create_temp(path, err);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    std::FILE *out = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (out == nullptr) {
        err = errno;
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(h);
        discard_output(nullptr, Replacing::yes);
        return nullptr;
    }
    how = Replacing::yes;
    err = 0;
    return out;
}

int commit_output(std::FILE *out, Replacing how, const char *path) {
    // Flushed apart from closing: some C libraries' fclose does not report
    // the failure of its last write.
    errno = 0;
    int err = 0;
    if (std::fflush(out) != 0 || std::ferror(out)) err = errno != 0 ? errno : EIO;
    if (std::fclose(out) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    if (how == Replacing::no) return err;
    if (err != 0) {
        discard_output(nullptr, how);
        return err;
    }
    // Windows' rename fails where the name exists; this replaces what the
    // name holds in one step, so a reader finds the old file or the new one.
    AcquireSRWLockExclusive(&temp_lock);
    if (MoveFileExA(temp_path, path, MOVEFILE_REPLACE_EXISTING) == 0) {
        err = errno_of(GetLastError());
        DeleteFileA(temp_path);
    }
    have_temp = false;
    ReleaseSRWLockExclusive(&temp_lock);
    return err;
}

void discard_output(std::FILE *out, Replacing how) {
    if (out != nullptr) std::fclose(out);
    if (how == Replacing::no) return;
    AcquireSRWLockExclusive(&temp_lock);
    if (have_temp) DeleteFileA(temp_path);
    have_temp = false;
    ReleaseSRWLockExclusive(&temp_lock);
}

}  // namespace vbconv

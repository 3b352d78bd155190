// What the driver asks of the operating system about files: their identity,
// their kind, the terminal, and outputs that replace a file only once they
// are complete.  Everything here that differs between systems is in
// files_posix.cc or files_windows.cc.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vbconv {

// Which file a name or a stream leads to, whatever path reached it: two
// names with the same identity are one file (a link, or another case of the
// name on a file system that ignores case).
struct FileId {
    std::uint64_t volume = 0;      // the device, or the volume
    std::uint64_t index = 0;       // the inode, or the file index
    std::uint64_t index_high = 0;  // the rest of a 128-bit file index (ReFS), else 0
    bool known = false;            // false: no such file, or it could not be asked
    bool regular = false;          // a plain file: not a folder, a device or a pipe
    bool directory = false;        // a folder (POSIX; Windows opens none as a file)
    std::uint32_t mode = 0;        // permission bits (POSIX), 0 where unknown
};

// True when both identities are known and are the same file.
inline bool same_file(const FileId &a, const FileId &b) {
    return a.known && b.known && a.volume == b.volume && a.index == b.index && a.index_high == b.index_high;
}

FileId id_of(const char *path);          // the file a name leads to, following links
FileId id_of(std::FILE *stream);         // the file an open stream reads or writes
bool is_directory(const char *path);     // the name leads to a folder
bool is_terminal(std::FILE *stream);     // the stream is a terminal (or a console)
bool is_null_device(std::FILE *stream);  // the stream writes to the null device, where writing cannot fail

// Makes sure descriptors 0, 1 and 2 are open, on the null device where they
// were closed, so that no file this run opens takes their place and receives
// what was meant for the console.  Puts standard input and output in binary
// mode where the system has another.  Call first of all.
void guard_standard_streams();

// Whether a process whose standard output has gone away (a closed pipe) is
// ended by a signal (`ends` true: the classic filter's quiet end) or sees
// its writes fail (false: the files of the run are still written whole).
void broken_pipe_ends_process(bool ends);

// The reason to report for a failed write to `stream`, from the errno of the
// failing call: EPIPE where the stream is a pipe whose reader went away,
// however the system words it.
int write_error(std::FILE *stream, int err);

// How an output is written.
enum class Replacing {
    no,   // written in place: the output is a device or a pipe, not a file
    yes,  // written as a new file beside it, renamed over its name when complete
};

// Opens output `path` for the input whose identity is `input` (null for
// standard input); `there` is what the name leads to, as the caller has just
// asked (null: asked here).  A device or a pipe is written in place.  Anything else is written
// as a temporary file in the output's folder, with the permissions of the
// file it replaces, or for a new file those of the input (read and write bits
// only) within the umask; an interrupting signal removes it.  Returns null
// with `err` set when the output cannot be written (also when an existing
// file there is read-only).
std::FILE *open_output(const char *path, const FileId *input, const FileId *there, Replacing &how, int &err);

// Closes an output opened by open_output, and if it was replacing, puts it
// in place of its name.  Returns 0, or the reason it could not be completed;
// the temporary file is then removed and whatever the name held is kept.
int commit_output(std::FILE *out, Replacing how, const char *path);

// Closes an output opened by open_output that is not to be kept: a
// temporary file is removed, so whatever the name held stays as it was.
void discard_output(std::FILE *out, Replacing how);

}  // namespace vbconv

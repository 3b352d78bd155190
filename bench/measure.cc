// Runs one command and reports what it cost: its wall time in seconds and its
// peak resident memory in KiB (ru_maxrss of the child, the number GNU time
// prints as %M), on one line of standard output.
//
//   measure STDIN STDOUT COMMAND [ARG...]
//
// The command's standard input and output are the two named files, opened
// here so that no shell takes part in what is timed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <ctime>

extern char **environ;

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: measure STDIN STDOUT COMMAND [ARG...]\n");
        return 2;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, argv[1], O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);

    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid;
    int err = posix_spawnp(&pid, argv[3], &files, nullptr, argv + 3, environ);
    if (err != 0) {
        std::fprintf(stderr, "measure: %s: %s\n", argv[3], std::strerror(err));
        return 2;
    }
    int status;
    rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("measure: wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "measure: %s did not succeed (wait status %d)\n", argv[3], status);
        return 1;
    }
    double seconds = static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("%.6f %ld\n", seconds, usage.ru_maxrss);
    return 0;
}

// korvalen_peak_rss DIR COMMAND [ARGS...]: runs COMMAND with DIR as its working
// directory and prints the peak resident memory it reached, in kilobytes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: korvalen_peak_rss DIR COMMAND [ARGS...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        if (chdir(argv[1]) != 0) {
            std::perror(argv[1]);
            _exit(127);
        }
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[2], status);
        return 1;
    }
    std::printf("%ld\n", usage.ru_maxrss);
    return 0;
}

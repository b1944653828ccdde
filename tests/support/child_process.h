// Starting a program as a child process and waiting for it, for the companion's tests and
// benchmarks (POSIX).
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

// Starts `arguments` (the program first; a name without '/' is looked up in PATH). Standard
// input, output and error come from and go to the named files; an empty name leaves the
// stream as this process has it. The child's id, or -1.
inline pid_t StartProcess(std::vector<std::string> arguments, const std::string& outPath,
                          const std::string& errPath = "", const std::string& inPath = "")
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        // Each named file takes the place of its stream; the child ends with 127 when one cannot.
        const auto redirect = [](const std::string& path, int flags, int stream) {
            const int file = path.empty() ? stream : open(path.c_str(), flags, 0600);
            return file >= 0 && (file == stream || dup2(file, stream) >= 0);
        };
        if (redirect(inPath, O_RDONLY, 0) && redirect(outPath, O_WRONLY | O_CREAT | O_TRUNC, 1) &&
            redirect(errPath, O_WRONLY | O_CREAT | O_TRUNC, 2))
            execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Waits for `child` to end and returns its exit code, or 128 + the signal that ended it.
// With `seconds` above 0, a child still running after that long is killed and -1 returned;
// with 0 the wait has no deadline and sees the end at once (for timing). `peakKiB`, when
// given, receives the child's peak resident memory.
inline int WaitForExit(pid_t child, int seconds, long* peakKiB = nullptr)
{
    int status = 0;
    rusage usage{};
    for (int tick = 0;; ++tick) {
        const pid_t ended = wait4(child, &status, seconds > 0 ? WNOHANG : 0, &usage);
        if (ended == child)
            break;
        if (ended < 0)
            return -1;
        if (tick >= seconds * 20) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return -1;
        }
        timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    if (peakKiB)
        *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

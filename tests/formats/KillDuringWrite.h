// Killing a process in the middle of writing a file, at a point the test chooses rather than one
// a race picks: the child may let a file grow to a given size, and the write that would pass it
// makes the kernel raise SIGXFSZ, whose handler sends the child SIGKILL there and then.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <functional>

namespace kill_during_write {

// Runs write in a child process that is killed once it has written allowed bytes to one file.
// Returns the signal that ended the child, or -1 when it ended by itself (it never reached the
// limit).
inline int Run(std::size_t allowed, const std::function<void()>& write)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        struct sigaction action {};
        action.sa_handler = [](int) { raise(SIGKILL); };
        sigaction(SIGXFSZ, &action, nullptr);
        const rlimit limit{allowed, allowed};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            write();
        } catch (...) {
        }
        _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

}  // namespace kill_during_write

// The single-instance lock "TestMutex": a per-user lock file held with an exclusive lock. The
// kernel drops the lock when the process ends, however it ends, so a crashed copy never keeps the
// program from starting again.
#pragma once

#include <string>

class TInstanceLock {
public:
    enum TResult {
        Acquired,       // this process holds the lock now
        HeldElsewhere,  // another process holds it: the program is already running
        Unavailable,    // the lock file cannot be made; the program runs without the guard
    };

    TInstanceLock() = default;
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;
    // Releases the lock (the end of the process would too).
    ~TInstanceLock();

    // Uses only system calls, so it may also run in a freshly forked child.
    TResult Acquire(const char* path);

private:
    int fd_ = -1;
};

// TestMutex in the user's runtime directory.
std::string InstanceLockPath();

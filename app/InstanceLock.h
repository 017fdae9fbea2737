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
        // The lock's folder is not this user's alone (a symbolic link, another owner, writable by
        // others): whoever else can write there could hold the lock and keep this user's program
        // from starting. The lock is not taken; the program reports it and runs without the guard.
        UnsafeFolder,
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

// TestMutex in the user's runtime directory. Without a usable one, TestMutex in a folder of this
// user's own in the temporary directory, quaverly-<uid>, made with mode 0700 when missing (a
// shared folder would let any other user hold the lock); Acquire checks that it is this user's.
std::string InstanceLockPath();

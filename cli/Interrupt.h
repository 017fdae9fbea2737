// Ctrl+C (and a polite kill) for the commands that run for a while: while a guard lives, the
// signals only set a flag that the command polls, so it can end in good order (silence its
// devices, remove a half-written file) instead of being killed on the spot.
#pragma once

#include <signal.h>

class TInterruptGuard {
public:
    TInterruptGuard();
    ~TInterruptGuard();
    TInterruptGuard(const TInterruptGuard&) = delete;
    TInterruptGuard& operator=(const TInterruptGuard&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    struct sigaction oldHup_ {};
};

// True once SIGINT, SIGTERM or SIGHUP (the terminal closed) came in since the latest guard was made.
bool Interrupted();

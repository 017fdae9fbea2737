#include "cli/Interrupt.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }
}  // namespace

TInterruptGuard::TInterruptGuard()
{
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
    // Closing the terminal ends the command like Ctrl+C does, in good order; unless hang-ups are
    // ignored (nohup), which asks for the command to run on.
    sigaction(SIGHUP, &action, &oldHup_);
    if (oldHup_.sa_handler == SIG_IGN) sigaction(SIGHUP, &oldHup_, nullptr);
}

TInterruptGuard::~TInterruptGuard()
{
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGHUP, &oldHup_, nullptr);
}

bool Interrupted() { return interrupted != 0; }

#include "Interrupt.h"

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
}

TInterruptGuard::~TInterruptGuard()
{
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

bool Interrupted() { return interrupted != 0; }

// Long work off the GUI thread: the window keeps drawing and answering while it runs.
#pragma once

#include <functional>

// Runs work on a thread of its own and, meanwhile, the GUI thread's events, calling poll on the
// GUI thread every intervalMs (to show progress, or to pass on a cancel request). Returns once
// work has returned; what work threw is thrown here, on the GUI thread.
void RunWhileResponsive(const std::function<void()>& work, const std::function<void()>& poll, int intervalMs);

// Signals that stop a run: Ctrl-C, a closed terminal, Ctrl-\ and a polite
// kill. The run polls the flag, removes what it created and keeps an
// earlier output.
#pragma once

#include <atomic>

namespace vellomar::cli {

// Set by a signal once installInterruptHandler has run.
const std::atomic<bool>& interruptFlag();

void installInterruptHandler();

}  // namespace vellomar::cli

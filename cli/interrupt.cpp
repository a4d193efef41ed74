#include "cli/interrupt.h"

#include <signal.h>

namespace vellomar::cli {
namespace {

std::atomic<bool> gInterrupted{false};

void onInterrupt(int) { gInterrupted.store(true); }

}  // namespace

const std::atomic<bool>& interruptFlag() { return gInterrupted; }

void installInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
}

}  // namespace vellomar::cli

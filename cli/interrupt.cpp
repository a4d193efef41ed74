// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

namespace vellomar::cli {
namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};
std::atomic<bool> gLoadingPicture{false};

void onInterrupt(int signal) {
  if (gLoadingPicture.load()) {
    static const char kText[] = "vellomar-render: Interrupted: no output was written.\n";
    const ssize_t written = ::write(STDERR_FILENO, kText, sizeof kText - 1);
    static_cast<void>(written);
    ::_exit(128 + signal);
  }
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
  gInterrupted.store(true);
}

}  // namespace

const std::atomic<bool>& interruptFlag() { return gInterrupted; }

void installInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
}

int interruptedExitCode() {
  const int signal = gSignal.load();
  return 128 + (signal > 0 ? signal : SIGINT);
}

PictureLoading::PictureLoading() { gLoadingPicture.store(true); }

PictureLoading::~PictureLoading() { gLoadingPicture.store(false); }

}  // namespace vellomar::cli

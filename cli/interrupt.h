// SPDX-License-Identifier: GPL-3.0-or-later
// Signals that stop a run: Ctrl-C, a closed terminal, Ctrl-\ and a polite
// kill. The run polls the flag, removes what it created, keeps an earlier
// output and exits with 128 + the signal's number, as a shell reports a
// command the signal ended (130 for SIGINT, 143 for SIGTERM, 129 for
// SIGHUP).
#pragma once

#include <atomic>

namespace vellomar::cli {

// Set by a signal once installInterruptHandler has run.
const std::atomic<bool>& interruptFlag();

void installInterruptHandler();

// The exit code of a run the first signal stopped.
int interruptedExitCode();

// While it lives (the picture is being loaded: a decoder cannot be stopped
// midway, and nothing is written yet), a signal ends the program at once:
// "Interrupted", exit status 128 + the signal.
class PictureLoading {
 public:
  PictureLoading();
  ~PictureLoading();
  PictureLoading(const PictureLoading&) = delete;
  PictureLoading& operator=(const PictureLoading&) = delete;
};

}  // namespace vellomar::cli

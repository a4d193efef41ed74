// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render run as a child process by the command-line tests, with
// what the tests need to watch: its exit, its output, the CPU time and the
// peak memory it took, and the limits it runs under.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vellomar::test {

struct RendererLimits {
  // Address space the program may take, in MB (0: no limit), as with
  // `ulimit -v`.
  unsigned long addressSpaceMb = 0;
  // Held to the files' permission bits even when run as root.
  bool permissionBitsHold = false;
};

struct RendererOutcome {
  int exitCode = -1;  // 1000 + the signal when it was killed
  std::string err;
  std::string out;
  double cpuSeconds = 0.0;
  double peakMb = 0.0;
};

class RendererProcess {
 public:
  // Starts the renderer with `args`; its standard output and error go to
  // files in `folder`.
  RendererProcess(const std::string& folder, const std::vector<std::string>& args, const RendererLimits& limits = {});
  ~RendererProcess();
  RendererProcess(const RendererProcess&) = delete;
  RendererProcess& operator=(const RendererProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Whether the renderer (not the child before it runs the renderer) has
  // `path` open; waits up to 20 s for it.
  bool waitUntilOpen(const std::string& path) const;
  // Waits for the end (killing it after `timeoutSeconds`).
  RendererOutcome finish(double timeoutSeconds = 120.0);

 private:
  std::string errPath_;
  std::string outPath_;
  pid_t pid_ = -1;
};

// Runs the renderer to its end.
RendererOutcome runRenderer(const std::string& folder, const std::vector<std::string>& args,
                            const RendererLimits& limits = {});

}  // namespace vellomar::test

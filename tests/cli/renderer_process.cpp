// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/renderer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/file_system_support.h"
#include "support/test_support.h"

namespace vellomar::test {

RendererProcess::RendererProcess(const std::string& folder, const std::vector<std::string>& args,
                                 const RendererLimits& limits)
    : errPath_(folder + "/renderer-stderr.txt"), outPath_(folder + "/renderer-stdout.txt") {
  std::vector<std::string> all = {VELLOMAR_RENDER_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Everything the child needs is made before the fork: it only calls
  // what is safe between fork and exec.
  const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const rlimit space = {limits.addressSpaceMb << 20, limits.addressSpaceMb << 20};
  pid_ = ::fork();
  if (pid_ == 0) {
    if (limits.permissionBitsHold) dropPermissionOverridesForExec();
    if (limits.addressSpaceMb > 0 && ::setrlimit(RLIMIT_AS, &space) != 0) ::_exit(119);
    if (err < 0 || out < 0 || ::dup2(err, 2) < 0 || ::dup2(out, 1) < 0) ::_exit(120);
    ::execv(argv[0], argv.data());
    ::_exit(121);
  }
  if (err >= 0) ::close(err);
  if (out >= 0) ::close(out);
}

RendererProcess::~RendererProcess() {
  if (pid_ > 0) finish(0.0);
}

bool RendererProcess::waitUntilOpen(const std::string& path) const {
  namespace fs = std::filesystem;
  const std::string proc = "/proc/" + std::to_string(pid_);
  std::error_code ec;
  const fs::path program = fs::canonical(VELLOMAR_RENDER_EXE, ec);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    // Until the child runs the renderer, it holds the test's descriptors.
    if (fs::read_symlink(proc + "/exe", ec) != program) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    for (const auto& entry : fs::directory_iterator(proc + "/fd", ec)) {
      if (fs::read_symlink(entry.path(), ec).string() == path) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

RendererOutcome RendererProcess::finish(double timeoutSeconds) {
  RendererOutcome o;
  if (pid_ <= 0) return o;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  int status = 0;
  rusage usage = {};
  for (;;) {
    const pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_ || done < 0) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::wait4(pid_, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  o.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  o.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  const auto err = readFile(errPath_);
  const auto out = readFile(outPath_);
  o.err.assign(err.begin(), err.end());
  o.out.assign(out.begin(), out.end());
  return o;
}

RendererOutcome runRenderer(const std::string& folder, const std::vector<std::string>& args,
                            const RendererLimits& limits) {
  RendererProcess process(folder, args, limits);
  return process.finish();
}

}  // namespace vellomar::test

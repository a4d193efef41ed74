// SPDX-License-Identifier: GPL-3.0-or-later
// Threads that cannot be had: under an address-space limit too tight for
// 64 render threads, a render asked for 64 renders with the threads and
// renderers that fit, and writes the same bytes as on one thread; tighter
// still it succeeds likewise or fails with 3, and never aborts. Each case runs
// in a child process whose limit is set a little above what it already
// uses.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/render.h"
#include "engine/settings.h"
#include "support/session_snapshots.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELLOMAR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELLOMAR_SANITIZED 1
#endif
#endif

namespace vellomar {
namespace {

#ifndef VELLOMAR_SANITIZED
// The process's address space in use, in bytes.
long long addressSpaceInUse() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::atoll(line.c_str() + 7) * 1024;
  }
  return -1;
}

// Renders `snapshot` with `threads` threads to `path` in a child process
// allowed `headroom` bytes of address space beyond what it uses; returns
// the render's result code (or -1 when the child died).
int renderInChild(const SessionSnapshot& snapshot, std::int32_t threads, long long headroom, const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    RenderJob job;
    job.settings = snapshot.settings;
    job.picture = snapshot.picture;
    job.sampleCount = snapshot.frames;
    job.noiseState = snapshot.noiseState;
    job.threads = threads;
    job.output = std::fopen(path.c_str(), "wb");
    if (!job.output) ::_exit(100);
    const rlimit limit{static_cast<rlim_t>(addressSpaceInUse() + headroom),
                       static_cast<rlim_t>(addressSpaceInUse() + headroom)};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(101);
    ::_exit(renderSound(job));
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
#endif

TEST(RenderThreads, SixtyFourThreadsUnderATightLimitFallBackToFewer) {
#ifdef VELLOMAR_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve address space of their own";
#else
  test::TempDir dir;
  for (bool stereo : {false, true}) {
    SCOPED_TRACE(stereo ? "stereo" : "mono");
    test::SnapshotMaker maker;
    maker.frames = 44100 * 15;
    maker.settings.stereo = stereo;
    maker.useSource(test::Source::Pink, dir.path());
    const test::Planes planes(128, 128, 2);
    const SessionSnapshot snapshot = maker.snapshot(planes);
    // The plans are made here, before the limit.
    const std::vector<std::uint8_t> reference = test::fullRender(snapshot, dir.path());

    // About 1 MB per renderer and 0.5 MB per stack: 64 of each do not fit.
    const std::string out = dir.file("limited.raw");
    ASSERT_EQ(renderInChild(snapshot, 64, 40ll << 20, out), kResultOk);
    EXPECT_EQ(test::readFile(out), reference);

    // Tighter still: the render succeeds with what it gets, or fails with
    // 3; it never aborts.
    for (long long headroom : {0ll, 1ll << 20, 8ll << 20}) {
      SCOPED_TRACE(headroom);
      const int result = renderInChild(snapshot, 64, headroom, out);
      EXPECT_TRUE(result == kResultOk || result == kResultNoMemory) << result;
      if (result == kResultOk) {
        EXPECT_EQ(test::readFile(out), reference);
      }
    }
  }
#endif
}

}  // namespace
}  // namespace vellomar

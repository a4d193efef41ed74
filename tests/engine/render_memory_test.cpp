// SPDX-License-Identifier: GPL-3.0-or-later
// Want of memory is result 3, never an abort: plans and renders made under
// a limit on the address space, in a child process each, either succeed or
// say that memory is short. The limit is what the child may add to what it
// has when it starts.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/render.h"
#include "fft/fft.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELLOMAR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELLOMAR_SANITIZED 1
#endif
#endif

namespace vellomar {
namespace {

constexpr std::size_t kMb = std::size_t{1} << 20;

std::size_t addressSpaceNow() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmSize:", 0) == 0) return static_cast<std::size_t>(std::atoll(line.c_str() + 7)) * 1024;
  }
  return 0;
}

// Runs `body` in a child whose address space may grow by `extra` bytes;
// returns its exit code, or 1000 + the signal that ended it.
int withAddressLimit(std::size_t extra, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlim_t most = addressSpaceNow() + extra;
    const rlimit limit{most, most};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

class RenderMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef VELLOMAR_SANITIZED
    GTEST_SKIP() << "the sanitizers' own address space makes a limit on it meaningless";
#endif
    pixels.resize(512 * 512);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>((i * 37 + i / 512) % 256);
  }

  std::vector<std::uint8_t> pixels;
};

TEST_F(RenderMemoryTest, PlansThatCannotBeHadFailWithoutCallingThePlanner) {
  const auto transforms = renderTransforms(32768);
  std::vector<int> codes;
  for (std::size_t extra : {kMb / 4, kMb, 4 * kMb, 16 * kMb, 64 * kMb}) {
    codes.push_back(withAddressLimit(extra, [&] {
      FftPlans plans;
      FftPlanSource source;
      return plans.make(transforms, source) ? 0 : 3;
    }));
  }
  EXPECT_EQ(codes.front(), 3);
  EXPECT_EQ(codes.back(), 0);
  for (int code : codes) EXPECT_TRUE(code == 0 || code == 3) << code;
}

TEST_F(RenderMemoryTest, RendersSucceedOrSayMemoryIsShort) {
  for (const bool stereo : {false, true}) {
    for (const std::int32_t threads : {1, 2, 64}) {
      SCOPED_TRACE(std::string(stereo ? "stereo, " : "mono, ") + std::to_string(threads) + " threads");
      std::vector<int> codes;
      for (std::size_t extra = kMb / 2; extra <= 512 * kMb; extra *= 2) {
        codes.push_back(withAddressLimit(extra, [&] {
          RenderJob job;
          job.picture = PictureData{pixels.data(), 512, 512, 512, stereo ? pixels.data() : nullptr, nullptr};
          job.settings.stereo = stereo;
          job.sampleCount = 44100 * 5;
          job.threads = threads;
          job.output = std::fopen("/dev/null", "wb");
          return job.output ? renderSound(job) : 98;
        }));
      }
      EXPECT_EQ(codes.front(), kResultNoMemory);
      EXPECT_EQ(codes.back(), kResultOk);
      for (int code : codes) EXPECT_TRUE(code == kResultOk || code == kResultNoMemory) << code;
    }
  }
}

}  // namespace
}  // namespace vellomar

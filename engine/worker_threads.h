// SPDX-License-Identifier: GPL-3.0-or-later
// Worker threads for renders: started with stacks sized to what a render
// thread uses, and only as many as the system gives.
//
// A render thread's stack holds the hop loop's few locals and whatever the
// transforms put there (FFTW keeps scratch below 64 KiB on the stack), so
// kWorkerStackBytes is far below the system's default of 8 MiB: 64 threads
// then reserve 32 MiB of address space instead of 512 MiB, which matters
// under an address-space limit. Sanitizer builds get more.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <vector>

namespace vellomar {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kWorkerStackBytes = std::size_t{4} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr std::size_t kWorkerStackBytes = std::size_t{4} << 20;
#else
inline constexpr std::size_t kWorkerStackBytes = std::size_t{512} << 10;
#endif
#else
inline constexpr std::size_t kWorkerStackBytes = std::size_t{512} << 10;
#endif

class WorkerThreads {
 public:
  WorkerThreads() = default;
  ~WorkerThreads() { join(); }
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  // Starts up to `count` threads, thread i running body(i). Stops at the
  // first thread the system refuses (no memory for its stack, too many
  // threads) and returns how many run; 0 when none could start (or no
  // memory for their records). `body` must not throw.
  std::size_t start(std::size_t count, std::function<void(std::size_t)> body);

  // Waits for every started thread to end.
  void join();

  std::size_t running() const { return started_; }

 private:
  struct Start {
    WorkerThreads* owner = nullptr;
    std::size_t index = 0;
  };
  static void* run(void* start);

  std::function<void(std::size_t)> body_;
  std::vector<pthread_t> threads_;
  std::vector<Start> starts_;
  std::size_t started_ = 0;
};

}  // namespace vellomar

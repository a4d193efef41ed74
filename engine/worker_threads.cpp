// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/worker_threads.h"

#include <limits.h>

#include <algorithm>
#include <new>

namespace vellomar {

void* WorkerThreads::run(void* start) {
  const auto* s = static_cast<const Start*>(start);
  s->owner->body_(s->index);
  return nullptr;
}

std::size_t WorkerThreads::start(std::size_t count, std::function<void(std::size_t)> body) {
  join();
  if (count == 0) return 0;
  try {
    threads_.resize(count);
    starts_.resize(count);
  } catch (const std::bad_alloc&) {
    threads_.clear();
    starts_.clear();
    return 0;
  }
  body_ = std::move(body);
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return 0;
  const std::size_t stack = std::max<std::size_t>(kWorkerStackBytes, PTHREAD_STACK_MIN);
  const bool sized = pthread_attr_setstacksize(&attributes, stack) == 0;
  for (std::size_t i = 0; i < count; ++i) {
    starts_[i] = Start{this, i};
    if (pthread_create(&threads_[i], sized ? &attributes : nullptr, &WorkerThreads::run, &starts_[i]) != 0) break;
    ++started_;
  }
  pthread_attr_destroy(&attributes);
  return started_;
}

void WorkerThreads::join() {
  for (std::size_t i = 0; i < started_; ++i) pthread_join(threads_[i], nullptr);
  started_ = 0;
}

}  // namespace vellomar

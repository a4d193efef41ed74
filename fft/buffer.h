// SPDX-License-Identifier: GPL-3.0-or-later
// Buffers for transform input and output: aligned so that the transforms
// can run on them directly instead of going through a scratch copy.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace vellomar {

template <class T>
struct FftAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlignment{64};

  FftAllocator() noexcept = default;
  template <class U>
  FftAllocator(const FftAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T), kAlignment)); }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlignment); }

  template <class U>
  bool operator==(const FftAllocator<U>&) const noexcept {
    return true;
  }
};

using FftBuffer = std::vector<double, FftAllocator<double>>;

}  // namespace vellomar

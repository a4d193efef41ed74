#include "engine/cache.h"

#include <new>
#include <vector>

#include "engine/design.h"
#include "engine/source.h"
#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {
namespace {

struct SourceSlot {
  std::int32_t key = -1;
  FftBuffer spectrum;  // N complex entries
  FftBuffer filtered;  // 2N samples under the current filter
  bool filteredValid = false;
};

struct FilteredBlockCache {
  SourceSlot a;
  SourceSlot b;
  FftBuffer filter;  // N complex entries
  std::int32_t columnKey = -1;
  // Spectrum times filter, made with the other arrays so that no hop
  // allocates.
  FftBuffer product;
  std::size_t n = 0;  // block length the arrays were made for, 0 = none
};

FilteredBlockCache gCache;

// Frees every array and forgets every key.
void release() { gCache = FilteredBlockCache{}; }

bool makeArrays(std::size_t n) {
  try {
    gCache.a.spectrum.assign(2 * n, 0.0);
    gCache.b.spectrum.assign(2 * n, 0.0);
    gCache.filter.assign(2 * n, 0.0);
    gCache.a.filtered.resize(2 * n);
    gCache.b.filtered.resize(2 * n);
    gCache.product.resize(2 * n);
  } catch (const std::bad_alloc&) {
    release();
    return false;
  }
  gCache.n = n;
  return true;
}

}  // namespace

const double* getFilteredSegment(const RenderJob* job, std::int32_t b, std::int32_t c, std::int64_t s,
                                 ResultCode& result, const float* gains) {
  if (!job) {
    release();
    return nullptr;
  }

  const std::int32_t blockLength = renderSettings.blockLength;
  const std::int32_t subBlocks = renderSettings.subBlocksPerBlock;
  if (blockLength < 2 || subBlocks < 1 || subBlocks > blockLength) {
    result = kResultInternal;
    return nullptr;
  }
  const auto n = static_cast<std::size_t>(blockLength);

  // The arrays belong to one block length; a render with another one
  // (after a release, as every render starts) makes them anew.
  if (gCache.n != n) {
    release();
    if (!makeArrays(n)) {
      result = kResultNoMemory;
      return nullptr;
    }
  }

  if (c != gCache.columnKey) {
    gCache.a.filteredValid = gCache.b.filteredValid = false;
    result = designColumnFilter(*job, gCache.filter.data(), c, gains);
    if (result != kResultOk) {
      gCache.columnKey = -1;
      return nullptr;
    }
    gCache.columnKey = c;
  }

  SourceSlot* slot = nullptr;
  if (gCache.a.key == b) {
    slot = &gCache.a;
  } else if (gCache.b.key == b) {
    slot = &gCache.b;
  } else {
    // The older block goes; with both empty, B is filled first.
    slot = gCache.a.key < gCache.b.key ? &gCache.a : &gCache.b;
    slot->key = b;
    slot->filteredValid = false;
    result = readSourceBlock(*job, slot->spectrum.data(), b);
    if (result != kResultOk) {
      slot->key = -1;
      return nullptr;
    }
  }

  if (!slot->filteredValid) {
    const double* p = slot->spectrum.data();
    const double* q = gCache.filter.data();
    double* out = gCache.product.data();
    for (std::size_t k = 0; k < n; ++k) {
      const double pr = p[2 * k], pi = p[2 * k + 1];
      const double qr = q[2 * k], qi = q[2 * k + 1];
      out[2 * k] = pr * qr - qi * pi;
      out[2 * k + 1] = pr * qi + qr * pi;
    }
    ifftReal(out, slot->filtered.data(), 0.0, 2 * blockLength);
    slot->filteredValid = true;
  }

  const std::int64_t r = s - static_cast<std::int64_t>(b) * subBlocks;
  if (r < 0 || r >= 2 * static_cast<std::int64_t>(subBlocks)) {
    result = kResultBadSegment;
    return nullptr;
  }
  const std::size_t hop = n / static_cast<std::size_t>(subBlocks);
  return slot->filtered.data() + static_cast<std::size_t>(r) * hop;
}

}  // namespace vellomar

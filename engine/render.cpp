#include "engine/render.h"

#include <algorithm>
#include <new>
#include <vector>

#include "engine/cache.h"
#include "engine/design.h"

namespace vellomar {
namespace {

inline void storeSample(double v, unsigned char* out) {
  const auto bits = static_cast<std::uint16_t>(toOutputSample(v));
  out[0] = static_cast<unsigned char>(bits & 0xFF);
  out[1] = static_cast<unsigned char>(bits >> 8);
}

// Closes a stream; reports whether everything it held reached the file.
bool closeStream(std::FILE*& stream) {
  if (!stream) return true;
  bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
  ok = std::fclose(stream) == 0 && ok;
  stream = nullptr;
  return ok;
}

ResultCode renderHops(RenderJob& job, double* x, double* y, unsigned char* bytes, const float* gains) {
  const std::int64_t n = renderSettings.blockLength;
  const std::int64_t s = renderSettings.subBlocksPerBlock;
  const std::int64_t h = n / s;
  const double inverseHop = 1.0 / static_cast<double>(h);
  const double g = masterGainFactor(renderSettings.masterGainDb);
  const auto blocks = static_cast<std::int64_t>(blockCount(job.sampleCount, renderSettings.blockLength));
  // Output sample k is timeline sample k + N/2; the output ends at this timeline position.
  const std::int64_t end = static_cast<std::int64_t>(job.sampleCount) + n / 2;

  ResultCode result = kResultOk;
  // The hop's samples under filter column `column`: this block's segment
  // plus the tail of the block before. False when the cache failed.
  auto sumSegments = [&](std::int32_t block, std::int32_t column, std::int64_t u, double* out) {
    const double* seg = getFilteredSegment(&job, block, column, u, result, gains);
    if (!seg) return false;
    std::copy(seg, seg + h, out);
    if (block > 0) {
      seg = getFilteredSegment(&job, block - 1, column, u, result, gains);
      if (!seg) return false;
      for (std::int64_t k = 0; k < h; ++k) out[k] += seg[k];
    }
    return true;
  };
  for (std::int64_t b = 0; b < blocks; ++b) {
    if (job.progress) {
      // Progress is only shown; a failure to show it must not end the render
      // nor leave the engine as an exception.
      try {
        job.progress(static_cast<int>(b * 1000 / blocks));
      } catch (...) {
      }
    }
    const auto block = static_cast<std::int32_t>(b);
    for (std::int64_t j = 0; j < s; ++j) {
      if (b == 0 && j < s / 2) continue;  // before output sample 0
      const std::int64_t u = b * s + j;
      const std::int64_t hopStart = b * n + j * h;
      const bool last = hopStart + h >= end;

      // The hop fades from filter column u (x) to column u + 1 (y).
      const auto column = static_cast<std::int32_t>(u);
      if (!sumSegments(block, column, u, x) || !sumSegments(block, column + 1, u, y)) return result;

      const std::int64_t first = b == 0 ? std::max<std::int64_t>(0, n / 2 - j * h) : 0;
      const std::int64_t stop = last ? end - hopStart : h;
      for (std::int64_t k = first; k < stop; ++k) {
        const double t = static_cast<double>(k) * inverseHop;
        const double v = ((1.0 - t) * x[k] + t * y[k]) * g;
        storeSample(v, bytes + 2 * (k - first));
      }
      const auto count = static_cast<std::size_t>(2 * (stop - first));
      if (count > 0 && std::fwrite(bytes, 1, count, job.output) != count) return kResultWriteFailed;
      if (std::ferror(job.output) || std::feof(job.output)) return kResultWriteFailed;
      if (last) return kResultOk;
      if (abortRequested.load(std::memory_order_relaxed)) return kResultAborted;
    }
  }
  return kResultOk;
}

}  // namespace

std::int16_t toOutputSample(double v) {
  // Written so that a value that is not a number fails the first test.
  if (!(v < 32767.0)) {
    v = 32767.0;
  } else if (v <= -32768.0) {
    v = -32768.0;
  }
  return static_cast<std::int16_t>(static_cast<int>(v + 0.5));
}

ResultCode renderSound(RenderJob& job) {
  ResultCode result = kResultOk;
  const std::int32_t n = renderSettings.blockLength;
  const std::int32_t s = renderSettings.subBlocksPerBlock;

  std::vector<double> x, y;
  std::vector<unsigned char> bytes;
  std::vector<float> gains;
  // The hops must tile each block exactly: with a sub-block count that
  // does not divide the block length, samples between the last hop and the
  // next block would never be written and the file would fall short of its
  // header.
  if (n < 2 || s < 1 || s > n || n % s != 0 || !job.output) {
    result = kResultInternal;
  } else {
    const auto h = static_cast<std::size_t>(n / s);
    try {
      x.resize(h);
      y.resize(h);
      bytes.resize(2 * h);
      if (pictureData.width != 0 && pictureData.height != 0 && pictureData.pixels) {
        gains.resize(static_cast<std::size_t>(pictureData.width) * pictureData.height);
      } else {
        result = kResultInternal;
      }
    } catch (const std::bad_alloc&) {
      result = kResultNoMemory;
    }
  }

  if (result == kResultOk) {
    getFilteredSegment(nullptr, 0, 0, 0, result, nullptr);
    buildGainMatrix(gains.data());
    result = renderHops(job, x.data(), y.data(), bytes.data(), gains.data());
  }

  getFilteredSegment(nullptr, 0, 0, 0, result, nullptr);
  if (job.input) {
    std::fclose(job.input);
    job.input = nullptr;
  }
  // A stream that cannot hand its last bytes to the file has failed just
  // as a failed write has: the file would claim more data than it holds.
  if (!closeStream(job.output) && result == kResultOk) result = kResultWriteFailed;
  return result;
}

}  // namespace vellomar

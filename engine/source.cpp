#include "engine/source.h"

#include <cstring>
#include <new>
#include <vector>

#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {
namespace {

// Lower half: the block's samples; upper half: zeros, written once when
// the buffer is made and relied on by every transform after that.
FftBuffer gBlockBuffer;
std::int32_t gBlockBufferLength = 0;  // the N the buffer was made for, 0 = none
std::int32_t gLastBlockRead = -1;

constexpr double kOffset[32] = {
    163119.3, 41657.74, 15887.55, 9179.1,  5688.54, 3635.18, 2344.11, 1501.98,
    941.56,   567.95,   323.9,    168.73,  75.33,   27.12,   4.52,    0.0,
    -0.0,     -4.52,    -27.12,   -75.33,  -168.73, -323.9,  -567.95, -941.56,
    -1501.98, -2344.11, -3635.18, -5688.54, -9179.1, -15887.55, -41657.74, -163119.3};
constexpr double kSlope[32] = {
    0.00018239486, 6.173364e-05, 3.430426e-05, 2.661421e-05, 2.228023e-05, 1.949941e-05,
    1.757585e-05,  1.617982e-05, 1.513596e-05, 1.434325e-05, 1.373433e-05, 1.327133e-05,
    1.292758e-05,  1.268205e-05, 1.252351e-05, 1.244634e-05, 1.244634e-05, 1.252351e-05,
    1.268205e-05,  1.292758e-05, 1.327133e-05, 1.373433e-05, 1.434325e-05, 1.513596e-05,
    1.617982e-05,  1.757585e-05, 1.949941e-05, 2.228023e-05, 2.661421e-05, 3.430426e-05,
    6.173364e-05,  0.00018239486};

bool ensureBuffer(std::int32_t n) {
  if (gBlockBufferLength == n && !gBlockBuffer.empty()) return true;
  try {
    FftBuffer().swap(gBlockBuffer);
    gBlockBufferLength = 0;
    gBlockBuffer.assign(2 * static_cast<std::size_t>(n), 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  gBlockBufferLength = n;
  return true;
}

}  // namespace

void releaseSourceBlock() {
  FftBuffer().swap(gBlockBuffer);
  gBlockBufferLength = 0;
  gLastBlockRead = -1;
}

double nextNoiseSample() {
  std::int32_t s = randomSeed;
  s = 16807 * (s % 127773) - 2836 * (s / 127773);
  if (s <= 0) s += 2147483647;
  randomSeed = s;
  const int segment = s >> 26;
  const double d = static_cast<double>(s - 1073741824);
  return d * kSlope[segment] + kOffset[segment];
}

ResultCode readSourceBlock(const RenderJob& job, double* spectrum, std::int32_t k) {
  if (k != 0 && k != gLastBlockRead + 1) return kResultInternal;
  gLastBlockRead = k;

  const std::int32_t n = renderSettings.blockLength;
  if (n < 2) return kResultInternal;
  if (!ensureBuffer(n)) return kResultNoMemory;
  double* samples = gBlockBuffer.data();
  const auto un = static_cast<std::size_t>(n);

  if (renderSettings.inputSource == InputSource::WaveFile) {
    // 64-bit arithmetic: a count near 4 Gi samples must not wrap.
    const std::int64_t remaining =
        static_cast<std::int64_t>(job.sampleCount) - static_cast<std::int64_t>(k) * n;
    const std::size_t len =
        remaining <= 0 ? 0 : static_cast<std::size_t>(remaining < n ? remaining : n);
    // Raw samples go to the top of the lower half and are widened in place,
    // front to back; a double never lands on a raw sample not yet read.
    auto* raw = reinterpret_cast<unsigned char*>(samples);
    if (job.input8Bit) {
      unsigned char* src = raw + 7 * un;
      if (len > 0 && (!job.input || std::fread(src, 1, len, job.input) != len)) return kResultShortRead;
      for (std::size_t i = 0; i < len; ++i) {
        const double v = (static_cast<double>(src[i]) - 128.0) * 256.0;
        std::memcpy(samples + i, &v, sizeof v);
      }
    } else {
      unsigned char* src = raw + 6 * un;
      if (len > 0 && (!job.input || std::fread(src, 2, len, job.input) != len)) return kResultShortRead;
      for (std::size_t i = 0; i < len; ++i) {
        const auto bits = static_cast<std::uint16_t>(src[2 * i] | (src[2 * i + 1] << 8));
        const double v = static_cast<double>(static_cast<std::int16_t>(bits));
        std::memcpy(samples + i, &v, sizeof v);
      }
    }
    for (std::size_t i = len; i < un; ++i) samples[i] = 0.0;
  } else {
    for (std::size_t i = 0; i < un; ++i) samples[i] = nextNoiseSample();
  }

  fftReal(samples, spectrum, 2 * n, 0);
  return kResultOk;
}

}  // namespace vellomar

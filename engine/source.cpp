// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/source.h"


#include <cstring>

#include "engine/context.h"
#include "engine/positional_read.h"

namespace vellomar {
namespace {

constexpr std::uint64_t kModulus = 2147483647;  // 2^31 - 1
constexpr std::uint64_t kMultiplier = 16807;

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

// a * b mod 2^31 - 1 for a, b below 2^31: the product fits 62 bits, and
// 2^31 = 1 modulo the modulus folds it.
inline std::uint64_t mulMod(std::uint64_t a, std::uint64_t b) {
  std::uint64_t x = a * b;
  x = (x & kModulus) + (x >> 31);
  x = (x & kModulus) + (x >> 31);
  return x >= kModulus ? x - kModulus : x;
}


}  // namespace

bool validNoiseState(std::int32_t state) {
  return state >= 1 && static_cast<std::uint64_t>(state) < kModulus;
}

double nextNoiseSample(std::int32_t& state) {
  // The minimal standard generator, state * 16807 mod 2^31 - 1: the same
  // value as Schrage's form, with one multiplication and no division.
  const auto s = static_cast<std::int32_t>(mulMod(static_cast<std::uint32_t>(state), kMultiplier));
  state = s;
  const int segment = s >> 26;
  const double d = static_cast<double>(s - 1073741824);
  return d * kSlope[segment] + kOffset[segment];
}

std::int32_t advanceNoiseState(std::int32_t state, std::uint64_t steps) {
  // 16807 is a primitive root: the states repeat after 2^31 - 2 steps.
  std::uint64_t e = steps % (kModulus - 1);
  std::uint64_t factor = 1;
  std::uint64_t power = kMultiplier;
  while (e > 0) {
    if (e & 1) factor = mulMod(factor, power);
    power = mulMod(power, power);
    e >>= 1;
  }
  return static_cast<std::int32_t>(mulMod(static_cast<std::uint32_t>(state), factor));
}

ResultCode readSourceBlock(RenderContext& context, double* spectrum, std::int32_t k) {
  if (k != 0 && k != context.lastBlockRead + 1) return kResultInternal;
  context.lastBlockRead = k;

  const RenderJob* job = context.job;
  const std::int32_t n = context.blockLength;
  if (!job || n < 2) return kResultInternal;
  if (context.sourceBuffer.size() != 2 * static_cast<std::size_t>(n)) return kResultNoMemory;
  double* samples = context.sourceBuffer.data();
  const auto un = static_cast<std::size_t>(n);

  if (job->settings.inputSource == InputSource::WaveFile) {
    // 64-bit arithmetic: a count near 4 Gi samples must not wrap.
    const std::int64_t remaining = static_cast<std::int64_t>(job->sampleCount) - static_cast<std::int64_t>(k) * n;
    const std::size_t len = remaining <= 0 ? 0 : static_cast<std::size_t>(remaining < n ? remaining : n);
    SampleLayout layout;
    layout.eightBit = job->input8Bit;
    layout.float32 = job->inputFloat;
    layout.channels = job->inputChannels > 1 ? static_cast<std::size_t>(job->inputChannels) : 1;
    const std::size_t frame = layout.frameBytes();
    if (frame > sizeof(double)) return kResultInternal;
    // Raw frames go to the top of the lower half and are widened in place,
    // front to back; a double never lands on a raw frame not yet read.
    unsigned char* src = reinterpret_cast<unsigned char*>(samples) + (sizeof(double) - frame) * un;
    if (len > 0) {
      bool ok = job->input != nullptr;
      if (ok && context.inputOffset >= 0) {
        const std::int64_t at = context.inputOffset + static_cast<std::int64_t>(k) * n * static_cast<std::int64_t>(frame);
        ok = readAt(::fileno(job->input), src, len * frame, at);
      } else if (ok) {
        ok = std::fread(src, frame, len, job->input) == len;
      }
      if (!ok) return kResultShortRead;
    }
    const auto channel = static_cast<std::size_t>(context.inputChannel);
    samplesToDouble(src, len, layout, channel < layout.channels ? channel : 0, samples);
    for (std::size_t i = len; i < un; ++i) samples[i] = 0.0;
  } else {
    std::int32_t state = context.noiseState;
    for (std::size_t i = 0; i < un; ++i) samples[i] = nextNoiseSample(state);
    context.noiseState = state;
  }

  return context.fft.forward(samples, spectrum, 2 * n) ? kResultOk : kResultNoMemory;
}

double noiseMeanSquare() {
  // Segment i holds the states i * 2^26 ... (i + 1) * 2^26 - 1 (state 0 and
  // 2^31 - 1 excepted) and maps state s linearly: v = d * slope + offset with
  // d = s - 2^30. Summing v^2 over a run of d is a matter of the sums of d
  // and d^2, which long double holds closely enough (d^2 sums reach 2^86).
  const auto sumOf = [](long double from, long double to) { return (from + to) * (to - from + 1) / 2; };
  const auto squaresUpTo = [](long double n) { return n * (n + 1) * (2 * n + 1) / 6; };  // 0^2 + ... + n^2
  const auto sumOfSquares = [&](long double from, long double to) {
    // from < 0 <= to in the middle segments; both of one sign elsewhere.
    if (from >= 0) return squaresUpTo(to) - squaresUpTo(from - 1);
    if (to < 0) return squaresUpTo(-from) - squaresUpTo(-to - 1);
    return squaresUpTo(-from) + squaresUpTo(to);
  };
  long double total = 0;
  long double count = 0;
  for (int i = 0; i < 32; ++i) {
    long double first = static_cast<long double>(std::int64_t{i} << 26);
    long double last = static_cast<long double>((std::int64_t{i + 1} << 26) - 1);
    if (i == 0) first = 1;
    if (i == 31) last = static_cast<long double>(kModulus - 1);
    const long double from = first - 1073741824.0L;
    const long double to = last - 1073741824.0L;
    const long double m = kSlope[i];
    const long double c = kOffset[i];
    const long double n = to - from + 1;
    total += m * m * sumOfSquares(from, to) + 2 * m * c * sumOf(from, to) + n * c * c;
    count += n;
  }
  return static_cast<double>(total / count);
}

}  // namespace vellomar

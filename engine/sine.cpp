// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/sine.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/context.h"
#include "engine/design.h"
#include "engine/design_internal.h"
#include "engine/scales.h"
#include "engine/source.h"

namespace vellomar {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The kernel's shape: Kaiser-Bessel over kSineKernelTaps points of a grid
// oversampled twice, beta = pi * taps * (1 - 1 / (2 * 2)), which puts the
// edge of its transform's main lobe at the first alias of the outermost
// output sample.
double kernelBeta() { return 0.75 * kPi * static_cast<double>(kSineKernelTaps); }

// The modified Bessel function I0 by its power series, whose terms are
// all positive: accurate to a few units of the last place for the
// arguments here (up to beta), and several times faster than the
// library's general one.
double besselI0(double x) {
  const double q = 0.25 * x * x;
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1; k < 500 && term > sum * 1e-18; ++k) {
    term *= q / (static_cast<double>(k) * static_cast<double>(k));
    sum += term;
  }
  return sum;
}

// I0(beta * sqrt(1 - z^2)) / I0(beta), for |z| <= 1.
double kernelAt(double z, double beta) {
  const double r = std::max(0.0, 1.0 - z * z);
  return besselI0(beta * std::sqrt(r)) / besselI0(beta);
}

// The kernel's transform at angular frequency `w` (radians per sample),
// the kernel's half width being `alpha` radians:
// integral of kernel(t / alpha) e^{-iwt} dt = 2 alpha sinh(s) / s / I0(beta)
// with s = sqrt(beta^2 - (alpha w)^2).
double kernelTransform(double w, double alpha, double beta) {
  const double aw = alpha * w;
  const double s = std::sqrt(beta * beta - aw * aw);
  return 2.0 * alpha * std::sinh(s) / s / besselI0(beta);
}

constexpr int kPhasorBits = 12;
constexpr std::size_t kPhasorSteps = std::size_t{1} << kPhasorBits;

// cos and sin of `steps` equal steps of `turn` turns, interleaved.
void fillPhasors(std::vector<double>& table, double turn) {
  for (std::size_t i = 0; i < kPhasorSteps; ++i) {
    const double angle = 2.0 * kPi * turn * static_cast<double>(i) / static_cast<double>(kPhasorSteps);
    table[2 * i] = std::cos(angle);
    table[2 * i + 1] = std::sin(angle);
  }
}

// cos and sin of 2 pi phase / 2^64.
inline void phasor(const SineTables& t, std::uint64_t phase, double& c, double& s) {
  const std::size_t a = static_cast<std::size_t>(phase >> (64 - kPhasorBits));
  const std::size_t b = static_cast<std::size_t>(phase >> (64 - 2 * kPhasorBits)) & (kPhasorSteps - 1);
  const std::uint64_t rest = phase & ((std::uint64_t{1} << (64 - 2 * kPhasorBits)) - 1);
  const double e = static_cast<double>(rest) * (2.0 * kPi / kTwoTo64);  // below 4e-7
  const double ec = 1.0 - 0.5 * e * e;
  const double es = e - e * e * e / 6.0;
  const double* p = t.coarse.data() + 2 * a;
  const double* q = t.fine.data() + 2 * b;
  const double c1 = p[0] * q[0] - p[1] * q[1];
  const double s1 = p[0] * q[1] + p[1] * q[0];
  c = c1 * ec - s1 * es;
  s = c1 * es + s1 * ec;
}

bool blockSettingsUsable(const RenderSettings& s) {
  const std::int32_t n = s.blockLength;
  const std::int32_t sub = s.subBlocksPerBlock;
  return isPowerOfTwo(n) && n >= 4 && n <= (1 << 28) && sub >= 1 && sub <= n && n % sub == 0 && s.sampleRate > 0;
}

bool scaleKnown(FrequencyScale scale) {
  return scale == FrequencyScale::Linear || scale == FrequencyScale::Logarithmic || scale == FrequencyScale::Mel;
}

// Schroeder's phase pi c^2 / W as a fraction of 2^64: (c^2 mod 2W) / 2W.
std::uint64_t schroederPhase(std::uint64_t c, std::uint64_t width) {
  const std::uint64_t twice = 2 * width;
  const unsigned __int128 turns = static_cast<unsigned __int128>((c * c) % twice) << 64;
  return static_cast<std::uint64_t>(turns / twice);
}

// The tables of column c: silent, or its increment, start phase and kernel.
void prepareColumn(SineTables& t, const RenderSettings& s, std::uint32_t c, double beta) {
  const double fs = static_cast<double>(s.sampleRate);
  const double f = sineColumnFrequency(s, static_cast<std::uint32_t>(t.width), c);
  const auto at = static_cast<std::size_t>(c);
  t.sounding[at] = 0;
  t.increment[at] = 0;
  t.startPhase[at] = schroederPhase(c, static_cast<std::uint64_t>(t.width));
  t.firstTap[at] = 0;
  if (!(f > 0.0) || !(f < fs / 2.0)) return;
  const long double step = static_cast<long double>(f) / static_cast<long double>(fs) * 18446744073709551616.0L;
  // Below half the rate the step stays below 2^63.
  const auto increment = static_cast<std::uint64_t>(std::llroundl(step));
  if (increment == 0) return;
  t.sounding[at] = 1;
  t.increment[at] = increment;
  // The tone's place on the grid, from the increment it really runs at.
  const double mu = static_cast<double>(increment) / kTwoTo64 * static_cast<double>(t.grid);
  const double half = 0.5 * static_cast<double>(kSineKernelTaps);
  const auto first = static_cast<std::int32_t>(std::floor(mu - half)) + 1;
  t.firstTap[at] = first;
  double* k = t.kernel.data() + at * kSineKernelTaps;
  for (std::int32_t i = 0; i < kSineKernelTaps; ++i) k[i] = kernelAt((first + i - mu) / half, beta);
}

}  // namespace

double sineColumnFrequency(const RenderSettings& settings, std::uint32_t width, std::uint32_t column) {
  if (width <= 1) return pictureMapping(settings, 1.0f).frequencyAt(0.5);
  return pictureMapping(settings, static_cast<float>(width - 1)).frequencyAt(static_cast<double>(column));
}

double sineLevel(const RenderSettings& settings, std::uint32_t width) {
  if (width == 0 || !blockSettingsUsable(settings) || !scaleKnown(settings.frequencyScale)) return 0.0;
  // The filter a white picture gets on pink noise: every bin at its tilt
  // (and its weight near a chosen band's edges).
  static const std::uint8_t kWhite = 255;
  RenderJob pink;
  pink.settings = settings;
  pink.settings.inputSource = InputSource::PinkNoise;
  pink.picture = PictureData{&kWhite, width, width, 1};
  const std::int32_t n = settings.blockLength;
  const auto un = static_cast<std::size_t>(n);
  const std::size_t k = un / 2;
  try {
    FilterDesignWorkspace design;
    if (prepareDesignWorkspace(design, pink) != kResultOk || design.binEdges.empty()) return 0.0;
    FftBuffer responses(un, 0.0);
    FftBuffer taps(un, 0.0);
    for (std::int32_t i = design.edgesFirst; i < design.edgesEnd; ++i) {
      const double edge =
          design.edgeWeights.empty() ? 1.0 : design.edgeWeights[static_cast<std::size_t>(i - design.edgesFirst)];
      responses[2 * static_cast<std::size_t>(i)] = design.pinkWeights[static_cast<std::size_t>(i)] * edge;
    }
    FftWorkspace fft;
    if (!fft.prepare(n) || !fft.inverse(responses.data(), taps.data(), n)) return 0.0;
    // The filter is the response rotated by half a block under a Hann
    // window; the render's transforms scale it by 1 / 2N.
    double energy = 0.0;
    for (std::size_t m = 0; m < un; ++m) {
      const double window = m < k ? design.halfWindow[m] : design.halfWindow[un - 1 - m];
      const double tap = window * taps[(m + k) % un] / (2.0 * static_cast<double>(n));
      energy += tap * tap;
    }
    return std::sqrt(2.0 * noiseMeanSquare() * energy / static_cast<double>(width));
  } catch (const std::bad_alloc&) {
    return 0.0;
  }
}

ResultCode prepareSineTables(SineTables& t, const RenderJob& job) {
  const RenderSettings& s = job.settings;
  const PictureData& pic = job.picture;
  if (!blockSettingsUsable(s) || !scaleKnown(s.frequencyScale)) return kResultInternal;
  if (pic.width == 0 || pic.height == 0 || !pic.pixels || pic.width > kMaxPictureSide || pic.height > kMaxPictureSide) {
    return kResultInternal;
  }
  const std::int32_t hop = s.blockLength / s.subBlocksPerBlock;
  const std::size_t columns = pic.width;
  try {
    t = SineTables{};
    t.width = static_cast<std::int32_t>(pic.width);
    t.hop = hop;
    t.grid = 4 * hop;
    t.halfBlock = s.blockLength / 2;
    t.increment.resize(columns);
    t.startPhase.resize(columns);
    t.sounding.resize(columns);
    t.firstTap.resize(columns);
    t.kernel.resize(columns * kSineKernelTaps);
    t.deconvolution.resize(2 * static_cast<std::size_t>(hop));
    t.coarse.resize(2 * kPhasorSteps);
    t.fine.resize(2 * kPhasorSteps);
  } catch (const std::bad_alloc&) {
    t = SineTables{};
    return kResultNoMemory;
  }
  t.level = sineLevel(s, pic.width);
  if (!(t.level > 0.0)) {
    t = SineTables{};
    return kResultNoMemory;
  }
  fillPhasors(t.coarse, 1.0);
  fillPhasors(t.fine, 1.0 / static_cast<double>(kPhasorSteps));
  const double beta = kernelBeta();
  for (std::uint32_t c = 0; c < pic.width; ++c) prepareColumn(t, s, c, beta);
  const double spacing = 2.0 * kPi / static_cast<double>(t.grid);
  const double alpha = 0.5 * static_cast<double>(kSineKernelTaps) * spacing;
  for (std::int32_t i = 0; i < 2 * hop; ++i) {
    t.deconvolution[static_cast<std::size_t>(i)] = spacing / kernelTransform(i - hop, alpha, beta);
  }
  return kResultOk;
}

ResultCode configureSineVoice(SineVoice& voice, const RenderJob& job, const SineTables& tables) {
  voice.job = &job;
  voice.tables = &tables;
  voice.heldColumn[0] = voice.heldColumn[1] = -1;
  voice.heldGains = nullptr;
  if (tables.grid < 4 || tables.width < 1) return kResultInternal;
  if (!voice.fft.prepare(tables.grid)) return kResultNoMemory;
  try {
    voice.transformed.assign(static_cast<std::size_t>(tables.grid), 0.0);
    for (FftBuffer& sums : voice.sums) sums.assign(2 * static_cast<std::size_t>(tables.hop), 0.0);
    voice.slice.assign(static_cast<std::size_t>(tables.width), 0.0f);
    voice.interior.assign(static_cast<std::size_t>(tables.width), 0.0f);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  return kResultOk;
}

namespace {

// Adds (re, im) at grid index l (any integer) and its mirror image
// conj(re, im) at -l: the half grid 0 ... M/2 - 1 holds a Hermitian
// spectrum, and the entry at M/2 (`nyquist`) is real.
inline void spreadPoint(double* grid, std::int64_t m, std::int64_t l, double re, double im, double& nyquist) {
  const std::int64_t at = ((l % m) + m) % m;
  const std::int64_t mirror = (m - at) % m;
  const std::int64_t half = m / 2;
  if (at < half) {
    grid[2 * at] += re;
    grid[2 * at + 1] += im;
  } else if (at == half) {
    nyquist += re;
  }
  if (mirror < half) {
    grid[2 * mirror] += re;
    grid[2 * mirror + 1] -= im;
  } else if (mirror == half) {
    nyquist += re;
  }
}

// Spreads every sounding column of `slice` onto the grid, its phase that
// of output sample `centre`. Returns whether any column sounded.
bool spreadColumns(const SineTables& t, const float* slice, std::int64_t centre, double* grid, double& nyquist) {
  const std::int64_t m = t.grid;
  const std::int32_t lastInterior = t.grid / 2 - kSineKernelTaps;
  const auto at = static_cast<std::uint64_t>(centre);
  bool any = false;
  for (std::int32_t c = 0; c < t.width; ++c) {
    const auto column = static_cast<std::size_t>(c);
    const float gain = slice[column];
    if (!t.sounding[column] || !(gain != 0.0f)) continue;
    any = true;
    // A sine of amplitude A and phase theta is the real part of
    // -i A e^{i theta}; half of it goes to +f, the conjugate to -f.
    double cosine = 0.0;
    double sine = 0.0;
    phasor(t, t.startPhase[column] + t.increment[column] * at, cosine, sine);
    const double half = 0.5 * t.level * static_cast<double>(gain);
    const double re = half * sine;
    const double im = -half * cosine;
    const double* k = t.kernel.data() + column * kSineKernelTaps;
    const std::int32_t first = t.firstTap[column];
    if (first >= 1 && first <= lastInterior) {
      double* g = grid + 2 * static_cast<std::ptrdiff_t>(first);
      for (std::int32_t i = 0; i < kSineKernelTaps; ++i) {
        g[2 * i] += re * k[i];
        g[2 * i + 1] += im * k[i];
      }
    } else {
      for (std::int32_t i = 0; i < kSineKernelTaps; ++i) spreadPoint(grid, m, first + i, re * k[i], im * k[i], nyquist);
    }
  }
  return any;
}

// The tones' sum under filter column v over its 2H samples (timeline
// vH - H ... vH + H - 1), into `sums`.
ResultCode makeColumnSums(SineVoice& voice, const float* gains, std::int64_t v, double* sums) {
  const SineTables& t = *voice.tables;
  const RenderJob& job = *voice.job;
  if (v < 0 || v > INT32_MAX) return kResultInternal;
  const ResultCode sliced =
      slotColumnGains(job, gains, static_cast<std::int32_t>(v), voice.slice.data(), voice.interior.data());
  if (sliced != kResultOk) return sliced;
  const std::int64_t m = t.grid;
  const std::int64_t hop = t.hop;
  double* grid = voice.fft.inverseInput(t.grid);
  if (!grid) return kResultInternal;
  std::fill(grid, grid + m, 0.0);
  double nyquist = 0.0;
  if (!spreadColumns(t, voice.slice.data(), v * hop - t.halfBlock, grid, nyquist)) {
    std::fill(sums, sums + 2 * hop, 0.0);
    return kResultOk;
  }
  double* out = voice.transformed.data();
  voice.fft.inverseFromInput(out, t.grid);
  // Sample i of the sums is j = i - H around the column's moment, grid
  // sample j modulo M; the transform leaves out the entry at M/2, whose
  // share is nyquist * (-1)^j.
  const double* d = t.deconvolution.data();
  for (std::int64_t i = 0; i < 2 * hop; ++i) {
    const std::int64_t j = i - hop;
    const double sample = out[j < 0 ? j + m : j] + ((j & 1) ? -nyquist : nyquist);
    sums[i] = sample * d[i];
  }
  return kResultOk;
}

// The slot of the voice's sums that holds filter column v, making it if
// needed without overwriting the slot `keep`.
ResultCode columnSums(SineVoice& voice, const float* gains, std::int64_t v, int keep, int& slot) {
  for (int i = 0; i < 2; ++i) {
    if (voice.heldColumn[i] == v) {
      slot = i;
      return kResultOk;
    }
  }
  slot = keep == 0 ? 1 : 0;
  voice.heldColumn[slot] = -1;
  const ResultCode made = makeColumnSums(voice, gains, v, voice.sums[slot].data());
  if (made == kResultOk) voice.heldColumn[slot] = v;
  return made;
}

}  // namespace

ResultCode sineHopSignals(SineVoice& voice, const float* gains, std::int64_t u, const double*& from,
                          const double*& to) {
  if (!voice.tables || !voice.job || !gains || voice.sums[0].empty()) return kResultInternal;
  if (gains != voice.heldGains) {
    voice.heldColumn[0] = voice.heldColumn[1] = -1;
    voice.heldGains = gains;
  }
  int a = -1;
  int b = -1;
  ResultCode result = columnSums(voice, gains, u, -1, a);
  if (result == kResultOk) result = columnSums(voice, gains, u + 1, a, b);
  if (result != kResultOk) return result;
  const std::size_t hop = static_cast<std::size_t>(voice.tables->hop);
  from = voice.sums[a].data() + hop;
  to = voice.sums[b].data();
  return kResultOk;
}

ResultCode renderSineFrames(SineVoice& voice, const float* gains, std::int64_t first, std::int64_t count,
                            double* out, std::size_t stride, const StopFlags* stop, std::int64_t* framesDone) {
  if (framesDone) *framesDone = 0;
  if (!voice.tables || !voice.job || first < 0 || count < 0) return kResultInternal;
  const std::int64_t hop = voice.tables->hop;
  const double inverseHop = 1.0 / static_cast<double>(hop);
  const double g = masterGainFactor(voice.job->settings.masterGainDb);
  const std::int64_t outputEnd = static_cast<std::int64_t>(voice.job->sampleCount);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t position = first + done + voice.tables->halfBlock;  // on the timeline
    const std::int64_t u = position / hop;
    const std::int64_t k0 = position - u * hop;
    const double* from = nullptr;
    const double* to = nullptr;
    const ResultCode result = sineHopSignals(voice, gains, u, from, to);
    if (result != kResultOk) return result;
    const std::int64_t k1 = std::min(hop, k0 + count - done);
    double* at = out + static_cast<std::size_t>(done) * stride;
    for (std::int64_t k = k0; k < k1; ++k, at += stride) *at = hopFade(from, to, k, inverseHop, g);
    done += k1 - k0;
    if (framesDone) *framesDone = done;
    // As the filter render: a stop after the output's last hop is too late.
    if (first + done < outputEnd && stop && stop->requested()) return kResultAborted;
  }
  return kResultOk;
}

}  // namespace vellomar

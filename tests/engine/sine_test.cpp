// SPDX-License-Identifier: GPL-3.0-or-later
// Sine tones: the synthesis against a plain sum of sines, the tones'
// frequencies, amplitudes, time course, purity and level, and the same
// bytes however the render is cut.

#include "engine/sine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/design.h"
#include "engine/render.h"
#include "fft/fft.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 44100.0;

RenderSettings sineSettings(FrequencyScale scale, float lowHz, float highHz) {
  RenderSettings s;
  s.inputSource = InputSource::SineTones;
  s.frequencyScale = scale;
  s.bandLowHz = lowHz;
  s.bandHighHz = highHz;
  s.masterGainDb = 0;
  return s;
}

// A sine render held in the engine: its gains, tables and one voice, for
// reading its samples before the rounding.
class EngineSines {
 public:
  EngineSines(const RenderSettings& settings, const PictureData& picture, std::uint32_t count) {
    job_.settings = settings;
    job_.picture = picture;
    job_.sampleCount = count;
    gains_.resize(static_cast<std::size_t>(picture.width) * picture.height);
    buildGainMatrix(picture, settings, gains_.data());
    ok_ = prepareSineTables(tables_, job_) == kResultOk && configureSineVoice(voice_, job_, tables_) == kResultOk;
  }
  bool ok() const { return ok_; }
  const SineTables& tables() const { return tables_; }
  std::vector<double> frames(std::int64_t first, std::int64_t count) {
    std::vector<double> out(static_cast<std::size_t>(count));
    EXPECT_EQ(renderSineFrames(voice_, gains_.data(), first, count, out.data()), kResultOk);
    return out;
  }

 private:
  RenderJob job_;
  std::vector<float> gains_;
  SineTables tables_;
  SineVoice voice_;
  bool ok_ = false;
};

// The picture's columns as steady tones: brightness of column x, every row.
test::TestPicture steadyPicture(std::uint32_t width, std::uint32_t height, std::function<int(std::uint32_t)> column) {
  return test::TestPicture(width, height, [&](std::uint32_t x, std::uint32_t) { return column(x); });
}

// The complex amplitude of frequency f in samples [from, from + count) under
// a Kaiser window (beta 20: side lobes near -190 dB), scaled so that a sine
// of amplitude A gives magnitude A.
std::complex<double> toneAt(const std::vector<double>& x, std::size_t from, std::size_t count, double f) {
  const double beta = 20.0;
  std::complex<double> sum = 0.0;
  double weight = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double r = 2.0 * static_cast<double>(i) / static_cast<double>(count - 1) - 1.0;
    const double w = std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1.0 - r * r)));
    const double angle = -2.0 * kPi * f * static_cast<double>(from + i) / kRate;
    sum += w * x[from + i] * std::complex<double>(std::cos(angle), std::sin(angle));
    weight += w;
  }
  return 2.0 * sum / weight;
}

// Sample n of the steady tones of `t` under column gains `gain`, summed
// directly from the phases the tables define.
double plainSum(const SineTables& t, const std::vector<float>& gain, std::int64_t n) {
  long double sum = 0.0L;
  for (std::size_t c = 0; c < gain.size(); ++c) {
    if (!t.sounding[c] || gain[c] == 0.0f) continue;
    const std::uint64_t phase = t.startPhase[c] + t.increment[c] * static_cast<std::uint64_t>(n);
    const long double turns = static_cast<long double>(phase) / 18446744073709551616.0L;
    sum += static_cast<long double>(t.level) * gain[c] * std::sin(2.0L * 3.14159265358979323846264L * turns);
  }
  return static_cast<double>(sum);
}

TEST(SineSynthesis, MatchesAPlainSumOfSinesAcrossTheBandAndItsEnds) {
  // Linear from 0 Hz: tones near DC and near half the rate take the grid's
  // folded edges; the columns at 0 Hz and 22050 Hz are silent.
  const std::uint32_t width = 1201;
  const auto brightness = [](std::uint32_t x) {
    return x < 4 || x > width - 5 || x % 97 == 5 ? 40 + static_cast<int>(x % 200) : 0;
  };
  for (std::int32_t n : {2048, 8192}) {
    RenderSettings s = sineSettings(FrequencyScale::Linear, 0.0f, 0.0f);
    s.blockLength = n;
    test::TestPicture picture = steadyPicture(width, 1, brightness);
    EngineSines sines(s, picture.data(), 100000);
    ASSERT_TRUE(sines.ok());
    const SineTables& t = sines.tables();
    EXPECT_FALSE(t.sounding[0]);
    EXPECT_FALSE(t.sounding[width - 1]);
    std::vector<float> gain(width);
    double amplitudeSum = 0.0;
    for (std::uint32_t c = 0; c < width; ++c) {
      gain[c] = static_cast<float>(brightness(c)) * (1.0f / 255.0f);
      if (t.sounding[c]) amplitudeSum += t.level * gain[c];
    }
    const std::int64_t first = 12345;
    const std::vector<double> got = sines.frames(first, 6000);
    double worst = 0.0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      worst = std::max(worst, std::abs(got[i] - plainSum(t, gain, first + static_cast<std::int64_t>(i))));
    }
    EXPECT_LT(worst, 1e-10 * amplitudeSum);
  }
}

// The frequency of a one-lit-column tone, from the phase it gains between
// its first and its second second against `f`: within 0.05 cent.
void expectFrequency(const std::vector<double>& x, double f) {
  const std::complex<double> first = toneAt(x, 0, 44100, f);
  const std::complex<double> second = toneAt(x, 44100, 44100, f);
  const double offsetHz = std::arg(second / first) / (2.0 * kPi);
  EXPECT_LT(std::abs(1200.0 * std::log2((f + offsetHz) / f)), 0.05) << f << " Hz is off by " << offsetHz << " Hz";
}

// Every bin of the windowed spectrum of `x` outside the main lobe at
// frequency f lies at least 120 dB below the tone's peak.
void expectPure(const std::vector<double>& x, double f) {
  const std::int32_t size = 131072;
  std::vector<double> windowed(size, 0.0);
  const std::size_t count = x.size();
  for (std::size_t i = 0; i < count; ++i) {
    const double r = 2.0 * static_cast<double>(i) / static_cast<double>(count - 1) - 1.0;
    windowed[i] = x[i] * std::cyl_bessel_i(0.0, 20.0 * std::sqrt(std::max(0.0, 1.0 - r * r)));
  }
  std::vector<double> spectrum(size, 0.0);
  fftReal(windowed.data(), spectrum.data(), size);
  std::vector<double> power(size / 2);
  for (std::int32_t k = 0; k < size / 2; ++k)
    power[k] = spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];
  const auto peakBin = static_cast<std::int32_t>(std::lround(f * size / kRate));
  double peak = 0.0;
  for (std::int32_t k = std::max(0, peakBin - 2); k <= std::min(size / 2 - 1, peakBin + 2); ++k)
    peak = std::max(peak, power[k]);
  double worst = 0.0;
  std::int32_t worstBin = 0;
  for (std::int32_t k = 0; k < size / 2; ++k) {
    if (std::abs(k - peakBin) <= 12) continue;  // the window's main lobe
    if (power[k] > worst) {
      worst = power[k];
      worstBin = k;
    }
  }
  const double belowDb = 10.0 * std::log10(peak / std::max(worst, 1e-300));
  EXPECT_GT(belowDb, 120.0) << "at " << worstBin * kRate / size << " Hz, beside a tone at " << f << " Hz";
}

struct ToneCase {
  FrequencyScale scale;
  float lowHz;
  float highHz;
  std::uint32_t width;
  std::uint32_t column;
  double hz;  // the column's frequency, worked out by hand
};

TEST(SineTones, OneLitColumnIsOnePureToneAtItsFrequencyOnEveryScale) {
  const ToneCase cases[] = {
      {FrequencyScale::Linear, 1000.0f, 5000.0f, 5, 2, 3000.0},
      {FrequencyScale::Linear, 0.0f, 0.0f, 442, 439, 21950.0},
      {FrequencyScale::Logarithmic, 55.0f, 7040.0f, 85, 48, 880.0},
      {FrequencyScale::Logarithmic, 16.0f, 22050.0f, 512, 300, 16.0 * std::pow(22050.0 / 16.0, 300.0 / 511.0)},
      {FrequencyScale::Logarithmic, 20.0f, 40.0f, 13, 1, 20.0 * std::pow(2.0, 1.0 / 12.0)},
      {FrequencyScale::Mel, 100.0f, 8000.0f, 64, 20, 800.0 * std::pow(8700.0 / 800.0, 20.0 / 63.0) - 700.0},
  };
  for (const ToneCase& c : cases) {
    SCOPED_TRACE(c.hz);
    const RenderSettings s = sineSettings(c.scale, c.lowHz, c.highHz);
    test::TestPicture picture = steadyPicture(c.width, 9, [&](std::uint32_t x) { return x == c.column ? 255 : 0; });
    const std::uint32_t count = 2 * 44100;
    EngineSines sines(s, picture.data(), count);
    ASSERT_TRUE(sines.ok());
    const std::vector<double> x = sines.frames(0, count);
    EXPECT_NEAR(std::abs(toneAt(x, 0, count, c.hz)) / sines.tables().level, 1.0, 1e-6);
    expectFrequency(x, c.hz);
    expectPure(x, c.hz);
  }
}

TEST(SineTones, ColumnsSoundTheirGainsUnderBothMappings) {
  // Columns 24 and 60 of A1 ... A8 in semitones: 220 Hz and 1760 Hz.
  test::TestPicture picture = steadyPicture(85, 4, [](std::uint32_t x) { return x == 24 ? 255 : x == 60 ? 128 : 0; });
  for (bool logBrightness : {false, true}) {
    RenderSettings s = sineSettings(FrequencyScale::Logarithmic, 55.0f, 7040.0f);
    s.logBrightness = logBrightness;
    EngineSines sines(s, picture.data(), 44100);
    ASSERT_TRUE(sines.ok());
    const std::vector<double> x = sines.frames(0, 44100);
    const double ratio = std::abs(toneAt(x, 0, 44100, 220.0)) / std::abs(toneAt(x, 0, 44100, 1760.0));
    const double expected = logBrightness ? std::pow(10.0, (1.0 - 128.0 / 255.0) * 60.0 / 20.0) : 255.0 / 128.0;
    EXPECT_NEAR(ratio / expected, 1.0, 1e-5) << (logBrightness ? "log" : "lin");
  }
}

TEST(SineTones, BlackIsSilenceUnderBothMappingsAndBrightnessOneIsNot) {
  for (bool logBrightness : {false, true}) {
    RenderSettings s = sineSettings(FrequencyScale::Mel, 0.0f, 0.0f);
    s.logBrightness = logBrightness;
    s.logRangeDb = 120;
    test::TestPicture black = steadyPicture(300, 5, [](std::uint32_t) { return 0; });
    EngineSines silent(s, black.data(), 20000);
    ASSERT_TRUE(silent.ok());
    for (double v : silent.frames(0, 20000)) ASSERT_EQ(v, 0.0);
    test::TestPicture dim = steadyPicture(300, 5, [](std::uint32_t x) { return x == 150 ? 1 : 0; });
    EngineSines faint(s, dim.data(), 20000);
    double peak = 0.0;
    for (double v : faint.frames(0, 20000)) peak = std::max(peak, std::abs(v));
    EXPECT_GT(peak, 0.0);
  }
}

TEST(SineTones, AStepBetweenRowsIsARampAtLeastAHopLongWithTheToneRunningOn) {
  // Rows 0 ... 499 black, 500 ... 999 white, over 2 s: the rows are closer
  // than a hop, so the hops set the ramp.
  const RenderSettings s = sineSettings(FrequencyScale::Logarithmic, 55.0f, 7040.0f);
  test::TestPicture picture(85, 1000, [](std::uint32_t x, std::uint32_t y) { return x == 12 && y >= 500 ? 255 : 0; });
  const std::uint32_t count = 2 * 44100;
  EngineSines sines(s, picture.data(), count);
  ASSERT_TRUE(sines.ok());
  const std::vector<double> x = sines.frames(0, count);
  const SineTables& t = sines.tables();
  const double a = t.level;
  const double hop = t.hop;
  // The envelope, where the tone's own phase leaves it readable.
  std::int64_t rampStart = -1;
  std::int64_t rampEnd = -1;
  double previous = 0.0;
  std::size_t previousAt = 0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    const std::uint64_t phase = t.startPhase[12] + t.increment[12] * n;
    const double sine = std::sin(2.0 * kPi * static_cast<double>(phase) / 18446744073709551616.0);
    if (n + 1 < x.size()) {
      // No jump: a sample moves no further than a full tone at 110 Hz can.
      ASSERT_LE(std::abs(x[n + 1] - x[n]), a * 2.0 * kPi * 110.0 / kRate * 1.001) << n;
    }
    if (std::abs(sine) < 0.5) continue;
    const double envelope = x[n] / sine;
    ASSERT_GE(envelope, previous - 1e-9 * a) << n;
    // At most the slope of a one-hop ramp.
    ASSERT_LE(envelope - previous, a / hop * 1.001 * static_cast<double>(n - previousAt)) << n;
    previous = envelope;
    previousAt = n;
    if (rampStart < 0 && envelope > 1e-3 * a) rampStart = static_cast<std::int64_t>(n);
    if (rampEnd < 0 && envelope > 0.999 * a) rampEnd = static_cast<std::int64_t>(n);
  }
  ASSERT_GE(rampStart, 0);
  ASSERT_GE(rampEnd, 0);
  EXPECT_GE(static_cast<double>(rampEnd - rampStart), 0.9 * hop);
  EXPECT_NEAR(previous, a, 1e-6 * a);
  // The ramp sits where the picture steps: half-way.
  EXPECT_NEAR(0.5 * static_cast<double>(rampStart + rampEnd) / count, 0.5, 0.03);
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/design.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/design_internal.h"
#include "engine/scales.h"
#include "engine/settings.h"
#include "fft/fft.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// The interpolant through (i, v[i * stride]) at x.
double interpolant(const std::vector<float>& v, std::size_t stride, double x) {
  const auto i = static_cast<std::size_t>(std::floor(x));
  if (static_cast<double>(i) == x) return v[i * stride];
  const double frac = x - static_cast<double>(i);
  return v[i * stride] * (1.0 - frac) + v[(i + 1) * stride] * frac;
}

// Integral of the interpolant over [a, b] (a <= b), piece by piece between
// whole positions, each piece by the trapezoid rule (exact on a line).
double integral(const std::vector<float>& v, std::size_t stride, double a, double b) {
  double sum = 0.0;
  double x = a;
  while (x < b) {
    const double next = std::min(b, std::floor(x) + 1.0);
    sum += 0.5 * (interpolant(v, stride, x) + interpolant(v, stride, next)) * (next - x);
    x = next;
  }
  return sum;
}

TEST(IntervalMean, MatchesIntegrationOfTheInterpolant) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  for (std::size_t stride : {std::size_t{1}, std::size_t{3}}) {
    std::vector<float> v(40 * stride);
    for (float& x : v) x = value(rng);
    struct Span {
      float a, b;
    };
    const Span spans[] = {
        {2.25f, 2.75f},     // one cell
        {3.0f, 3.5f},       // one cell from a whole position
        {3.5f, 4.0f},       // one cell up to a whole position
        {4.2f, 5.9f},       // two cells
        {4.0f, 6.0f},       // two whole cells
        {0.001f, 1.999f},   // two cells from the first sample
        {5.3f, 8.6f},       // three cells
        {0.001f, 38.999f},  // nearly all
        {10.75f, 30.125f},  // many
    };
    for (const Span& s : spans) {
      const double want = integral(v, stride, s.a, s.b) / (static_cast<double>(s.b) - s.a);
      EXPECT_NEAR(intervalMean(s.a, s.b, v.data(), static_cast<std::int64_t>(stride)), want, 2e-6)
          << s.a << ".." << s.b << " stride " << stride;
    }
  }
}

TEST(IntervalMean, ReversedOrEmptySpansGiveTheMeanOfTheEnds) {
  const std::vector<float> v = {0.0f, 1.0f, 5.0f, 2.0f};
  // b slightly below a in one cell: (f(a) + f(b)) / 2.
  EXPECT_NEAR(intervalMean(1.6f, 1.4f, v.data(), 1), 0.5 * (interpolant(v, 1, 1.6) + interpolant(v, 1, 1.4)), 1e-5);
  EXPECT_NEAR(intervalMean(2.999f, 2.998f, v.data(), 1), interpolant(v, 1, 2.9985), 1e-4);
  // Reversed ends meeting at a whole position stay within that cell.
  EXPECT_NEAR(intervalMean(2.0f, 1.999f, v.data(), 1), 5.0, 1e-2);
  EXPECT_NEAR(intervalMean(2.001f, 2.0f, v.data(), 1), 5.0, 1e-2);
  // Zero width: the value at that point, not 0/0.
  EXPECT_NEAR(intervalMean(0.5f, 0.5f, v.data(), 1), 0.5, 1e-7);
  EXPECT_DOUBLE_EQ(intervalMean(2.0f, 2.0f, v.data(), 1), 5.0);
}

TEST(IntervalMean, ConstantStaysConstant) {
  const std::vector<float> v(100, 0.25f);
  for (float a : {0.001f, 0.3f, 17.5f}) {
    for (float w : {0.0005f, 0.6f, 1.7f, 60.0f}) {
      EXPECT_NEAR(intervalMean(a, a + w, v.data(), 1), 0.25, 1e-6) << a << " " << w;
    }
  }
}

class DesignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job.settings.inputSource = InputSource::WhiteNoise;
    job.sampleCount = 44100;
  }

  // A picture of W x H pixels, every byte `value`; stride padding holds a
  // different byte that must never be read.
  void setPicture(std::uint32_t w, std::uint32_t h, std::uint8_t value) {
    const std::uint32_t stride = (w + 3) & ~3u;
    bytes.assign(static_cast<std::size_t>(stride) * h, 0xEE);
    for (std::uint32_t r = 0; r < h; ++r)
      for (std::uint32_t x = 0; x < w; ++x) bytes[r * stride + x] = value;
    job.picture = PictureData{bytes.data(), w, stride, h};
  }
  // Gains from the picture, as the render makes them.
  std::vector<float> gainsFromPicture() {
    std::vector<float> g(static_cast<std::size_t>(job.picture.width) * job.picture.height, -1.0f);
    buildGainMatrix(job.picture, job.settings, g.data());
    return g;
  }
  // The responses of filter column u, designed in a context made for the
  // job as it stands.
  std::vector<double> bins(std::int32_t u, const std::vector<float>& gains, ResultCode want = kResultOk) {
    std::vector<double> s(static_cast<std::size_t>(job.settings.blockLength) * 2, -7.0);
    ResultCode result = configureRenderContext(context, job, gains.data());
    if (result == kResultOk) result = designBinResponses(context, s.data(), u);
    EXPECT_EQ(result, want);
    return s;
  }
  // The whole design of filter column u, likewise.
  ResultCode design(std::vector<double>& spectrum, std::int32_t u, const std::vector<float>& gains) {
    const ResultCode result = configureRenderContext(context, job, gains.data());
    return result == kResultOk ? designColumnFilter(context, spectrum.data(), u) : result;
  }
  std::int32_t k() const { return job.settings.blockLength / 2; }

  RenderJob job;
  RenderContext context;
  std::vector<std::uint8_t> bytes;
};

TEST_F(DesignTest, GainMappings) {
  // Two rows, the top row stored last: 255 0 128 on top, 1 2 3 below.
  bytes = {1, 2, 3, 0xEE, 255, 0, 128, 0xEE};
  job.picture = PictureData{bytes.data(), 3, 4, 2};
  std::vector<float> g = gainsFromPicture();
  EXPECT_EQ(g[0], 1.0f);
  EXPECT_EQ(g[1], 0.0f);
  EXPECT_FLOAT_EQ(g[2], 128.0f / 255.0f);
  EXPECT_FLOAT_EQ(g[3], 1.0f / 255.0f);
  EXPECT_FLOAT_EQ(g[5], 3.0f / 255.0f);

  job.settings.logBrightness = true;
  job.settings.logRangeDb = 60;
  g = gainsFromPicture();
  EXPECT_EQ(g[0], 0.99999988f);
  EXPECT_NEAR(g[1], 0.001f, 1e-8f);
  EXPECT_NEAR(g[2], 0.0321f, 5e-5f);
  job.settings.logRangeDb = 120;
  g = gainsFromPicture();
  EXPECT_NEAR(g[1], 1e-6f, 1e-11f);
  job.settings.logRangeDb = 0;
  g = gainsFromPicture();
  for (float x : g) EXPECT_EQ(x, 1.0f);
}

TEST_F(DesignTest, GainMatrixWithoutPictureIsLeftAlone) {
  std::vector<float> g(4, -1.0f);
  buildGainMatrix(job.picture, job.settings, g.data());
  for (float x : g) EXPECT_EQ(x, -1.0f);
}

TEST_F(DesignTest, WhitePictureOnLinearGivesOnes) {
  job.settings.frequencyScale = FrequencyScale::Linear;
  setPicture(7, 5, 255);
  const std::vector<float> g = gainsFromPicture();
  for (std::int32_t u : {0, 9, 40}) {
    const std::vector<double> s = bins(u, g);
    for (std::int32_t i = 0; i < k(); ++i) {
      ASSERT_NEAR(s[2 * i], 1.0, 1e-6) << i;
      ASSERT_EQ(s[2 * i + 1], 0.0) << i;
    }
  }
}

TEST_F(DesignTest, LowestLogBin) {
  const std::int32_t want[] = {1, 1, 2, 3, 6, 12, 24};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(lowestLogBin(1024 << i, 44100), want[i]) << (1024 << i);
  EXPECT_FLOAT_EQ(lowestLogPosition(8192, 44100), 2.9721541f);
}

TEST_F(DesignTest, WarpedScalesSilenceBinsBelowSixteenHertz) {
  setPicture(9, 4, 255);
  const std::vector<float> g = gainsFromPicture();
  for (FrequencyScale scale : {FrequencyScale::Logarithmic, FrequencyScale::Mel}) {
    job.settings.frequencyScale = scale;
    for (std::int32_t n : {8192, 65536}) {
      job.settings.blockLength = n;
      const std::int32_t low = lowestLogBin(n, 44100);
      const std::vector<double> s = bins(3, g);
      for (std::int32_t i = 0; i < low; ++i) {
        EXPECT_EQ(s[2 * i], 0.0);
        EXPECT_EQ(s[2 * i + 1], 0.0);
      }
      // Narrow spans near the top lose a few float digits of the position.
      for (std::int32_t i = low; i < k(); ++i) ASSERT_NEAR(s[2 * i], 1.0, 5e-5) << i;
    }
  }
  // On Linear, DC takes the leftmost column.
  job.settings.frequencyScale = FrequencyScale::Linear;
  std::vector<float> ramp(9 * 4);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = (i % 9 == 0) ? 0.5f : 1.0f;
  EXPECT_NEAR(bins(3, ramp)[0], 0.5, 1e-3);
}

TEST_F(DesignTest, PinkTilt) {
  setPicture(5, 3, 255);
  const std::vector<float> g = gainsFromPicture();
  for (FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Mel}) {
    job.settings.frequencyScale = scale;
    job.settings.inputSource = InputSource::WhiteNoise;
    const std::vector<double> white = bins(2, g);
    job.settings.inputSource = InputSource::PinkNoise;
    const std::vector<double> pink = bins(2, g);
    const double n = 3.0;  // lowest bin at N = 8192
    for (std::int32_t i = 0; i < k(); ++i) {
      const double w = i < 3 ? 4.0 : 4.0 * std::sqrt(n / i);
      ASSERT_NEAR(pink[2 * i], white[2 * i] * w, 1e-12) << i;
      ASSERT_EQ(pink[2 * i + 1], 0.0);
    }
    EXPECT_NEAR(context.design.pinkWeights[4095], 0.108, 5e-4);
  }
  job.settings.inputSource = InputSource::WaveFile;
  job.settings.frequencyScale = FrequencyScale::Linear;
  EXPECT_NEAR(bins(2, g)[2 * 100], 1.0, 1e-6);
}

TEST_F(DesignTest, WorkspaceTablesFollowTheBlockLengthAndSource) {
  setPicture(4, 4, 200);
  const std::vector<float> g = gainsFromPicture();
  job.settings.blockLength = 2048;
  bins(1, g);
  const FilterDesignWorkspace& ws = context.design;
  EXPECT_TRUE(ws.pinkWeights.empty());  // white noise needs no tilt
  EXPECT_EQ(ws.halfWindow.size(), 1024u);
  job.settings.inputSource = InputSource::PinkNoise;
  bins(1, g);
  ASSERT_EQ(ws.pinkWeights.size(), 1024u);
  EXPECT_EQ(ws.pinkWeights[0], 4.0);  // lowest bin is 1 at N = 2048
  // Designing does not touch the tables.
  const double* window = ws.halfWindow.data();
  const double* pink = ws.pinkWeights.data();
  std::vector<double> s(4096);
  ASSERT_EQ(designColumnFilter(context, s.data(), 5), kResultOk);
  EXPECT_EQ(ws.halfWindow.data(), window);
  EXPECT_EQ(ws.pinkWeights.data(), pink);

  job.settings.blockLength = 4096;
  bins(1, g);
  EXPECT_EQ(ws.halfWindow.size(), 2048u);
  EXPECT_EQ(ws.pinkWeights.size(), 2048u);
  EXPECT_EQ(ws.workBuffer.size(), 8192u);
  EXPECT_DOUBLE_EQ(ws.pinkWeights[2047], 4.0 * std::sqrt(2.0 / 2047.0));
  EXPECT_DOUBLE_EQ(ws.pinkWeights[1], 4.0);
  EXPECT_DOUBLE_EQ(ws.halfWindow[0], (1.0 - std::cos(0.5 * 6.283185307179586 / 4096.0)) / 2.0);
  EXPECT_DOUBLE_EQ(ws.halfWindow[2047], (1.0 - std::cos(2047.5 * 6.283185307179586 / 4096.0)) / 2.0);
}

// Gains equal to the row number: a bin's response is then the centre of
// the slot's row span, which shows which rows a filter reads.
TEST_F(DesignTest, FirstFiltersReadTheTopRowAndLastTheBottomRow) {
  job.settings.frequencyScale = FrequencyScale::Linear;
  setPicture(3, 11, 0);
  std::vector<float> g(3 * 11);
  for (std::size_t i = 0; i < g.size(); ++i) g[i] = static_cast<float>(i / 3);
  // 44100 samples, N = 8192, S = 4: the output lasts T = 21.53 hops.
  EXPECT_NEAR(bins(0, g)[0], 0.0015, 1e-6);   // slot wholly before the start
  EXPECT_NEAR(bins(1, g)[0], 0.0015, 1e-6);   // ends at time 0
  EXPECT_NEAR(bins(60, g)[0], 9.9985, 1e-4);  // wholly after the end
  const float t = 44100.0f / 8192.0f * 4.0f;
  const double middle = (static_cast<double>(13) - 2.0) / t * 10.0;
  EXPECT_NEAR(bins(13, g)[200], middle, 1e-4);
  // Rows rise over the output.
  double previous = -1.0;
  for (std::int32_t u = 0; u < 30; ++u) {
    const double v = bins(u, g)[100];
    EXPECT_GE(v, previous) << u;
    previous = v;
  }
}

// Past 2^24 hops a slot's two ends no longer differ in single precision
// (N 2048, S 16 from about 24000 s of sound on): they are formed anew so
// that the slot still reads its rows, instead of failing the render.
TEST_F(DesignTest, LongSoundsKeepTheirSlotsApart) {
  job.settings.frequencyScale = FrequencyScale::Linear;
  job.settings.blockLength = 2048;
  job.settings.subBlocksPerBlock = 16;
  job.sampleCount = 4294967295u;  // 33554432 hops
  setPicture(2, 512, 0);
  std::vector<float> g(2 * 512);
  for (std::size_t i = 0; i < g.size(); ++i) g[i] = static_cast<float>(i / 2);
  const double hops = 4294967295.0 / 2048.0 * 16.0;
  // Single-precision slot positions are a few hops off out there; where
  // they still differ they stay as they are.
  for (std::int32_t u : {3000000, 16777217, 16777218, 20000001, 33554431, 33554440}) {
    const double want = std::min(510.999, std::max(0.0, (u - 8.0) / hops * 511.0));
    EXPECT_NEAR(bins(u, g)[10], want, 0.01) << u;
  }
}

TEST_F(DesignTest, EmptyOutputReadsTheTopRow) {
  job.settings.frequencyScale = FrequencyScale::Linear;
  job.sampleCount = 0;
  setPicture(2, 5, 0);
  std::vector<float> g(10);
  for (std::size_t i = 0; i < g.size(); ++i) g[i] = static_cast<float>(i / 2);
  EXPECT_NEAR(bins(0, g)[10], 0.0015, 1e-6);
  EXPECT_NEAR(bins(7, g)[10], 3.9985, 1e-4);
}

// Gains equal to the column number: a bin's response is the centre of its
// column span, which shows where the scale puts the bin.
TEST_F(DesignTest, BinsFollowTheFrequencyScale) {
  const std::uint32_t w = 101;
  setPicture(w, 2, 0);
  std::vector<float> g(w * 2);
  for (std::size_t i = 0; i < g.size(); ++i) g[i] = static_cast<float>(i % w);
  const float binHz = 44100.0f / 8192.0f;
  for (FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Logarithmic, FrequencyScale::Mel}) {
    job.settings.frequencyScale = scale;
    const std::vector<double> s = bins(4, g);
    const ScaleMapping map = scaleMapping(scale, 44100, static_cast<float>(w - 1));
    for (std::int32_t i : {20, 93, 500, 1800, 4000}) {
      const double want = 0.5 * (map.position((i - 0.5f) * binHz) + map.position((i + 0.5f) * binHz));
      EXPECT_NEAR(s[2 * i], want, 2e-3) << static_cast<int>(scale) << " bin " << i;
    }
    // The top bin reads up to the last column.
    EXPECT_GT(s[2 * (k() - 1)], w - 1.1);
  }
}

TEST_F(DesignTest, UnknownScaleOrMissingPictureIs110) {
  setPicture(4, 4, 255);
  const std::vector<float> g = gainsFromPicture();
  job.settings.frequencyScale = static_cast<FrequencyScale>(3);
  bins(0, g, kResultInternal);
  std::vector<double> s(8192 * 2);
  EXPECT_EQ(design(s, 0, g), kResultInternal);
  // An unknown scale costs no table.
  EXPECT_TRUE(context.design.binEdges.empty());

  job.settings.frequencyScale = FrequencyScale::Mel;
  job.picture = PictureData{};
  EXPECT_EQ(design(s, 0, g), kResultInternal);
  job.picture = PictureData{bytes.data(), 4, 4, 0};
  EXPECT_EQ(design(s, 0, g), kResultInternal);
  setPicture(4, 4, 255);
  job.settings.sampleRate = 10;  // 16 Hz above the top bin
  EXPECT_EQ(design(s, 0, g), kResultInternal);
  job.settings.sampleRate = 0;
  EXPECT_EQ(design(s, 0, g), kResultInternal);
  job.settings.sampleRate = 44100;
  EXPECT_EQ(design(s, 0, g), kResultOk);
  // Wider than single-precision positions can address: refused before any
  // gain is read.
  job.picture.width = kMaxPictureSide + 8;
  EXPECT_EQ(design(s, 0, g), kResultInternal);
}

TEST_F(DesignTest, OneRowPictureIsOneSpectrumForTheWholeSound) {
  job.settings.frequencyScale = FrequencyScale::Linear;
  const std::uint32_t w = 6;
  setPicture(w, 1, 0);
  std::vector<float> g(w);
  for (std::uint32_t x = 0; x < w; ++x) g[x] = 0.1f * static_cast<float>(x + 1);
  const std::vector<double> first = bins(0, g);
  for (std::int32_t u : {2, 10, 21, 500}) {
    const std::vector<double> s = bins(u, g);
    for (std::int32_t i = 0; i < k(); ++i) ASSERT_EQ(s[2 * i], first[2 * i]) << u << " " << i;
  }
  // That spectrum is the row itself, spread over the scale.
  EXPECT_NEAR(first[0], 0.1, 1e-4);
  EXPECT_NEAR(first[2 * (k() - 1)], 0.6, 1e-3);
  EXPECT_NEAR(first[2 * (k() / 2)], 0.35, 1e-3);
  std::vector<double> filter(8192 * 2);
  EXPECT_EQ(design(filter, 3, g), kResultOk);
}

TEST_F(DesignTest, OneColumnPictureIsAVolumeOverTime) {
  const std::uint32_t h = 4;
  setPicture(1, h, 0);
  const std::vector<float> g = {0.2f, 0.4f, 0.6f, 0.8f};
  for (FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Logarithmic, FrequencyScale::Mel}) {
    job.settings.frequencyScale = scale;
    const std::int32_t low = scale == FrequencyScale::Linear ? 0 : 3;
    for (std::int32_t u : {0, 12, 40}) {
      const std::vector<double> s = bins(u, g);
      const double level = s[2 * low];
      for (std::int32_t i = 0; i < low; ++i) ASSERT_EQ(s[2 * i], 0.0);
      for (std::int32_t i = low; i < k(); ++i) ASSERT_EQ(s[2 * i], level) << i;
    }
    EXPECT_NEAR(bins(0, g)[2 * low], 0.2003, 1e-4);
    EXPECT_NEAR(bins(40, g)[2 * low], 0.7997, 1e-4);
  }
  // One pixel: one constant gain.
  setPicture(1, 1, 0);
  const std::vector<float> one = {0.7f};
  job.settings.frequencyScale = FrequencyScale::Mel;
  EXPECT_NEAR(bins(9, one)[2 * 100], 0.7, 1e-7);
  std::vector<double> filter(8192 * 2);
  EXPECT_EQ(design(filter, 3, one), kResultOk);
}

// The filter is the bins' zero-phase response, rotated by N/2, Hann
// windowed and transformed at 2N.
TEST_F(DesignTest, FilterIsTheWindowedCentredResponse) {
  job.settings.blockLength = 2048;
  job.settings.inputSource = InputSource::PinkNoise;
  job.settings.frequencyScale = FrequencyScale::Mel;
  const std::uint32_t w = 16, h = 8;
  setPicture(w, h, 0);
  std::vector<float> g(w * h);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  for (float& x : g) x = value(rng);
  const std::int32_t n = 2048;

  for (std::int32_t u : {0, 7}) {
    const std::vector<double> responses = bins(u, g);
    std::vector<double> h0(n);
    ifftReal(responses.data(), h0.data(), 0.0, n);
    std::vector<double> taps(2 * n, 0.0);
    for (std::int32_t m = 0; m < n; ++m) {
      const double wn = (1.0 - std::cos(6.283185307179586 * (m + 0.5) / n)) / 2.0;
      taps[m] = wn * h0[(m + n / 2) % n];
    }
    std::vector<double> want(2 * n);
    fftReal(taps.data(), want.data(), 2 * n, 0);

    std::vector<double> filter(2 * n, -3.0);
    ASSERT_EQ(design(filter, u, g), kResultOk);
    for (std::int32_t i = 0; i < 2 * n; ++i) ASSERT_NEAR(filter[i], want[i], 1e-12) << i;
    const auto& work = context.design.workBuffer;
    for (std::int32_t i = n; i < 2 * n; ++i) ASSERT_EQ(work[i], 0.0) << i;
  }
}

// A band named equal to the scale's own designs the very filters of the
// unnamed one: the scale's own arithmetic is kept for it.
TEST_F(DesignTest, TheScalesOwnBandNamedOrNotDesignsTheSameFilters) {
  const std::uint32_t w = 37, h = 5;
  setPicture(w, h, 0);
  for (std::uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 29 % 256);
  const std::vector<float> g = gainsFromPicture();
  for (FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Logarithmic, FrequencyScale::Mel}) {
    SCOPED_TRACE(static_cast<int>(scale));
    job.settings.frequencyScale = scale;
    job.settings.bandLowHz = job.settings.bandHighHz = 0.0f;
    std::vector<double> unnamed(8192 * 2), named(8192 * 2);
    ASSERT_EQ(design(unnamed, 6, g), kResultOk);
    job.settings.bandLowHz = scaleMapping(scale, 44100, 1.0f).fLow;
    job.settings.bandHighHz = 22050.0f;
    ASSERT_EQ(design(named, 6, g), kResultOk);
    EXPECT_EQ(named, unnamed);
    // A hertz less is a band of its own.
    job.settings.bandHighHz = 22049.0f;
    ASSERT_EQ(design(named, 6, g), kResultOk);
    EXPECT_NE(named, unnamed);
  }
}

// Between a band's ends the columns follow the scale's own warp: with
// gains equal to the column numbers, every bin reads the mean position of
// its edges on the band.
TEST_F(DesignTest, ABandSpreadsTheColumnsByItsScalesWarp) {
  const std::uint32_t w = 200;
  setPicture(w, 4, 0);
  std::vector<float> g(w * 4);
  for (std::size_t i = 0; i < g.size(); ++i) g[i] = static_cast<float>(i % w);
  const double binHz = 44100.0 / 8192.0;
  struct Case {
    FrequencyScale scale;
    double low, high;
    double (*warp)(double);
  };
  const Case cases[] = {
      {FrequencyScale::Linear, 2000.0, 4000.0, [](double f) { return f; }},
      {FrequencyScale::Linear, 0.0, 9000.0, [](double f) { return f; }},
      {FrequencyScale::Logarithmic, 100.0, 10000.0, [](double f) { return std::log(f); }},
      {FrequencyScale::Mel, 5000.0, 15000.0, [](double f) { return std::log(f + 700.0); }},
      {FrequencyScale::Mel, 16.0, 3000.0, [](double f) { return std::log(f + 700.0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.low) + " ... " + std::to_string(c.high));
    job.settings.frequencyScale = c.scale;
    job.settings.bandLowHz = static_cast<float>(c.low);
    job.settings.bandHighHz = static_cast<float>(c.high);
    const std::vector<double> s = bins(3, g);
    const auto position = [&](double f) {
      return (c.warp(f) - c.warp(c.low)) / (c.warp(c.high) - c.warp(c.low)) * (w - 1);
    };
    int checked = 0;
    for (std::int32_t i = 0; i < k(); ++i) {
      const double centre = i * binHz;
      // Three bins from an edge with sound beyond it, the response is the
      // picture's alone.
      const bool lowRamp = c.low > 0.0 && centre < c.low + 3.0 * binHz;
      const bool highRamp = centre > c.high - 3.0 * binHz;
      // Bins that reach past an end read the end column.
      const bool partial = centre - 0.5 * binHz < c.low || centre + 0.5 * binHz > c.high;
      if (partial || lowRamp || highRamp) continue;
      const double want = 0.5 * (position(centre - 0.5 * binHz) + position(centre + 0.5 * binHz));
      ASSERT_NEAR(s[2 * i], want, 2e-3 * std::max(1.0, want)) << "bin " << i;
      ++checked;
    }
    EXPECT_GT(checked, 300);
  }
}

// Bins whose centre lies outside the band are silent. Within three bins of
// an edge that has sound beyond it the response rises from 0, so that the
// filter's roll-off stays in the band; at 0 Hz and at half the rate it
// does not.
TEST_F(DesignTest, BinsOutsideTheBandAreSilentAndEdgesRiseWithinIt) {
  setPicture(64, 4, 255);
  const std::vector<float> g = gainsFromPicture();
  const double binHz = 44100.0 / 8192.0;
  struct Case {
    FrequencyScale scale;
    float low, high;
  };
  const Case cases[] = {{FrequencyScale::Linear, 2000.0f, 4000.0f},
                        {FrequencyScale::Linear, 0.0f, 300.0f},
                        {FrequencyScale::Logarithmic, 100.0f, 1000.0f},
                        {FrequencyScale::Mel, 5000.0f, 22050.0f},
                        {FrequencyScale::Mel, 16.0f, 21000.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.low) + " ... " + std::to_string(c.high));
    job.settings.frequencyScale = c.scale;
    job.settings.bandLowHz = c.low;
    job.settings.bandHighHz = c.high;
    const std::vector<double> s = bins(7, g);
    for (std::int32_t i = 0; i < k(); ++i) {
      const double centre = i * binHz;
      ASSERT_EQ(s[2 * i + 1], 0.0) << i;
      if (centre < c.low || centre > c.high) {
        ASSERT_EQ(s[2 * i], 0.0) << i;
        continue;
      }
      double want = 1.0;
      if (c.low > 0.0f) want *= std::min(1.0, (centre - c.low) / binHz / 3.0);
      if (c.high < 22050.0f) want *= std::min(1.0, (c.high - centre) / binHz / 3.0);
      ASSERT_NEAR(s[2 * i], want, 1e-5) << i;
    }
    // The first bin of a band from 0 Hz is DC itself, at full gain.
    if (c.low == 0.0f) {
      EXPECT_NEAR(s[0], 1.0, 1e-6);
    }
    if (c.high == 22050.0f) {
      EXPECT_NEAR(s[2 * (k() - 1)], 1.0, 1e-6);
    }
  }
}

// Bands that no front-end lets through design silence, or a valid filter,
// without reading outside the picture.
TEST_F(DesignTest, BandsBeyondTheLimitsDesignSafely) {
  setPicture(16, 4, 255);
  const std::vector<float> g = gainsFromPicture();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    FrequencyScale scale;
    float low, high;
    bool silent;
  };
  const Case cases[] = {
      {FrequencyScale::Linear, 3000.0f, 3000.0f, true},         // empty
      {FrequencyScale::Linear, 4000.0f, 2000.0f, true},         // reversed
      {FrequencyScale::Mel, 1000.5f, 1001.0f, true},            // between two bins
      {FrequencyScale::Logarithmic, 30000.0f, 40000.0f, true},  // above half the rate
      {FrequencyScale::Mel, 5000.0f, inf, true},
      {FrequencyScale::Logarithmic, 0.001f, 1e30f, false},
      {FrequencyScale::Linear, 1e-30f, 22050.0f, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.low) + " ... " + std::to_string(c.high));
    job.settings.frequencyScale = c.scale;
    job.settings.bandLowHz = c.low;
    job.settings.bandHighHz = c.high;
    const std::vector<double> s = bins(2, g);
    double sum = 0.0;
    for (std::int32_t i = 0; i < k(); ++i) {
      ASSERT_TRUE(std::isfinite(s[2 * i])) << i;
      sum += s[2 * i];
    }
    if (c.silent) {
      EXPECT_EQ(sum, 0.0);
    } else {
      EXPECT_GT(sum, 0.0);
    }
    std::vector<double> filter(8192 * 2);
    EXPECT_EQ(design(filter, 2, g), kResultOk);
  }
}

}  // namespace
}  // namespace vellomar

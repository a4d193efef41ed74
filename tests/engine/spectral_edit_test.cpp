// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/spectral_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/scales.h"
#include "spectral_edit_fixture.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::EditCase;

RenderSettings grid(std::int32_t n, FrequencyScale scale = FrequencyScale::Mel) {
  RenderSettings s;
  s.blockLength = n;
  s.frequencyScale = scale;
  return s;
}

double db(double ratio) { return 10.0 * std::log10(ratio); }

// Where a picture rectangle lies on the edit's frames and bins: its core,
// the cells whose whole frame lies inside it and whose bins are four
// columns inside its edges, and the cells outside, beyond N/2 samples or
// two columns from its edges. Far outside are the cells whose own frame
// cannot overlap what the edit changes: a frame that takes part of an edge
// row may lie half a hop outside the edge and changes N/2 samples beyond
// its centre, and a cell's frame spans N/2 samples either side of its own.
struct RectangleCells {
  std::vector<char> core;     // frames x K
  std::vector<char> outside;
  std::vector<char> far;
  std::int32_t bins = 0;
  bool inCore(std::int64_t j, std::int32_t k) const { return core[static_cast<std::size_t>(j) * bins + k] != 0; }
  bool isOutside(std::int64_t j, std::int32_t k) const { return outside[static_cast<std::size_t>(j) * bins + k] != 0; }
  bool isFar(std::int64_t j, std::int32_t k) const { return far[static_cast<std::size_t>(j) * bins + k] != 0; }
};

RectangleCells rectangleCells(const EditCase& e, std::int64_t frames, std::uint32_t x0, std::uint32_t y0,
                              std::uint32_t x1, std::uint32_t y1) {
  const std::int32_t n = e.settings.blockLength;
  const std::int32_t hop = n / 4;
  RectangleCells out;
  out.bins = n / 2;
  out.core.assign(static_cast<std::size_t>(frames) * out.bins, 0);
  out.outside.assign(out.core.size(), 0);
  out.far.assign(out.core.size(), 0);
  const double spacing = static_cast<double>(e.count) / (e.height - 1);
  const double t0 = (y0 - 0.5) * spacing, t1 = (y1 - 0.5) * spacing;
  const ScaleMapping mapping = pictureMapping(e.settings, static_cast<float>(e.width - 1));
  const double p0 = x0 - 0.5, p1 = x1 - 0.5;
  for (std::int64_t j = 0; j < frames; ++j) {
    const double centre = static_cast<double>(j * hop - n / 2 + hop);
    const bool timeIn = centre >= t0 + n && centre <= t1 - n;
    const bool timeOut = centre < t0 - n / 2 || centre > t1 + n / 2;
    const bool timeFar = centre < t0 - n - hop / 2 || centre > t1 + n + hop / 2;
    for (std::int32_t k = 1; k < n / 2; ++k) {
      const double p = mapping.position(static_cast<float>(k * static_cast<double>(e.settings.sampleRate) / n));
      const bool freqIn = p >= p0 + 4 && p <= p1 - 4;
      const bool freqOut = p < p0 - 2 || p > p1 + 2;
      const std::size_t i = static_cast<std::size_t>(j) * out.bins + k;
      out.core[i] = timeIn && freqIn;
      out.outside[i] = timeOut || freqOut;
      out.far[i] = timeFar || freqOut;
    }
  }
  return out;
}

struct RectangleFigures {
  double coreDb = 0.0;        // energy left in the core
  double outsideDb = 0.0;     // change of the energy outside
  double worstCellDb = 0.0;   // largest change of a cell outside
  double worstFarCellDb = 0.0;  // and of a cell far outside
};

RectangleFigures blackRectangle(const std::vector<std::int16_t>& sound, std::int32_t n, bool sixteenBit,
                                std::uint32_t rate = 44100, std::uint32_t rowShift = 0) {
  const std::uint32_t width = 256;
  const std::uint32_t height = static_cast<std::uint32_t>(sound.size() / (n / 4));
  RenderSettings g = grid(n);
  g.sampleRate = rate;
  EditCase e(g, sound, 1, width, height);
  EXPECT_EQ(e.analysisResult, kResultOk);
  const std::uint32_t x0 = 60, x1 = 140, y0 = height / 3 + rowShift, y1 = 2 * height / 3;
  e.paint(x0, y0, x1, y1, [](int) { return 0; });
  ResultCode result = -1;
  std::vector<double> out = e.render(2, &result);
  EXPECT_EQ(result, kResultOk);
  if (sixteenBit) out = test::rounded(out);
  const test::Spectrogram before = test::spectrogram(e.samples[0], n);
  const test::Spectrogram after = test::spectrogram(out, n);
  const RectangleCells cells = rectangleCells(e, before.frames, x0, y0, x1, y1);
  double coreBefore = 0, coreAfter = 0, outBefore = 0, outAfter = 0, worst = 0, worstFar = 0;
  double loudest = 0;
  for (const double p : before.power) loudest = std::max(loudest, p);
  for (std::int64_t j = 0; j < before.frames; ++j) {
    for (std::int32_t k = 1; k < n / 2; ++k) {
      const double a = before.at(j, k), b = after.at(j, k);
      if (cells.inCore(j, k)) {
        coreBefore += a;
        coreAfter += b;
      }
      if (cells.isOutside(j, k)) {
        outBefore += a;
        outAfter += b;
        // Cells far below the loudest are at the 16-bit floor.
        // Cells 60 dB below the loudest are near the 16-bit floor.
        if (a > loudest * 1e-6) worst = std::max(worst, std::fabs(db(b / a)));
        if (a > loudest * 1e-6 && cells.isFar(j, k)) worstFar = std::max(worstFar, std::fabs(db(b / a)));
      }
    }
  }
  return {db(coreAfter / coreBefore), db(outAfter / outBefore), worst, worstFar};
}

TEST(SpectralEditTest, UnchangedPictureGivesTheRecordingBackBitForBit) {
  // Odd values and full scale, so that any rounding or scaling shows.
  std::vector<std::int16_t> sound = test::speechLike(30000, 20000);
  sound[100] = 32767;
  sound[101] = -32768;
  EditCase e(grid(2048), sound, 1, 200, 90);
  ASSERT_EQ(e.analysisResult, kResultOk);
  ResultCode result = -1;
  const std::vector<double> out = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  ASSERT_EQ(out.size(), sound.size());
  for (std::size_t i = 0; i < sound.size(); ++i) ASSERT_EQ(out[i], sound[i]) << "sample " << i;
  std::vector<SampleRange> ranges;
  ASSERT_EQ(editedSampleRanges(e.job(const_cast<std::vector<double>&>(out)), ranges), kResultOk);
  EXPECT_TRUE(ranges.empty());
}

TEST(SpectralEditTest, SamplesBeyondTheEditedFramesAreUntouched) {
  const std::vector<std::int16_t> sound = test::speechLike(60000, 12000);
  EditCase e(grid(2048), sound, 1, 128, 100);
  ASSERT_EQ(e.analysisResult, kResultOk);
  e.paint(30, 40, 60, 43, [](int b) { return b / 2; });
  ResultCode result = -1;
  const std::vector<double> out = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  std::vector<double> scratch;
  std::vector<SampleRange> ranges;
  ASSERT_EQ(editedSampleRanges(e.job(scratch), ranges), kResultOk);
  ASSERT_EQ(ranges.size(), 1u);
  // Rows 40 ... 42 span samples 39.5 * 606 ... 42.5 * 606; a frame that
  // takes them has its centre at most half a hop outside, and reaches half
  // a frame beyond its centre.
  const double spacing = 60000.0 / 99.0;
  EXPECT_GE(static_cast<double>(ranges[0].first), 39.5 * spacing - 256 - 1024 - 1);
  EXPECT_LE(static_cast<double>(ranges[0].end), 42.5 * spacing + 256 + 1024 + 1);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < sound.size(); ++i) {
    const bool inside = i >= ranges[0].first && i < ranges[0].end;
    if (!inside) {
      ASSERT_EQ(out[i], sound[i]) << "sample " << i;
    }
    if (out[i] != sound[i]) ++changed;
  }
  EXPECT_GT(changed, 1000u);
}

// The power of `x` at `hz` (a Goertzel sum over all of it) at `rate`.
double powerAt(const std::vector<double>& x, double hz, double rate) {
  const double w = 2.0 * M_PI * hz / rate;
  double re = 0.0, im = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    re += x[i] * std::cos(w * static_cast<double>(i));
    im -= x[i] * std::sin(w * static_cast<double>(i));
  }
  return re * re + im * im;
}

TEST(SpectralEditTest, TheDefaultFrameLastsAboutAsLongAtEveryRate) {
  const std::pair<std::uint32_t, std::int32_t> cases[] = {
      {8000, 1024}, {16000, 2048}, {22050, 2048}, {44100, 4096}, {48000, 4096}, {96000, 8192}, {192000, 16384},
      {384000, 16384}};
  for (const auto& [rate, n] : cases) EXPECT_EQ(editBlockLength(rate), n) << rate;
  RenderSettings unset;
  unset.blockLength = 0;
  unset.sampleRate = 88200;
  EXPECT_EQ(editingSettings(unset).blockLength, 8192);
}

TEST(SpectralEditTest, ARecordingAt96kHzIsEditedOnItsOwnFrequencies) {
  // Tones at 5 kHz and at 30 kHz, above what 44.1 kHz holds; a linear
  // picture spans 0 ... 48 kHz.
  const double rate = 96000.0;
  std::vector<std::int16_t> sound(96000);
  for (std::size_t i = 0; i < sound.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    sound[i] = static_cast<std::int16_t>(std::lround(6000.0 * std::sin(2 * M_PI * 5000.0 * t) +
                                                     6000.0 * std::sin(2 * M_PI * 30000.0 * t)));
  }
  RenderSettings g = grid(editBlockLength(96000));
  g.sampleRate = 96000;
  g.frequencyScale = FrequencyScale::Linear;
  const std::uint32_t width = 241;  // 200 Hz a column
  EditCase e(g, sound, 1, width, 40);
  ASSERT_EQ(e.analysisResult, kResultOk);
  ASSERT_EQ(e.settings.blockLength, 8192);
  // The 30 kHz tone is brightest in its own column.
  std::uint32_t loudest = 0;
  for (std::uint32_t x = width / 2; x < width; ++x) {
    if (e.originalPixel(0, x, 20) > e.originalPixel(0, loudest, 20) || loudest < width / 2) loudest = x;
  }
  EXPECT_EQ(loudest, 150u);
  e.paint(145, 0, 156, 40, [](int) { return 0; });
  ResultCode result = -1;
  const std::vector<double> out = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  std::vector<double> in(sound.begin(), sound.end());
  EXPECT_LT(10 * std::log10(powerAt(out, 30000.0, rate) / powerAt(in, 30000.0, rate)), -60.0);
  EXPECT_NEAR(10 * std::log10(powerAt(out, 5000.0, rate) / powerAt(in, 5000.0, rate)), 0.0, 0.01);
}

TEST(SpectralEditTest, BlackRectangleOnSpeechAndNoise) {
  const std::vector<std::int16_t> speech = test::speechLike(44100 * 2, 16000);
  const std::vector<std::int16_t> noise = test::noise(44100 * 2, 3277);
  for (const auto* sound : {&speech, &noise}) {
    {
      const std::int32_t n = 4096;
      const RectangleFigures f = blackRectangle(*sound, n, true);
      SCOPED_TRACE(testing::Message() << (sound == &speech ? "speech" : "noise") << " N " << n);
      std::printf("%s N=%d core %.2f dB outside %.4f dB worst cell %.3f dB\n", sound == &speech ? "speech" : "noise", n,
                  f.coreDb, f.outsideDb, f.worstCellDb);
      EXPECT_LE(f.coreDb, -75.0);
      EXPECT_LE(std::fabs(f.outsideDb), 0.01);
      EXPECT_LE(f.worstCellDb, 0.5);
    }
  }
}

TEST(SpectralEditTest, BlackRectangleAt96kHzWhereverItsEdgeFallsAgainstTheHops) {
  // The frame length of 96 kHz; the rectangle's first row moved by rows
  // that lie 1.02 hops apart, so that its edge falls at other places
  // against the hops. Cells just beyond N/2 of the edge change by up to
  // 5 dB where a frame takes part of the edge row (at 44.1 kHz as well);
  // cells whose frames the edit cannot reach do not.
  const std::uint32_t rate = 96000;
  const std::int32_t n = editBlockLength(rate);
  const std::vector<std::int16_t> speech = test::speechLike(rate * 2, 16000);
  const std::vector<std::int16_t> noise = test::noise(rate * 2, 3277);
  for (const auto* sound : {&speech, &noise}) {
    for (const std::uint32_t shift : {0u, 6u, 12u, 18u}) {
      const RectangleFigures f = blackRectangle(*sound, n, true, rate, shift);
      SCOPED_TRACE(testing::Message() << (sound == &speech ? "speech" : "noise") << ", first row moved " << shift);
      std::printf("%s at 96 kHz N=%d, first row +%u: core %.2f dB outside %.4f dB worst cell %.3f dB, far %.3f dB\n",
                  sound == &speech ? "speech" : "noise", n, shift, f.coreDb, f.outsideDb, f.worstCellDb,
                  f.worstFarCellDb);
      EXPECT_LE(f.coreDb, -75.0);
      EXPECT_LE(std::fabs(f.outsideDb), 0.01);
      EXPECT_LE(f.worstFarCellDb, 0.5);
    }
  }
}

}  // namespace
}  // namespace vellomar

namespace vellomar {
namespace {

using test::EditCase;

std::vector<std::int16_t> tones(std::size_t count, const std::vector<double>& hz, double amplitude) {
  std::vector<std::int16_t> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    double v = 0;
    for (std::size_t h = 0; h < hz.size(); ++h) v += std::sin(2 * M_PI * hz[h] * static_cast<double>(i) / 44100.0 + h);
    out[i] = static_cast<std::int16_t>(std::lround(amplitude * v));
  }
  return out;
}

// Brightness steps of a level change in dB under the editing mapping.
int stepsOf(double dbChange) { return static_cast<int>(std::lround(dbChange * 255.0 / kEditRangeDb)); }

TEST(SpectralEditQualityTest, OneRowDeliversItsLevelWhereverItFallsAgainstTheHops) {
  // Rows 0.7 hops apart, so that successive rows fall at every phase of the
  // hop; each is asked for -12 dB in turn.
  const std::vector<std::int16_t> sound = tones(44100 * 3, {1000.0}, 8000);
  const std::uint32_t height = static_cast<std::uint32_t>(sound.size() / 717) + 1;
  for (std::uint32_t row = 80; row < 86; ++row) {
    EditCase e(grid(4096, FrequencyScale::Linear), sound, 1, 128, height);
    ASSERT_EQ(e.analysisResult, kResultOk);
    const int steps = stepsOf(12.0);
    e.paint(0, row, 128, row + 1, [steps](int b) { return std::max(1, b - steps); });
    const std::vector<double> out = e.render();
    // The change carried by the output, against the row's own share of the
    // tone: 1 + sum((y - x) x) / sum over the row's span of x^2.
    const double spacing = static_cast<double>(e.count) / (height - 1);
    double carried = 0, own = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      const double x = e.samples[0][i];
      carried += (out[i] - x) * x;
      const double t = static_cast<double>(i);
      if (t >= (row - 0.5) * spacing && t < (row + 0.5) * spacing) own += x * x;
    }
    const double level = 20 * std::log10(1 + carried / own);
    const double asked = 20 * std::log10(std::exp(steps * -std::log(10.0) / 20 * kEditRangeDb / 255.0));
    EXPECT_NEAR(level, asked, 2.0) << "row " << row;
  }
}

TEST(SpectralEditQualityTest, FadeOfOneHarmonicTracksWhileItsNeighboursStay) {
  // Harmonics 400 Hz apart on a linear picture of 43 Hz columns; the one at
  // 800 Hz fades from 0 to -40 dB over rows 40 ... 160.
  const std::vector<std::int16_t> sound = tones(44100 * 5, {400.0, 800.0, 1200.0}, 6000);
  const std::uint32_t width = 512, height = 216;
  EditCase e(grid(4096, FrequencyScale::Linear), sound, 1, width, height);
  ASSERT_EQ(e.analysisResult, kResultOk);
  const auto column = [&](double hz) { return static_cast<std::uint32_t>(std::lround(hz / 22050.0 * (width - 1))); };
  const std::uint32_t c = column(800.0), r0 = 40, r1 = 160;
  const auto fadeDb = [&](double row) { return -40.0 * std::clamp((row - r0) / (r1 - r0), 0.0, 1.0); };
  for (std::uint32_t y = r0; y < height; ++y) {
    const int steps = stepsOf(-fadeDb(y));
    for (std::uint32_t x = c - 3; x <= c + 3; ++x) e.pixel(0, x, y) = static_cast<std::uint8_t>(std::max(1, e.pixel(0, x, y) - steps));
  }
  const std::vector<double> out = test::rounded(e.render(2));
  const test::Spectrogram before = test::spectrogram(e.samples[0], 4096);
  const test::Spectrogram after = test::spectrogram(out, 4096);
  const auto bin = [](double hz) { return static_cast<std::int32_t>(std::lround(hz * 4096 / 44100.0)); };
  const double spacing = static_cast<double>(e.count) / (height - 1);
  double squaredError = 0;
  int frames = 0;
  double neighbourBefore = 0, neighbourAfter = 0;
  for (std::int64_t j = 8; j + 8 < before.frames; ++j) {
    const double row = static_cast<double>(j * 1024 - 1024) / spacing;
    double b = 0, a = 0;
    for (std::int32_t k = bin(800) - 2; k <= bin(800) + 2; ++k) {
      b += before.at(j, k);
      a += after.at(j, k);
    }
    if (row > r0 + 4 && row < r1 - 4) {
      const double error = 10 * std::log10(a / b) - fadeDb(row);
      squaredError += error * error;
      ++frames;
    }
    for (const double hz : {400.0, 1200.0}) {
      for (std::int32_t k = bin(hz) - 2; k <= bin(hz) + 2; ++k) {
        neighbourBefore += before.at(j, k);
        neighbourAfter += after.at(j, k);
      }
    }
  }
  ASSERT_GT(frames, 50);
  EXPECT_LE(std::sqrt(squaredError / frames), 0.5);
  EXPECT_LE(std::fabs(db(neighbourAfter / neighbourBefore)), 0.01);
}

// Spectral convergence of a region of the output's picture against the
// painted one: || g_out - g_painted || / || g_painted ||, gains from bytes.
double convergenceDb(const EditCase& painted, const std::vector<double>& out, std::uint32_t x0, std::uint32_t y0,
                     std::uint32_t x1, std::uint32_t y1) {
  std::vector<std::int16_t> pcm(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) pcm[i] = static_cast<std::int16_t>(out[i]);
  RenderSettings g = painted.settings;
  EditCase again(g, pcm, 1, painted.width, painted.height);
  const double slope = std::log(10.0) / 20 * kEditRangeDb / 255.0;
  double error = 0, energy = 0;
  for (std::uint32_t y = y0; y < y1; ++y) {
    for (std::uint32_t x = x0; x < x1; ++x) {
      const double want = std::exp(slope * (const_cast<EditCase&>(painted).pixel(0, x, y) - 255));
      const double got = std::exp(slope * (again.originalPixel(0, x, y) - 255));
      error += (got - want) * (got - want);
      energy += want * want;
    }
  }
  return db(error / energy);
}

TEST(SpectralEditQualityTest, RegionCopiedOntoRoomToneSilenceOrSpeech) {
  // Speech, then room tone at -60 dBFS, then digital silence, then speech
  // again: the first second's picture is copied onto each of the others.
  const std::size_t second = 44100;
  std::vector<std::int16_t> sound = test::speechLike(4 * second, 12000);
  const std::vector<std::int16_t> room = test::noise(second, 33);
  for (std::size_t i = 0; i < second; ++i) {
    sound[second + i] = room[i];
    sound[2 * second + i] = 0;
  }
  const std::uint32_t width = 256, height = 4 * second / 1024;
  EditCase e(grid(4096), sound, 1, width, height);
  ASSERT_EQ(e.analysisResult, kResultOk);
  const std::uint32_t rows = height / 4;
  // Rows 8 ... rows - 8 of each second, away from the joins.
  for (std::uint32_t to : {1u, 2u, 3u}) {
    for (std::uint32_t y = 8; y < rows - 8; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) e.pixel(0, x, to * rows + y) = e.originalPixel(0, x, y);
    }
  }
  ResultCode result = -1;
  const std::vector<double> out = test::rounded(e.render(2, &result));
  ASSERT_EQ(result, kResultOk);
  for (std::uint32_t to : {1u, 2u, 3u}) {
    const double sc = convergenceDb(e, out, 0, to * rows + 12, width, to * rows + rows - 12);
    std::printf("copy onto %s: spectral convergence %.1f dB\n", to == 1 ? "room tone" : to == 2 ? "silence" : "speech", sc);
    EXPECT_LE(sc, -12.0) << "second " << to;
  }
}

TEST(SpectralEditQualityTest, AnyThreadCountGivesTheSameSamples) {
  std::vector<std::int16_t> sound = test::speechLike(44100 * 4, 12000);
  for (std::size_t i = 44100; i < 2 * 44100; ++i) sound[i] = 0;
  EditCase e(grid(2048), sound, 1, 200, 300);
  ASSERT_EQ(e.analysisResult, kResultOk);
  e.paint(20, 10, 90, 60, [](int b) { return b / 3; });
  e.paint(30, 80, 60, 120, [](int) { return 180; });  // over silence: synthesised
  e.moves.push_back(SpectralMove{-1, 300, 340, 40, 120, -120, 30});
  ResultCode result = -1;
  const std::vector<double> one = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  for (const std::int32_t threads : {2, 3, 8}) {
    const std::vector<double> many = e.render(threads, &result);
    ASSERT_EQ(result, kResultOk);
    ASSERT_EQ(many, one) << threads << " threads";
  }
}

TEST(SpectralEditQualityTest, TheLastFramesOfAnyLengthAreTheSameWithAnyThreadCount) {
  // Lengths that end part-way through a hop, every row painted, so that the
  // last frames of the last chunk are transformed too.
  for (const std::int32_t n : {4096, 8192}) {
    for (const std::size_t length : {std::size_t{44100} * 3 + 777, std::size_t{44100} * 3 + n / 4 - 1}) {
      const std::vector<std::int16_t> sound = test::speechLike(length, 12000);
      EditCase e(grid(n), sound, 1, 120, 80);
      ASSERT_EQ(e.analysisResult, kResultOk);
      e.paint(0, 0, 120, 80, [](int b) { return b / 2; });
      ResultCode result = -1;
      const std::vector<double> one = e.render(1, &result);
      ASSERT_EQ(result, kResultOk);
      for (const std::int32_t threads : {2, 3}) {
        ASSERT_EQ(e.render(threads, &result), one) << "N " << n << ", " << length << " samples, " << threads << " threads";
      }
    }
  }
}

TEST(SpectralEditQualityTest, MoveCarriesTheComplexSpectrum) {
  // A 1 kHz tone in the first second, silence after: the tone's cells move
  // one second later and 20 bins up, and sound there as a tone again.
  std::vector<std::int16_t> sound = tones(44100 * 3, {1000.0}, 8000);
  for (std::size_t i = 44100; i < sound.size(); ++i) sound[i] = 0;
  EditCase e(grid(4096, FrequencyScale::Linear), sound, 1, 256, 100);
  ASSERT_EQ(e.analysisResult, kResultOk);
  const std::int32_t k = static_cast<std::int32_t>(std::lround(1000.0 * 4096 / 44100));
  const std::int64_t shift = 44100 / 1024;
  e.moves.push_back(SpectralMove{0, 10 + shift, 30 + shift, k - 10 + 20, k + 10 + 20, shift, 20});
  const std::vector<double> out = e.render();
  const test::Spectrogram before = test::spectrogram(e.samples[0], 4096);
  const test::Spectrogram after = test::spectrogram(out, 4096);
  // Well inside the destination, the moved tone's bin holds the source's
  // magnitude: its frames add up coherently again.
  for (std::int64_t j = 16 + shift; j < 24 + shift; ++j) {
    EXPECT_NEAR(db(after.at(j, k + 20) / before.at(j - shift, k)), 0.0, 0.5) << "frame " << j;
  }
  // The first second is untouched.
  for (std::size_t i = 0; i < 44100 - 4096; ++i) ASSERT_EQ(out[i], sound[i]);
}

}  // namespace
}  // namespace vellomar

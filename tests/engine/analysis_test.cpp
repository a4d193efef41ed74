// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/analysis.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/design.h"
#include "engine/render.h"
#include "engine/scales.h"
#include "engine/settings.h"
#include "engine/source.h"
#include "files/messages.h"
#include "files/wav.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// A picture read top row first, one byte per pixel.
struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bytes;  // row 0 = top
  int at(std::uint32_t x, std::uint32_t y) const { return bytes[y * width + x]; }
};

struct Analysed {
  ResultCode result = -1;
  Picture picture;
};

// Analyses the wave file at `path` into a width x height picture.
Analysed analyseFile(const RenderSettings& settings, const std::string& path, std::uint32_t width,
                     std::uint32_t height, std::int32_t threads = 0, const std::atomic<bool>* abort = nullptr,
                     std::vector<int>* progress = nullptr) {
  Analysed out;
  Refusal refusal;
  WaveInfo info;
  std::FILE* input = openInputWave(path, info, 44100, refusal);
  EXPECT_NE(input, nullptr) << refusal.text;
  if (!input) return out;
  const std::uint32_t stride = (width + 3) & ~3u;
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(stride) * height, 0xAB);
  AnalysisJob job;
  job.settings = settings;
  job.input = input;
  job.input8Bit = info.bitsPerSample == 8;
  job.sampleCount = info.sampleCount;
  job.pixels = stored.data();
  job.width = width;
  job.stride = stride;
  job.height = height;
  job.threads = threads;
  job.abort = abort;
  if (progress) job.progress = [progress](int p) { progress->push_back(p); };
  out.result = analyseSound(job);
  std::fclose(input);
  out.picture.width = width;
  out.picture.height = height;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = stored.data() + static_cast<std::size_t>(height - 1 - y) * stride;
    out.picture.bytes.insert(out.picture.bytes.end(), row, row + width);
  }
  return out;
}

// Renders `picture` with `settings` into `count` samples at `path`.
void renderFile(const RenderSettings& settings, const PictureData& picture, std::uint32_t count,
                const std::string& path) {
  RenderJob job;
  job.settings = settings;
  job.picture = picture;
  job.sampleCount = count;
  job.output = test::createTestOutput(path, count);
  ASSERT_NE(job.output, nullptr);
  ASSERT_EQ(renderSound(job), kResultOk);
}

std::string writeWave(const test::TempDir& dir, const std::string& name, const std::vector<std::int16_t>& samples) {
  const std::string path = dir.file(name);
  test::writeFile(path, test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
  return path;
}

std::vector<std::int16_t> tone(double hz, double amplitude, std::size_t count, std::size_t from = 0) {
  std::vector<std::int16_t> samples(count, 0);
  for (std::size_t i = from; i < count; ++i) {
    samples[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / 44100.0)));
  }
  return samples;
}

struct Agreement {
  double correlation = 0.0;  // Pearson r of the bytes
  double meanOffset = 0.0;   // mean of (analysed - original)
};

// How well `analysed` matches `original` (width x height, top row first),
// leaving out `edge` columns on either side.
Agreement agreement(const Picture& analysed, const test::TestPicture& original, std::uint32_t edge) {
  const PictureData& p = original.data();
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, count = 0;
  for (std::uint32_t y = 0; y < p.height; ++y) {
    for (std::uint32_t x = edge; x + edge < p.width; ++x) {
      const double a = analysed.at(x, y);
      const double b = p.pixels[(p.height - 1 - y) * p.stride + x];
      sa += a;
      sb += b;
      saa += a * a;
      sbb += b * b;
      sab += a * b;
      ++count;
    }
  }
  Agreement result;
  const double cov = sab / count - (sa / count) * (sb / count);
  const double va = saa / count - (sa / count) * (sa / count);
  const double vb = sbb / count - (sb / count) * (sb / count);
  result.correlation = cov / std::sqrt(va * vb);
  result.meanOffset = (sa - sb) / count;
  return result;
}

TEST(NoiseLevel, MeanSquareIsTheGeneratorsOwn) {
  // The closed form against the generator itself, over a long stretch.
  std::int32_t state = kInitialRandomSeed;
  double sum = 0.0;
  const int count = 4000000;
  for (int i = 0; i < count; ++i) {
    const double v = nextNoiseSample(state);
    sum += v * v;
  }
  EXPECT_NEAR(noiseMeanSquare() / (sum / count), 1.0, 0.003);
  EXPECT_NEAR(std::sqrt(noiseMeanSquare()), 11090.8, 0.5);
}

TEST(AnalysisBrightness, InvertsTheGainMatrix) {
  // Every byte survives gain and back, for both mappings and several ranges.
  for (const bool logarithmic : {false, true}) {
    for (const int range : {20, 60, 120}) {
      RenderSettings s;
      s.logBrightness = logarithmic;
      s.logRangeDb = range;
      std::vector<std::uint8_t> bytes(256);
      for (int b = 0; b < 256; ++b) bytes[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
      std::vector<float> gains(256);
      buildGainMatrix(PictureData{bytes.data(), 256, 256, 1}, s, gains.data());
      for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(brightnessOfGain(gains[static_cast<std::size_t>(b)], s), b) << logarithmic << " " << range;
      }
      EXPECT_EQ(brightnessOfGain(0.0, s), 0);
      EXPECT_EQ(brightnessOfGain(4.0, s), 255);
    }
  }
}

TEST(AnalysisSize, DefaultRowsAreOnePerHop) {
  RenderSettings s;
  EXPECT_EQ(defaultAnalysisRows(s, 661500), 323u);  // 15 s, hop 2048
  s.subBlocksPerBlock = 16;
  EXPECT_EQ(defaultAnalysisRows(s, 661500), 1292u);
  EXPECT_EQ(defaultAnalysisRows(s, 0), 1u);
  EXPECT_EQ(defaultAnalysisRows(s, 100), 1u);
}

// Render a smooth picture and analyse the result on the same settings and
// size: the picture comes back. The bounds are measured ones, with room
// for the noise of another seed.
struct RoundTripCase {
  FrequencyScale scale;
  InputSource source;
  bool logBrightness;
  double minCorrelation;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ThePictureComesBack) {
  const RoundTripCase c = GetParam();
  RenderSettings s;
  s.frequencyScale = c.scale;
  s.inputSource = c.source;
  s.logBrightness = c.logBrightness;
  const std::uint32_t width = 48;
  const std::uint32_t height = 20;
  // Smooth in both directions, within 40 ... 220 so that no sample clips.
  const test::TestPicture picture(width, height, [](std::uint32_t x, std::uint32_t y) {
    return 130.0 + 90.0 * std::sin(x * 0.13 + 0.4) * std::cos(y * 0.21 - 0.3);
  });
  test::TempDir dir;
  const std::string path = dir.file("render.wav");
  renderFile(s, picture.data(), 44100 * 20, path);
  const Analysed analysed = analyseFile(s, path, width, height);
  ASSERT_EQ(analysed.result, kResultOk);
  const Agreement a = agreement(analysed.picture, picture, 1);
  std::printf("round trip %d/%d/%d: r = %.4f, mean offset %.2f\n", static_cast<int>(c.scale),
              static_cast<int>(c.source), c.logBrightness ? 1 : 0, a.correlation, a.meanOffset);
  EXPECT_GT(a.correlation, c.minCorrelation);
  // The level: no more than a few bytes off on average.
  EXPECT_LT(std::fabs(a.meanOffset), 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryScaleAndSource, RoundTrip,
    ::testing::Values(RoundTripCase{FrequencyScale::Linear, InputSource::PinkNoise, false, 0.99},
                      RoundTripCase{FrequencyScale::Linear, InputSource::WhiteNoise, false, 0.99},
                      RoundTripCase{FrequencyScale::Logarithmic, InputSource::PinkNoise, false, 0.96},
                      RoundTripCase{FrequencyScale::Logarithmic, InputSource::WhiteNoise, false, 0.96},
                      RoundTripCase{FrequencyScale::Mel, InputSource::PinkNoise, false, 0.99},
                      RoundTripCase{FrequencyScale::Mel, InputSource::WhiteNoise, false, 0.99},
                      RoundTripCase{FrequencyScale::Mel, InputSource::PinkNoise, true, 0.995}));

// A picture in a chosen band comes back on that band's columns: the bins
// outside it are silent in the render and read by no column.
TEST(Analysis, ABandComesBackOnItsOwnColumns) {
  for (const FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Mel}) {
    RenderSettings s;
    s.frequencyScale = scale;
    s.inputSource = InputSource::WhiteNoise;
    s.bandLowHz = 2000.0f;
    s.bandHighHz = 9000.0f;
    const std::uint32_t width = 40;
    const std::uint32_t height = 12;
    const test::TestPicture picture(width, height, [](std::uint32_t x, std::uint32_t y) {
      return 130.0 + 90.0 * std::sin(x * 0.2 + 0.4) * std::cos(y * 0.3 - 0.3);
    });
    test::TempDir dir;
    const std::string path = dir.file("band.wav");
    renderFile(s, picture.data(), 44100 * 15, path);
    const Analysed analysed = analyseFile(s, path, width, height);
    ASSERT_EQ(analysed.result, kResultOk);
    // The band's outermost bins rise from its edges in the render; the
    // columns within agree.
    const Agreement a = agreement(analysed.picture, picture, 2);
    EXPECT_GT(a.correlation, 0.98) << static_cast<int>(scale);
    EXPECT_LT(std::fabs(a.meanOffset), 3.0) << static_cast<int>(scale);
  }
}

TEST(Analysis, APureToneLandsInTheColumnItsFrequencyMapsTo) {
  test::TempDir dir;
  const std::uint32_t width = 256;
  for (const FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Logarithmic, FrequencyScale::Mel}) {
    for (const double hz : {150.0, 1000.0, 4321.0, 15000.0}) {
      RenderSettings s;
      s.frequencyScale = scale;
      s.inputSource = InputSource::WhiteNoise;
      // Quiet enough to stay below white: the loudest column is not cut off.
      const std::string path = writeWave(dir, "tone.wav", tone(hz, 150.0, 44100));
      const Analysed analysed = analyseFile(s, path, width, 3);
      ASSERT_EQ(analysed.result, kResultOk);
      std::uint32_t loudest = 0;
      for (std::uint32_t x = 0; x < width; ++x) {
        if (analysed.picture.at(x, 1) > analysed.picture.at(loudest, 1)) loudest = x;
      }
      const float expected = pictureMapping(s, static_cast<float>(width - 1)).position(static_cast<float>(hz));
      EXPECT_LE(std::fabs(static_cast<float>(loudest) - expected), 0.6f)
          << "scale " << static_cast<int>(scale) << ", " << hz << " Hz";
    }
  }
}

TEST(Analysis, ASilentWaveGivesABlackPicture) {
  test::TempDir dir;
  const std::string path = writeWave(dir, "silence.wav", std::vector<std::int16_t>(30000, 0));
  for (const bool logarithmic : {false, true}) {
    RenderSettings s;
    s.logBrightness = logarithmic;
    const Analysed analysed = analyseFile(s, path, 40, 7);
    ASSERT_EQ(analysed.result, kResultOk);
    EXPECT_EQ(analysed.picture.bytes, std::vector<std::uint8_t>(40 * 7, 0));
  }
  // An empty wave too, and one row of a picture.
  const std::string empty = writeWave(dir, "empty.wav", {});
  const Analysed analysed = analyseFile(RenderSettings{}, empty, 5, 1);
  ASSERT_EQ(analysed.result, kResultOk);
  EXPECT_EQ(analysed.picture.bytes, std::vector<std::uint8_t>(5, 0));
}

TEST(Analysis, RowsLieOnTheRendersTimeAxis) {
  // A tone from half-way: row r of H stands for time r / (H - 1) of the
  // sound, so the upper half of the rows is dark and the lower half bright,
  // blurred by about half a frame (0.09 s) either side of the middle row.
  // The steady tone reads alike on every bright row, the last included,
  // whose frames reach past the end of the sound.
  test::TempDir dir;
  const std::size_t count = 44100 * 8;
  const std::string path = writeWave(dir, "late.wav", tone(1000.0, 250.0, count, count / 2));
  RenderSettings s;
  s.frequencyScale = FrequencyScale::Linear;
  const std::uint32_t height = 81;  // 0.1 s a row; the middle row 40 is the onset
  const Analysed analysed = analyseFile(s, path, 64, height);
  ASSERT_EQ(analysed.result, kResultOk);
  const std::uint32_t column = static_cast<std::uint32_t>(std::lround(1000.0 / 22050.0 * 63.0));
  const int steady = analysed.picture.at(column, 60);
  EXPECT_GT(steady, 40);
  for (std::uint32_t y = 0; y < height; ++y) {
    const int b = analysed.picture.at(column, y);
    if (y < 38) {
      EXPECT_EQ(b, 0) << "row " << y;
    } else if (y > 42) {
      EXPECT_NEAR(b, steady, 2) << "row " << y;
    }
  }
  EXPECT_LT(analysed.picture.at(column, 39), analysed.picture.at(column, 41));
  EXPECT_LT(analysed.picture.at(column, 41), steady);
}

TEST(Analysis, ThreadsAndStreamsGiveTheSamePicture) {
  test::TempDir dir;
  const std::string path = writeWave(dir, "speech.wav", test::speechLike(44100 * 6, 12000.0));
  RenderSettings s;
  // Rows finer than the frames and rows coarser than them.
  for (const std::uint32_t height : {700u, 129u, 9u, 1u}) {
    const Analysed one = analyseFile(s, path, 100, height, 1);
    const Analysed three = analyseFile(s, path, 100, height, 3);
    ASSERT_EQ(one.result, kResultOk);
    ASSERT_EQ(three.result, kResultOk);
    EXPECT_EQ(one.picture.bytes, three.picture.bytes) << height << " rows";

    // The same file read in order from a stream that has no position.
    std::vector<std::uint8_t> bytes = test::readFile(path);
    std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(stream, nullptr);
    WaveInfo info;
    ASSERT_FALSE(readWaveHeader(stream, info, 44100));
    std::vector<std::uint8_t> stored(100 * height);
    AnalysisJob job;
    job.settings = s;
    job.input = stream;
    job.sampleCount = info.sampleCount;
    job.pixels = stored.data();
    job.width = 100;
    job.stride = 100;
    job.height = height;
    job.threads = 3;
    EXPECT_EQ(analyseSound(job), kResultOk);
    std::fclose(stream);
    std::vector<std::uint8_t> topFirst;
    for (std::uint32_t y = 0; y < height; ++y) {
      topFirst.insert(topFirst.end(), stored.begin() + (height - 1 - y) * 100, stored.begin() + (height - y) * 100);
    }
    EXPECT_EQ(topFirst, one.picture.bytes) << height << " rows";
  }
}

TEST(Analysis, ReportsProgressAndStopsWhenAsked) {
  test::TempDir dir;
  const std::string path = writeWave(dir, "speech.wav", test::speechLike(44100 * 4, 12000.0));
  for (const std::int32_t threads : {1, 2}) {
    std::vector<int> progress;
    ASSERT_EQ(analyseFile(RenderSettings{}, path, 64, 50, threads, nullptr, &progress).result, kResultOk);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 1000);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    const std::atomic<bool> abort{true};
    EXPECT_EQ(analyseFile(RenderSettings{}, path, 64, 50, threads, &abort).result, kResultAborted);
  }
}

TEST(Analysis, RefusesWhatTheDesignCannotUse) {
  test::TempDir dir;
  const std::string path = writeWave(dir, "short.wav", tone(440.0, 1000.0, 5000));
  Refusal refusal;
  WaveInfo info;
  std::vector<std::uint8_t> pixels(64);
  const auto run = [&](const RenderSettings& s, std::uint32_t width, std::uint32_t height, std::uint32_t count) {
    std::FILE* input = openInputWave(path, info, 44100, refusal);
    EXPECT_NE(input, nullptr);
    AnalysisJob job;
    job.settings = s;
    job.input = input;
    job.sampleCount = count;
    job.pixels = pixels.data();
    job.width = width;
    job.stride = 8;
    job.height = height;
    const ResultCode result = analyseSound(job);
    std::fclose(input);
    return result;
  };
  RenderSettings s;
  EXPECT_EQ(run(s, 8, 8, 5000), kResultOk);
  EXPECT_EQ(run(s, 0, 8, 5000), kResultInternal);
  EXPECT_EQ(run(s, 8, 0, 5000), kResultInternal);
  EXPECT_EQ(run(s, 9, 7, 5000), kResultInternal);  // wider than the stride
  RenderSettings scale = s;
  scale.frequencyScale = static_cast<FrequencyScale>(3);
  EXPECT_EQ(run(scale, 8, 8, 5000), kResultInternal);
  RenderSettings block = s;
  block.blockLength = 1000;
  EXPECT_EQ(run(block, 8, 8, 5000), kResultInternal);
  // A data chunk that claims more than the file holds.
  EXPECT_EQ(run(s, 8, 8, 50000), kResultShortRead);
}

}  // namespace
}  // namespace vellomar

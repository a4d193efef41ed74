// SPDX-License-Identifier: GPL-3.0-or-later
// Sine renders through renderSound: every range of samples the same as
// the whole file, no crosstalk between the channels, a white picture as
// loud as on pink noise, and the pictures at the ends of the sizes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/design.h"
#include "engine/render.h"
#include "engine/sine.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

struct Rendered {
  ResultCode result = -1;
  std::vector<std::int16_t> frames;
  std::int32_t noiseStateAfter = 0;
};

Rendered render(const RenderSettings& settings, const PictureData& picture, std::uint32_t count,
                std::int32_t threads = 1) {
  test::TempDir dir;
  RenderJob job;
  job.settings = settings;
  job.picture = picture;
  job.sampleCount = count;
  job.threads = threads;
  job.noiseState = 987654321;
  job.output = test::createTestOutput(dir.file("out.wav"), count, outputChannels(settings));
  Rendered out;
  out.result = renderSound(job);
  out.frames = test::waveSamples(dir.file("out.wav"));
  out.noiseStateAfter = job.noiseState;
  return out;
}

RenderSettings sines(FrequencyScale scale, float lowHz, float highHz) {
  RenderSettings s;
  s.inputSource = InputSource::SineTones;
  s.frequencyScale = scale;
  s.bandLowHz = lowHz;
  s.bandHighHz = highHz;
  return s;
}

double rms(const std::vector<std::int16_t>& x) {
  double sum = 0.0;
  for (std::int16_t v : x) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(x.size()));
}

// The amplitude of frequency f in `x` under a Kaiser window (beta 20, side
// lobes far below the 16-bit rounding): A for a sine of amplitude A.
double toneAmplitude(const std::vector<std::int16_t>& x, double f) {
  double re = 0.0;
  double im = 0.0;
  double weight = 0.0;
  const std::size_t count = x.size();
  for (std::size_t i = 0; i < count; ++i) {
    const double r = 2.0 * static_cast<double>(i) / static_cast<double>(count - 1) - 1.0;
    const double w = std::cyl_bessel_i(0.0, 20.0 * std::sqrt(std::max(0.0, 1.0 - r * r)));
    const double angle = 2.0 * 3.14159265358979323846 * f * static_cast<double>(i) / 44100.0;
    re += w * x[i] * std::cos(angle);
    im += w * x[i] * std::sin(angle);
    weight += w;
  }
  return 2.0 * std::hypot(re, im) / weight;
}

TEST(SineRender, AnyRangeRenderedAloneIsTheWholeRendersSamples) {
  RenderSettings s = sines(FrequencyScale::Mel, 0.0f, 0.0f);
  s.subBlocksPerBlock = 8;
  const test::TestPicture picture(200, 37, [](std::uint32_t x, std::uint32_t y) { return (x * 7 + y * 29) % 256; });
  const std::uint32_t count = 70001;
  const Rendered whole = render(s, picture.data(), count);
  ASSERT_EQ(whole.result, kResultOk);
  ASSERT_EQ(whole.frames.size(), count);
  EXPECT_EQ(whole.noiseStateAfter, 987654321);  // no noise drawn

  RenderJob job;
  job.settings = s;
  job.picture = picture.data();
  job.sampleCount = count;
  std::vector<float> gains(200 * 37);
  buildGainMatrix(job.picture, s, gains.data());
  SineTables tables;
  ASSERT_EQ(prepareSineTables(tables, job), kResultOk);
  // Ranges inside a hop, across hops, backwards: each from a fresh voice
  // and from one that rendered something else before.
  SineVoice reused;
  ASSERT_EQ(configureSineVoice(reused, job, tables), kResultOk);
  for (const auto& [first, length] :
       {std::pair{0, 1}, std::pair{33333, 5000}, std::pair{1000, 17}, std::pair{69000, 1001}, std::pair{4095, 2}}) {
    SCOPED_TRACE(first);
    SineVoice fresh;
    ASSERT_EQ(configureSineVoice(fresh, job, tables), kResultOk);
    for (SineVoice* voice : {&fresh, &reused}) {
      std::vector<double> values(static_cast<std::size_t>(length));
      ASSERT_EQ(renderSineFrames(*voice, gains.data(), first, length, values.data()), kResultOk);
      for (int i = 0; i < length; ++i) {
        ASSERT_EQ(toOutputSample(values[static_cast<std::size_t>(i)]),
                  whole.frames[static_cast<std::size_t>(first + i)]);
      }
    }
  }
}

TEST(SineRender, TheChannelsHearOnlyTheirOwnColour) {
  // Red lights column 20 (about 174.6 Hz), green column 50 (about 987.8 Hz).
  RenderSettings s = sines(FrequencyScale::Logarithmic, 55.0f, 7040.0f);
  s.stereo = true;
  const test::TestPicture grey(85, 4, [](std::uint32_t, std::uint32_t) { return 0; });
  const test::TestPicture red(85, 4, [](std::uint32_t x, std::uint32_t) { return x == 20 ? 255 : 0; });
  const test::TestPicture green(85, 4, [](std::uint32_t x, std::uint32_t) { return x == 50 ? 255 : 0; });
  PictureData picture = grey.data();
  picture.red = red.data().pixels;
  picture.green = green.data().pixels;
  const Rendered out = render(s, picture, 44100, 2);
  ASSERT_EQ(out.result, kResultOk);
  const std::vector<std::int16_t> left = test::channelSamples(out.frames, 2, 0);
  const std::vector<std::int16_t> right = test::channelSamples(out.frames, 2, 1);
  const double leftHz = 55.0 * std::pow(2.0, 20.0 / 12.0);
  const double rightHz = 55.0 * std::pow(2.0, 50.0 / 12.0);
  // Each channel's own tone, and nothing of the other's beyond the 16-bit
  // rounding.
  const double leftOwn = toneAmplitude(left, leftHz);
  const double rightOwn = toneAmplitude(right, rightHz);
  EXPECT_GT(leftOwn, 100.0);
  EXPECT_NEAR(rightOwn, leftOwn, 1e-3 * leftOwn);
  EXPECT_LT(toneAmplitude(left, rightHz), leftOwn * 1e-4);
  EXPECT_LT(toneAmplitude(right, leftHz), rightOwn * 1e-4);
}

struct LevelCase {
  FrequencyScale scale;
  float lowHz;
  float highHz;
  std::int32_t blockLength;
  std::uint32_t width;
};

double crest(const std::vector<std::int16_t>& x, std::size_t count) {
  const std::vector<std::int16_t> part(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(count));
  double peak = 0.0;
  for (std::int16_t v : part) peak = std::max(peak, std::abs(static_cast<double>(v)));
  return peak / rms(x);
}

// The columns lie a few hertz apart or more, so that three seconds hold
// their beats and the loudness is the mean one.
TEST(SineRender, AWhitePictureIsAsLoudAsOnPinkNoiseAndPeaksNoHigher) {
  const LevelCase cases[] = {
      {FrequencyScale::Mel, 0.0f, 0.0f, 8192, 512},
      {FrequencyScale::Logarithmic, 55.0f, 7040.0f, 8192, 85},
      {FrequencyScale::Linear, 0.0f, 0.0f, 2048, 300},
      {FrequencyScale::Linear, 0.0f, 0.0f, 8192, 3000},
      {FrequencyScale::Logarithmic, 100.0f, 10000.0f, 32768, 400},
      {FrequencyScale::Mel, 1000.0f, 3000.0f, 4096, 40},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " columns, N " + std::to_string(c.blockLength));
    RenderSettings s = sines(c.scale, c.lowHz, c.highHz);
    s.blockLength = c.blockLength;
    s.masterGainDb = 0;
    const test::TestPicture white(c.width, 3, [](std::uint32_t, std::uint32_t) { return 255; });
    const Rendered sine = render(s, white.data(), 3 * 44100, 2);
    s.inputSource = InputSource::PinkNoise;
    const Rendered pink = render(s, white.data(), 3 * 44100, 2);
    ASSERT_EQ(sine.result, kResultOk);
    ASSERT_EQ(pink.result, kResultOk);
    EXPECT_LT(std::abs(20.0 * std::log10(rms(sine.frames) / rms(pink.frames))), 1.0);
    // Columns from 0 Hz are harmonics of one another: Schroeder's phases
    // keep their sum's peak low for good. Elsewhere they keep it low at
    // the start, until the tones drift apart and peak like noise.
    const std::size_t start = 4410;
    EXPECT_LE(crest(sine.frames, start), 4.0);
    if (c.scale == FrequencyScale::Linear && c.lowHz == 0.0f) {
      EXPECT_LE(crest(sine.frames, sine.frames.size()), 4.0);
    } else {
      EXPECT_LE(crest(sine.frames, sine.frames.size()), 1.2 * crest(pink.frames, pink.frames.size()));
    }
  }
}

TEST(SineRender, OneColumnOneRowAndAHundredThousandColumnsRender) {
  const RenderSettings s = sines(FrequencyScale::Logarithmic, 100.0f, 400.0f);
  // One column: the band's middle on its scale, 200 Hz, and nothing else.
  const test::TestPicture column(1, 20, [](std::uint32_t, std::uint32_t) { return 255; });
  const Rendered one = render(s, column.data(), 44100);
  ASSERT_EQ(one.result, kResultOk);
  EXPECT_NEAR(toneAmplitude(one.frames, 200.0) / (std::sqrt(2.0) * rms(one.frames)), 1.0, 1e-3);

  // One row: a steady chord of the row's columns.
  const test::TestPicture row(25, 1, [](std::uint32_t x, std::uint32_t) { return x % 12 == 0 ? 255 : 0; });
  const Rendered steady = render(s, row.data(), 44100);
  ASSERT_EQ(steady.result, kResultOk);
  for (double hz : {100.0, 200.0, 400.0}) EXPECT_GT(test::bandEnergy(steady.frames, hz - 1.0, hz + 1.0), 0.0) << hz;
  EXPECT_NEAR(rms(std::vector<std::int16_t>(steady.frames.begin(), steady.frames.begin() + 22050)),
              rms(std::vector<std::int16_t>(steady.frames.begin() + 22050, steady.frames.end())), 1.0);

  // A hundred thousand columns over the whole range, about as loud as on
  // pink noise.
  RenderSettings wide = sines(FrequencyScale::Mel, 0.0f, 0.0f);
  wide.masterGainDb = 0;
  const test::TestPicture white(100000, 2, [](std::uint32_t, std::uint32_t) { return 255; });
  const Rendered many = render(wide, white.data(), 8192, 2);
  ASSERT_EQ(many.result, kResultOk);
  wide.inputSource = InputSource::PinkNoise;
  const Rendered pink = render(wide, white.data(), 8192, 2);
  EXPECT_LT(std::abs(20.0 * std::log10(rms(many.frames) / rms(pink.frames))), 1.5);
}

// Every clipped sample counts once, whichever thread rendered it, and the
// peak is the largest value before the clamp.
TEST(SineRender, TheRenderCountsItsClippedSamplesAndItsPeak) {
  RenderSettings s = sines(FrequencyScale::Logarithmic, 55.0f, 7040.0f);
  s.masterGainDb = 48;
  const test::TestPicture picture(85, 9, [](std::uint32_t x, std::uint32_t y) { return x == 30 + y ? 200 : 0; });
  const std::uint32_t count = 30000;
  RenderJob job;
  job.settings = s;
  job.picture = picture.data();
  job.sampleCount = count;
  std::vector<float> gains(85 * 9);
  buildGainMatrix(job.picture, s, gains.data());
  SineTables tables;
  ASSERT_EQ(prepareSineTables(tables, job), kResultOk);
  SineVoice voice;
  ASSERT_EQ(configureSineVoice(voice, job, tables), kResultOk);
  std::vector<double> values(count);
  ASSERT_EQ(renderSineFrames(voice, gains.data(), 0, count, values.data()), kResultOk);
  std::uint64_t clipped = 0;
  double peak = 0.0;
  for (double v : values) {
    if (v > 32767.0 || v < -32768.0) ++clipped;
    peak = std::max(peak, std::abs(v));
  }
  ASSERT_GT(clipped, 0u);
  ASSERT_LT(clipped, count);

  for (std::int32_t threads : {1, 3}) {
    for (bool stereo : {false, true}) {
      test::TempDir dir;
      RenderJob render = job;
      render.settings.stereo = stereo;
      render.threads = threads;
      render.blocksPerRun = 1;
      render.output = test::createTestOutput(dir.file("out.wav"), count, stereo ? 2 : 1);
      ASSERT_EQ(renderSound(render), kResultOk);
      EXPECT_EQ(render.levels.clippedSamples, clipped * (stereo ? 2 : 1)) << threads;
      EXPECT_EQ(render.levels.peak, peak) << threads;
    }
  }
}

// Analysis of a sine render gives back a staircase of notes from A2 up,
// on the axes it was rendered on: each step is three rows, and the middle
// one, whose neighbours hold the same line, comes back whole.
TEST(SineRender, AnalysisGivesBackThePicturesLines) {
  RenderSettings s = sines(FrequencyScale::Logarithmic, 55.0f, 7040.0f);
  const std::uint32_t width = 85;
  const std::uint32_t steps = 12;
  const std::uint32_t height = 3 * steps;
  const auto lineAt = [](std::uint32_t step) { return 12 + 5 * step; };
  const test::TestPicture picture(width, height,
                                  [&](std::uint32_t x, std::uint32_t y) { return x == lineAt(y / 3) ? 255 : 0; });
  test::TempDir dir;
  const std::uint32_t count = 6 * 44100;
  RenderJob job;
  job.settings = s;
  job.picture = picture.data();
  job.sampleCount = count;
  job.output = test::createTestOutput(dir.file("out.wav"), count, 1);
  ASSERT_EQ(renderSound(job), kResultOk);

  std::FILE* input = std::fopen(dir.file("out.wav").c_str(), "rb");
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(std::fseek(input, 44, SEEK_SET), 0);
  std::vector<std::uint8_t> stored(width * height, 0);
  AnalysisJob analysis;
  analysis.settings = s;
  analysis.input = input;
  analysis.sampleCount = count;
  analysis.pixels = stored.data();
  analysis.width = width;
  analysis.stride = width;
  analysis.height = height;
  ASSERT_EQ(analyseSound(analysis), kResultOk);
  std::fclose(input);
  for (std::uint32_t step = 0; step < steps; ++step) {
    const std::uint32_t y = 3 * step + 1;
    const std::uint8_t* row = stored.data() + (height - 1 - y) * width;  // stored bottom-up
    const std::uint32_t line = lineAt(step);
    EXPECT_GE(row[line], 250) << step;
    // Below 90 Hz a bin spans more than a semitone: the line's neighbours
    // light up as well. Above, it stands alone.
    const std::uint32_t reach = line < 24 ? 3 : 1;
    for (std::uint32_t x = 0; x < width; ++x) {
      if (x + reach < line || x > line + reach) {
        EXPECT_LT(row[x], 10) << x << ", step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace vellomar

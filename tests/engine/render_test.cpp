// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "engine/source.h"
#include "fft/fft.h"
#include "files/messages.h"
#include "files/wav.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

class RenderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (job.input) std::fclose(job.input);
    if (job.output) std::fclose(job.output);
  }

  // A fresh job of the fixture's settings and picture, its progress
  // recorded and its abort flag the fixture's.
  void newJob(std::uint32_t count) {
    job = RenderJob{};
    job.settings = settings;
    job.picture = picture;
    job.sampleCount = count;
    job.abort = &abort;
    job.threads = threads;
    job.progress = [this](int p) { progress.push_back(p); };
  }

  // Prepares a noise render of `count` samples into out.wav.
  void prepareNoise(std::uint32_t count) {
    newJob(count);
    job.output = test::createTestOutput(outPath(), count);
    ASSERT_NE(job.output, nullptr);
  }

  // Prepares a render of `samples` from a 16-bit wave file.
  void prepareWave(const std::vector<std::int16_t>& samples) {
    settings.inputSource = InputSource::WaveFile;
    const std::string in = dir.file("in.wav");
    test::writeFile(in, test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
    newJob(static_cast<std::uint32_t>(samples.size()));
    Refusal refusal;
    WaveInfo info;
    job.input = openInputWave(in, info, 44100, refusal);
    ASSERT_NE(job.input, nullptr);
    ASSERT_EQ(info.sampleCount, samples.size());
    job.output = test::createTestOutput(outPath(), job.sampleCount);
    ASSERT_NE(job.output, nullptr);
  }

  std::string outPath() const { return dir.file("out.wav"); }
  std::size_t writtenSamples() const { return (test::readFile(outPath()).size() - 44) / 2; }

  test::TempDir dir;
  RenderSettings settings;
  PictureData picture;
  std::int32_t threads = 1;
  std::atomic<bool> abort{false};
  RenderJob job;
  std::vector<int> progress;
};

// A white picture on the Linear scale halves the amplitude (a flat response of
// 0.5, all but the top bin); the default 6 dB of master gain makes up for it.
const double kWhiteGain = 0.5 * masterGainFactor(6);

double rms(const std::vector<std::int16_t>& v, std::size_t from, std::size_t to) {
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(v[i]) * v[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(OutputSample, RoundingAndClamping) {
  EXPECT_EQ(toOutputSample(0.5), 1);
  EXPECT_EQ(toOutputSample(0.49), 0);
  EXPECT_EQ(toOutputSample(-0.6), 0);
  EXPECT_EQ(toOutputSample(-1.5), -1);
  EXPECT_EQ(toOutputSample(-1.6), -1);
  EXPECT_EQ(toOutputSample(1234.5), 1235);
  EXPECT_EQ(toOutputSample(32766.4), 32766);
  EXPECT_EQ(toOutputSample(40000.0), 32767);
  EXPECT_EQ(toOutputSample(-40000.0), -32767);
  EXPECT_EQ(toOutputSample(-32768.0), -32767);
  EXPECT_EQ(toOutputSample(std::numeric_limits<double>::quiet_NaN()), 32767);
  EXPECT_EQ(toOutputSample(-std::numeric_limits<double>::infinity()), -32767);
  EXPECT_EQ(toOutputSample(std::numeric_limits<double>::infinity()), 32767);
}

TEST_F(RenderTest, DefaultNoiseRenderLengthAndProgress) {
  test::TestPicture shown(64, 32, [](auto x, auto y) { return (x * 7 + y * 13) % 256; });
  picture = shown.data();
  prepareNoise(661500);
  ASSERT_EQ(renderSound(job), kResultOk);
  EXPECT_EQ(job.output, nullptr);
  ASSERT_EQ(progress.size(), 82u);
  for (int b = 0; b < 82; ++b) EXPECT_EQ(progress[static_cast<std::size_t>(b)], b * 1000 / 82);
  EXPECT_EQ(progress.back(), 987);
  const auto bytes = test::readFile(outPath());
  EXPECT_EQ(bytes.size(), 44u + 1323000u);
  EXPECT_EQ(test::le32(bytes, 40), 1323000u);
  // The noise is shaped, not silenced, from the first sample to the last.
  const auto samples = test::waveSamples(outPath());
  EXPECT_GT(rms(samples, 0, 2048), 100.0);
  EXPECT_GT(rms(samples, samples.size() - 2044, samples.size()), 100.0);
}

TEST_F(RenderTest, ShortRendersWriteExactlyTheirSamples) {
  test::TestPicture shown(8, 8, [](auto, auto) { return 255; });
  picture = shown.data();
  for (std::uint32_t count : {0u, 1u, 881u, 2048u, 2049u, 4096u, 4097u, 8192u, 12345u}) {
    SCOPED_TRACE(count);
    progress.clear();
    prepareNoise(count);
    ASSERT_EQ(renderSound(job), kResultOk);
    EXPECT_EQ(writtenSamples(), count);
    EXPECT_EQ(progress.size(), blockCount(count, 8192));
  }
}

TEST_F(RenderTest, SingleSubBlockAndOtherGridsPassAWaveThrough) {
  test::TestPicture shown(16, 4, [](auto, auto) { return 255; });
  picture = shown.data();
  const auto input = test::speechLike(10000, 8000.0);
  for (auto [n, s] : {std::pair{2048, 1}, std::pair{2048, 16}, std::pair{4096, 2}}) {
    SCOPED_TRACE(std::to_string(n) + "/" + std::to_string(s));
    settings = RenderSettings{};
    settings.frequencyScale = FrequencyScale::Linear;
    settings.blockLength = n;
    settings.subBlocksPerBlock = s;
    prepareWave(input);
    ASSERT_EQ(renderSound(job), kResultOk);
    const auto out = test::waveSamples(outPath());
    ASSERT_EQ(out.size(), input.size());
    // Sample n of the output lines up with sample n of the input.
    double err = 0.0;
    for (std::size_t i = 0; i < out.size(); ++i) err = std::max(err, std::abs(double(out[i]) - kWhiteGain * input[i]));
    EXPECT_LT(err, 8.0);
  }
}

TEST_F(RenderTest, AbortStopsAfterAHopButNotAfterTheLast) {
  test::TestPicture shown(8, 8, [](auto, auto) { return 200; });
  picture = shown.data();
  prepareNoise(661500);
  abort = true;
  EXPECT_EQ(renderSound(job), kResultAborted);
  EXPECT_EQ(writtenSamples(), 2048u);  // block 0's first written hop
  EXPECT_EQ(job.output, nullptr);

  // Asked before the last block, whose only hop is the last: not noticed.
  abort = false;
  prepareNoise(661500);
  job.progress = [this](int p) {
    if (p == 987) abort = true;
  };
  EXPECT_EQ(renderSound(job), kResultOk);
  EXPECT_EQ(writtenSamples(), 661500u);

  // One block earlier it stops the render.
  abort = false;
  prepareNoise(661500);
  job.progress = [this](int p) {
    if (p == 975) abort = true;
  };
  EXPECT_EQ(renderSound(job), kResultAborted);
  EXPECT_EQ(writtenSamples(), 2048u * (2 + 79 * 4 + 1));
}

// Near 4 Gi samples no position may wrap: a wrapped end test would end the
// render in its first block.
TEST_F(RenderTest, CountsNear4GiDoNotWrap) {
  test::TestPicture shown(8, 8, [](auto, auto) { return 255; });
  picture = shown.data();
  int calls = 0;
  auto stopAtBlock3 = [this, &calls](int) {
    if (++calls == 3) abort = true;
  };
  newJob(4294967000u);
  job.output = std::fopen("/dev/null", "wb");
  job.progress = stopAtBlock3;
  EXPECT_EQ(renderSound(job), kResultAborted);

  // An 8-bit input of almost 4 GiB, as a sparse file.
  settings.inputSource = InputSource::WaveFile;
  const std::string in = dir.file("huge.wav");
  auto header = test::waveBytes({}, 1, 8, 44100);
  header[40] = 0xF0;
  header[41] = header[42] = header[43] = 0xFF;
  test::writeFile(in, header);
  std::filesystem::resize_file(in, 44 + 0xFFFFFFF0ull);
  WaveInfo info;
  Refusal refusal;
  newJob(0xFFFFFFF0u);
  job.input = openInputWave(in, info, 44100, refusal);
  ASSERT_NE(job.input, nullptr);
  EXPECT_EQ(info.sampleCount, 0xFFFFFFF0u);
  job.input8Bit = true;
  job.output = std::fopen("/dev/null", "wb");
  abort = false;
  calls = 0;
  job.progress = stopAtBlock3;
  EXPECT_EQ(renderSound(job), kResultAborted);
}

TEST_F(RenderTest, NoPictureFailsBeforeReadingOrWriting) {
  prepareNoise(44100);
  EXPECT_EQ(renderSound(job), kResultInternal);
  EXPECT_EQ(job.noiseState, kInitialRandomSeed);
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(writtenSamples(), 0u);
  EXPECT_EQ(job.output, nullptr);

  prepareWave(test::speechLike(5000, 1000.0));
  EXPECT_EQ(renderSound(job), kResultInternal);
  EXPECT_EQ(job.input, nullptr);
  EXPECT_EQ(job.output, nullptr);
}

// Hops that do not tile a block would leave samples unwritten and the file
// shorter than its header says: such a grid is refused before any sample.
TEST_F(RenderTest, SubBlocksThatDoNotDivideTheBlockAreRefused) {
  test::TestPicture shown(8, 8, [](auto, auto) { return 255; });
  picture = shown.data();
  settings.blockLength = 2048;
  for (std::int32_t s : {3, 5, 6}) {
    SCOPED_TRACE(s);
    settings.subBlocksPerBlock = s;
    progress.clear();
    prepareNoise(20000);
    EXPECT_EQ(renderSound(job), kResultInternal);
    EXPECT_EQ(job.output, nullptr);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(writtenSamples(), 0u);
  }
}

TEST_F(RenderTest, ShortInputFailsWithReadErrorAndFullDiskWithWriteError) {
  test::TestPicture shown(8, 8, [](auto, auto) { return 255; });
  picture = shown.data();
  // The data chunk claims 40000 samples but holds 20000.
  settings.inputSource = InputSource::WaveFile;
  auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(40000, 1000.0)), 1, 16, 44100);
  bytes.resize(44 + 40000);
  test::writeFile(dir.file("cut.wav"), bytes);
  WaveInfo info;
  Refusal refusal;
  newJob(40000);
  job.input = openInputWave(dir.file("cut.wav"), info, 44100, refusal);
  ASSERT_NE(job.input, nullptr);
  ASSERT_EQ(info.sampleCount, 40000u);
  job.output = test::createTestOutput(outPath(), info.sampleCount);
  EXPECT_EQ(renderSound(job), kResultShortRead);
  EXPECT_EQ(job.input, nullptr);
  EXPECT_EQ(job.output, nullptr);

  settings.inputSource = InputSource::PinkNoise;
  newJob(441000);
  job.output = std::fopen("/dev/full", "wb");
  ASSERT_NE(job.output, nullptr);
  EXPECT_EQ(renderSound(job), kResultWriteFailed);
  EXPECT_EQ(job.output, nullptr);

  // Even a render too short to fill the stream's buffer fails when its
  // bytes cannot reach the disk.
  newJob(100);
  job.output = std::fopen("/dev/full", "wb");
  EXPECT_EQ(renderSound(job), kResultWriteFailed);
}

// A speech-like wave through a white picture on the Linear scale at 6 dB
// comes out as it went in.
TEST_F(RenderTest, WhitePictureOnLinearPassesTheWaveThrough) {
  test::TestPicture shown(32, 16, [](auto, auto) { return 255; });
  picture = shown.data();
  settings.frequencyScale = FrequencyScale::Linear;
  const auto input = test::speechLike(44100, 12000.0);
  prepareWave(input);
  ASSERT_EQ(renderSound(job), kResultOk);
  const auto out = test::waveSamples(outPath());
  ASSERT_EQ(out.size(), input.size());
  double maxErr = 0.0, maxRounding = 0.0, errEnergy = 0.0, energy = 0.0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    maxErr = std::max(maxErr, std::abs(double(out[i]) - input[i]));
    maxRounding = std::max(maxRounding, std::abs(out[i] - kWhiteGain * input[i]));
    errEnergy += (out[i] - double(input[i])) * (out[i] - double(input[i]));
    energy += double(input[i]) * input[i];
  }
  // Within the 0.24 % by which 6 dB falls short of a factor of 2.
  EXPECT_LT(std::sqrt(errEnergy / energy), 0.003);
  EXPECT_LT(maxErr, 0.003 * 12000.0);
  EXPECT_LE(maxRounding, 2.0);
}

TEST_F(RenderTest, BlackPictureGivesSilence) {
  test::TestPicture shown(32, 16, [](auto, auto) { return 0; });
  picture = shown.data();
  const auto input = test::speechLike(20000, 8000.0);
  prepareWave(input);
  ASSERT_EQ(renderSound(job), kResultOk);
  const auto out = test::waveSamples(outPath());
  ASSERT_EQ(out.size(), input.size());
  for (std::int16_t v : out) ASSERT_EQ(v, 0);
}

TEST_F(RenderTest, LeftHalfWhiteLowPassesAtAQuarterOfTheRate) {
  test::TestPicture shown(64, 8, [](auto x, auto) { return x < 32 ? 255 : 0; });
  picture = shown.data();
  settings.frequencyScale = FrequencyScale::Linear;
  // Broad-band input: white noise from the generator, kept well below full scale.
  std::vector<std::int16_t> input(65536 + 8192);
  std::int32_t state = kInitialRandomSeed;
  for (auto& v : input) v = static_cast<std::int16_t>(nextNoiseSample(state) / 4.0);
  prepareWave(input);
  ASSERT_EQ(renderSound(job), kResultOk);
  const auto out = test::waveSamples(outPath());
  ASSERT_EQ(out.size(), input.size());
  const double lowIn = test::bandEnergy(input, 100.0, 10000.0);
  const double lowOut = test::bandEnergy(out, 100.0, 10000.0);
  const double highIn = test::bandEnergy(input, 12000.0, 22000.0);
  const double highOut = test::bandEnergy(out, 12000.0, 22000.0);
  EXPECT_NEAR(lowOut / lowIn, kWhiteGain * kWhiteGain, 0.02);
  EXPECT_LT(highOut / highIn, 1e-3);
}

// A white picture in a chosen band keeps the sound in that band: the
// energy outside 2 ... 4 kHz, on both sides of the edges themselves, stays
// 40 dB below the whole at every block length.
TEST_F(RenderTest, AWhitePictureInABandKeepsItsEnergyInTheBand) {
  test::TestPicture shown(64, 8, [](auto, auto) { return 255; });
  picture = shown.data();
  settings.inputSource = InputSource::WhiteNoise;
  settings.frequencyScale = FrequencyScale::Linear;
  settings.bandLowHz = 2000.0f;
  settings.bandHighHz = 4000.0f;
  // Measured over 2^18 samples away from the start, Hann windowed so that
  // the measurement itself leaks nothing worth telling.
  constexpr std::size_t kLength = std::size_t{1} << 18;
  constexpr std::size_t kFrom = 16384;
  for (std::int32_t n : {2048, 8192, 32768}) {
    SCOPED_TRACE(n);
    settings.blockLength = n;
    prepareNoise(static_cast<std::uint32_t>(kFrom + kLength));
    ASSERT_EQ(renderSound(job), kResultOk);
    const auto out = test::waveSamples(outPath());
    std::vector<double> in(kLength);
    for (std::size_t i = 0; i < kLength; ++i) {
      in[i] = out[kFrom + i] * (0.5 - 0.5 * std::cos(6.283185307179586 * (static_cast<double>(i) + 0.5) / kLength));
    }
    std::vector<double> spectrum(kLength);
    fftReal(in.data(), spectrum.data(), static_cast<std::int32_t>(kLength), 0);
    double inside = 0.0, outside = 0.0;
    for (std::size_t k = 1; k < kLength / 2; ++k) {
      const double hz = static_cast<double>(k) * 44100.0 / kLength;
      const double power = spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];
      (hz < 2000.0 || hz > 4000.0 ? outside : inside) += power;
    }
    const double db = 10.0 * std::log10(outside / (inside + outside));
    RecordProperty("outOfBandDb" + std::to_string(n), std::to_string(db));
    EXPECT_LT(db, -40.0);
    // Not a silence that passes by itself: the band holds the noise.
    EXPECT_GT(rms(out, kFrom, kFrom + kLength), 1000.0);
  }
}

}  // namespace
}  // namespace vellomar

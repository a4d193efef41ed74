#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "engine/render.h"
#include "engine/settings.h"
#include "engine/source.h"
#include "files/wav.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override { test::resetEngineState(); }
  void TearDown() override {
    if (job.input) std::fclose(job.input);
    if (job.output) std::fclose(job.output);
    test::resetEngineState();
  }

  // Prepares a noise render of `count` samples into out.wav.
  void prepareNoise(std::uint32_t count) {
    job = RenderJob{};
    job.sampleCount = count;
    job.output = createOutputWave(outPath(), WaveInfo{count, 1, 16, 44100, false}, false, nullptr);
    ASSERT_NE(job.output, nullptr);
    job.progress = [this](int p) { progress.push_back(p); };
  }

  // Prepares a render of `samples` from a 16-bit wave file.
  void prepareWave(const std::vector<std::int16_t>& samples) {
    renderSettings.inputSource = InputSource::WaveFile;
    const std::string in = dir.file("in.wav");
    test::writeFile(in, test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
    WaveInfo info;
    job = RenderJob{};
    job.input = openInputWave(in, info, 44100, false, nullptr);
    ASSERT_NE(job.input, nullptr);
    job.sampleCount = info.sampleCount;
    job.output = createOutputWave(outPath(), WaveInfo{info.sampleCount, 1, 16, 44100, false}, false, nullptr);
    ASSERT_NE(job.output, nullptr);
    job.progress = [this](int p) { progress.push_back(p); };
  }

  std::string outPath() const { return dir.file("out.wav"); }
  std::size_t writtenSamples() const { return (test::readFile(outPath()).size() - 44) / 2; }

  test::TempDir dir;
  RenderJob job;
  std::vector<int> progress;
};

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
  test::TestPicture picture(64, 32, [](auto x, auto y) { return (x * 7 + y * 13) % 256; });
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
  test::TestPicture picture(8, 8, [](auto, auto) { return 255; });
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
  test::TestPicture picture(16, 4, [](auto, auto) { return 255; });
  const auto input = test::speechLike(10000, 8000.0);
  for (auto [n, s] : {std::pair{2048, 1}, std::pair{2048, 16}, std::pair{4096, 2}, std::pair{32768, 4}}) {
    SCOPED_TRACE(std::to_string(n) + "/" + std::to_string(s));
    test::resetEngineState();
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.masterGainDb = 0;
    renderSettings.blockLength = n;
    renderSettings.subBlocksPerBlock = s;
    prepareWave(input);
    ASSERT_EQ(renderSound(job), kResultOk);
    const auto out = test::waveSamples(outPath());
    ASSERT_EQ(out.size(), input.size());
    // Sample n of the output lines up with sample n of the input.
    double err = 0.0;
    for (std::size_t i = 0; i < out.size(); ++i) err = std::max(err, std::abs(double(out[i]) - input[i]));
    EXPECT_LT(err, 0.01 * 8000.0);
  }
}

TEST_F(RenderTest, AbortStopsAfterAHopButNotAfterTheLast) {
  test::TestPicture picture(8, 8, [](auto, auto) { return 200; });
  prepareNoise(661500);
  abortRequested = true;
  EXPECT_EQ(renderSound(job), kResultAborted);
  EXPECT_EQ(writtenSamples(), 2048u);  // block 0's first written hop
  EXPECT_EQ(job.output, nullptr);

  // Asked before the last block, whose only hop is the last: not noticed.
  abortRequested = false;
  prepareNoise(661500);
  job.progress = [](int p) {
    if (p == 987) abortRequested = true;
  };
  EXPECT_EQ(renderSound(job), kResultOk);
  EXPECT_EQ(writtenSamples(), 661500u);

  // One block earlier it stops the render.
  abortRequested = false;
  prepareNoise(661500);
  job.progress = [](int p) {
    if (p == 975) abortRequested = true;
  };
  EXPECT_EQ(renderSound(job), kResultAborted);
  EXPECT_EQ(writtenSamples(), 2048u * (2 + 79 * 4 + 1));
}

TEST_F(RenderTest, NoPictureFailsBeforeReadingOrWriting) {
  prepareNoise(44100);
  const std::int32_t seed = randomSeed;
  EXPECT_EQ(renderSound(job), kResultInternal);
  EXPECT_EQ(randomSeed, seed);
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(writtenSamples(), 0u);
  EXPECT_EQ(job.output, nullptr);

  prepareWave(test::speechLike(5000, 1000.0));
  EXPECT_EQ(renderSound(job), kResultInternal);
  EXPECT_EQ(job.input, nullptr);
  EXPECT_EQ(job.output, nullptr);
}

TEST_F(RenderTest, ShortInputFailsWithReadErrorAndFullDiskWithWriteError) {
  test::TestPicture picture(8, 8, [](auto, auto) { return 255; });
  // The data chunk claims 40000 samples but holds 20000.
  renderSettings.inputSource = InputSource::WaveFile;
  auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(40000, 1000.0)), 1, 16, 44100);
  bytes.resize(44 + 40000);
  test::writeFile(dir.file("cut.wav"), bytes);
  WaveInfo info;
  job.input = openInputWave(dir.file("cut.wav"), info, 44100, false, nullptr);
  ASSERT_NE(job.input, nullptr);
  job.sampleCount = info.sampleCount;
  job.output = createOutputWave(outPath(), WaveInfo{info.sampleCount, 1, 16, 44100, false}, false, nullptr);
  EXPECT_EQ(renderSound(job), kResultShortRead);
  EXPECT_EQ(job.input, nullptr);
  EXPECT_EQ(job.output, nullptr);

  renderSettings.inputSource = InputSource::PinkNoise;
  job = RenderJob{};
  job.sampleCount = 441000;
  job.output = std::fopen("/dev/full", "wb");
  ASSERT_NE(job.output, nullptr);
  EXPECT_EQ(renderSound(job), kResultWriteFailed);
  EXPECT_EQ(job.output, nullptr);

  // Even a render too short to fill the stream's buffer fails when its
  // bytes cannot reach the disk.
  job = RenderJob{};
  job.sampleCount = 100;
  job.output = std::fopen("/dev/full", "wb");
  EXPECT_EQ(renderSound(job), kResultWriteFailed);
}

// A speech-like wave through a white picture on the Linear scale at 6 dB
// comes out as the same wave, twice as loud.
TEST_F(RenderTest, WhitePictureOnLinearPassesTheWaveThrough) {
  test::TestPicture picture(32, 16, [](auto, auto) { return 255; });
  renderSettings.frequencyScale = FrequencyScale::Linear;
  const auto input = test::speechLike(44100, 6000.0);
  prepareWave(input);
  ASSERT_EQ(renderSound(job), kResultOk);
  const auto out = test::waveSamples(outPath());
  ASSERT_EQ(out.size(), input.size());
  const double g = masterGainFactor(6);
  double maxErr = 0.0, errEnergy = 0.0, energy = 0.0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double want = g * input[i];
    maxErr = std::max(maxErr, std::abs(out[i] - want));
    errEnergy += (out[i] - want) * (out[i] - want);
    energy += want * want;
  }
  EXPECT_LT(maxErr, 0.002 * 12000.0);
  EXPECT_LT(std::sqrt(errEnergy / energy), 0.001);
}

TEST_F(RenderTest, BlackPictureGivesSilence) {
  test::TestPicture picture(32, 16, [](auto, auto) { return 0; });
  const auto input = test::speechLike(20000, 8000.0);
  prepareWave(input);
  ASSERT_EQ(renderSound(job), kResultOk);
  const auto out = test::waveSamples(outPath());
  ASSERT_EQ(out.size(), input.size());
  for (std::int16_t v : out) ASSERT_EQ(v, 0);
}

TEST_F(RenderTest, LeftHalfWhiteLowPassesAtAQuarterOfTheRate) {
  test::TestPicture picture(64, 8, [](auto x, auto) { return x < 32 ? 255 : 0; });
  renderSettings.frequencyScale = FrequencyScale::Linear;
  renderSettings.masterGainDb = 0;
  // Broad-band input: white noise from the generator, kept well below full scale.
  std::vector<std::int16_t> input(65536 + 8192);
  for (auto& v : input) v = static_cast<std::int16_t>(nextNoiseSample() / 4.0);
  prepareWave(input);
  ASSERT_EQ(renderSound(job), kResultOk);
  const auto out = test::waveSamples(outPath());
  ASSERT_EQ(out.size(), input.size());
  const double lowIn = test::bandEnergy(input, 100.0, 10000.0);
  const double lowOut = test::bandEnergy(out, 100.0, 10000.0);
  const double highIn = test::bandEnergy(input, 12000.0, 22000.0);
  const double highOut = test::bandEnergy(out, 12000.0, 22000.0);
  EXPECT_NEAR(lowOut / lowIn, 1.0, 0.05);
  EXPECT_LT(highOut / highIn, 1e-3);
}

}  // namespace
}  // namespace vellomar

#include "engine/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

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
  for (auto [n, s] : {std::pair{2048, 1}, std::pair{2048, 16}, std::pair{4096, 2}}) {
    SCOPED_TRACE(std::to_string(n) + "/" + std::to_string(s));
    renderSettings = RenderSettings{};
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.blockLength = n;
    renderSettings.subBlocksPerBlock = s;
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

// Near 4 Gi samples no position may wrap: a wrapped end test would end the
// render in its first block.
TEST_F(RenderTest, CountsNear4GiDoNotWrap) {
  test::TestPicture picture(8, 8, [](auto, auto) { return 255; });
  int calls = 0;
  auto stopAtBlock3 = [&calls](int) {
    if (++calls == 3) abortRequested = true;
  };
  job = RenderJob{};
  job.sampleCount = 4294967000u;
  job.output = std::fopen("/dev/null", "wb");
  job.progress = stopAtBlock3;
  EXPECT_EQ(renderSound(job), kResultAborted);

  // An 8-bit input of almost 4 GiB, as a sparse file.
  renderSettings.inputSource = InputSource::WaveFile;
  const std::string in = dir.file("huge.wav");
  auto header = test::waveBytes({}, 1, 8, 44100);
  header[40] = 0xF0;
  header[41] = header[42] = header[43] = 0xFF;
  test::writeFile(in, header);
  std::filesystem::resize_file(in, 44 + 0xFFFFFFF0ull);
  WaveInfo info;
  job = RenderJob{};
  job.input = openInputWave(in, info, 44100, false, nullptr);
  ASSERT_NE(job.input, nullptr);
  EXPECT_EQ(info.sampleCount, 0xFFFFFFF0u);
  job.input8Bit = true;
  job.sampleCount = info.sampleCount;
  job.output = std::fopen("/dev/null", "wb");
  abortRequested = false;
  calls = 0;
  job.progress = stopAtBlock3;
  EXPECT_EQ(renderSound(job), kResultAborted);
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

// Hops that do not tile a block would leave samples unwritten and the file
// shorter than its header says: such a grid is refused before any sample.
TEST_F(RenderTest, SubBlocksThatDoNotDivideTheBlockAreRefused) {
  test::TestPicture picture(8, 8, [](auto, auto) { return 255; });
  renderSettings.blockLength = 2048;
  for (std::int32_t s : {3, 5, 6}) {
    SCOPED_TRACE(s);
    renderSettings.subBlocksPerBlock = s;
    progress.clear();
    prepareNoise(20000);
    EXPECT_EQ(renderSound(job), kResultInternal);
    EXPECT_EQ(job.output, nullptr);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(writtenSamples(), 0u);
  }
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
// comes out as it went in.
TEST_F(RenderTest, WhitePictureOnLinearPassesTheWaveThrough) {
  test::TestPicture picture(32, 16, [](auto, auto) { return 255; });
  renderSettings.frequencyScale = FrequencyScale::Linear;
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
  EXPECT_NEAR(lowOut / lowIn, kWhiteGain * kWhiteGain, 0.02);
  EXPECT_LT(highOut / highIn, 1e-3);
}

}  // namespace
}  // namespace vellomar

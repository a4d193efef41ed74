#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/settings.h"
#include "engine/source.h"
#include "fft/fft.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

class SourceTest : public ::testing::Test {
 protected:
  void SetUp() override { test::resetEngineState(); }
  void TearDown() override {
    if (job.input) std::fclose(job.input);
    test::resetEngineState();
  }

  // Expects `spectrum` to be the transform of `samples` (N of them) followed
  // by N zeros.
  static void expectSpectrumOf(const std::vector<double>& spectrum, std::vector<double> samples) {
    const std::size_t n = static_cast<std::size_t>(renderSettings.blockLength);
    ASSERT_EQ(samples.size(), n);
    samples.resize(2 * n, 0.0);
    std::vector<double> want(2 * n);
    fftReal(samples.data(), want.data(), static_cast<std::int32_t>(2 * n), 0);
    for (std::size_t i = 0; i < 2 * n; ++i) ASSERT_NEAR(spectrum[i], want[i], 1e-9) << i;
  }

  RenderJob job;
};

TEST(NoiseGenerator, FirstStatesAndSamplesFromTheInitialSeed) {
  test::resetEngineState();
  const std::int32_t states[] = {784558821, 530511967, 2110010672};
  const int segments[] = {11, 7, 31};
  const double samples[] = {-3669.113, -7287.381, 25890.811};
  for (int i = 0; i < 3; ++i) {
    const double v = nextNoiseSample();
    EXPECT_EQ(randomSeed, states[i]);
    EXPECT_EQ(randomSeed >> 26, segments[i]);
    EXPECT_NEAR(v, samples[i], 0.001);
  }
}

TEST(NoiseGenerator, IsOddSymmetricAboutTheMiddleState) {
  // The state following s is s * 16807 mod (2^31 - 1); find the input
  // states whose successors lie at 2^30 +- d and compare their samples.
  auto sampleAfter = [](std::int64_t target) {
    // inverse of 16807 modulo 2^31 - 1
    const std::int64_t m = 2147483647, inv = 1407677000;
    randomSeed = static_cast<std::int32_t>((target * inv) % m);
    return nextNoiseSample();
  };
  for (std::int64_t d : {1LL, 1000LL, 33554432LL, 536870911LL, 1073741822LL}) {
    const double up = sampleAfter((1LL << 30) + d);
    EXPECT_EQ(randomSeed, (1LL << 30) + d);
    const double down = sampleAfter((1LL << 30) - d);
    EXPECT_NEAR(up, -down, 1e-6 * std::abs(up) + 1e-9) << d;
  }
  EXPECT_NEAR(sampleAfter(1LL << 30), 0.0, 1e-12);
  EXPECT_NEAR(sampleAfter(1), -32725.69, 0.01);
  EXPECT_NEAR(sampleAfter(2147483646), 32725.69, 0.01);
  test::resetEngineState();
}

TEST(NoiseGenerator, SampleStatisticsOverManyDraws) {
  test::resetEngineState();
  double sum = 0, sumSq = 0;
  const int count = 2000000;
  for (int i = 0; i < count; ++i) {
    const double v = nextNoiseSample();
    ASSERT_LE(std::abs(v), 32725.7);
    sum += v;
    sumSq += v * v;
  }
  EXPECT_NEAR(sum / count, 0.0, 30.0);
  EXPECT_NEAR(std::sqrt(sumSq / count), 11091.0, 60.0);
}

TEST_F(SourceTest, NoiseBlocksAreTheGeneratorsSamplesZeroPadded) {
  renderSettings.blockLength = 2048;
  renderSettings.inputSource = InputSource::WhiteNoise;
  std::vector<double> spectrum(2048 * 2);
  ASSERT_EQ(readSourceBlock(job, spectrum.data(), 0), 0);
  randomSeed = kInitialRandomSeed;
  std::vector<double> samples(2048);
  for (double& v : samples) v = nextNoiseSample();
  expectSpectrumOf(spectrum, samples);
}

TEST_F(SourceTest, PinkAndWhiteNoiseGiveTheSameBlocks) {
  renderSettings.blockLength = 2048;
  std::vector<double> pink(4096), white(4096);
  renderSettings.inputSource = InputSource::PinkNoise;
  ASSERT_EQ(readSourceBlock(job, pink.data(), 0), 0);
  randomSeed = kInitialRandomSeed;
  renderSettings.inputSource = InputSource::WhiteNoise;
  ASSERT_EQ(readSourceBlock(job, white.data(), 0), 0);
  EXPECT_EQ(pink, white);
}

TEST_F(SourceTest, BlocksMustComeInSequence) {
  renderSettings.blockLength = 2048;
  std::vector<double> spectrum(4096);
  ASSERT_EQ(readSourceBlock(job, spectrum.data(), 0), 0);
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 2), kResultInternal);
  // A refused request does not move the sequence on.
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 3), kResultInternal);
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 1), 0);
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 1), kResultInternal);
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 0), 0);  // a new render may start any time
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 1), 0);
}

class WaveBlocks : public SourceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WaveBlocks, TenThousandSamplesInBlocksOf8192) {
  const bool eightBit = GetParam();
  test::TempDir dir;
  std::vector<std::uint8_t> raw;
  std::vector<double> expected;
  for (int i = 0; i < 10000; ++i) {
    if (eightBit) {
      const auto b = static_cast<std::uint8_t>((i * 37) % 256);
      raw.push_back(b);
      expected.push_back((b - 128.0) * 256.0);
    } else {
      const auto s = static_cast<std::int16_t>((i * 7919) % 65536 - 32768);
      raw.push_back(static_cast<std::uint8_t>(s & 0xFF));
      raw.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
      expected.push_back(s);
    }
  }
  test::writeFile(dir.file("in.raw"), raw);
  job.input = std::fopen(dir.file("in.raw").c_str(), "rb");
  ASSERT_NE(job.input, nullptr);
  job.sampleCount = 10000;
  job.input8Bit = eightBit;
  renderSettings.inputSource = InputSource::WaveFile;
  renderSettings.blockLength = 8192;

  std::vector<double> spectrum(8192 * 2);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(readSourceBlock(job, spectrum.data(), k), 0) << k;
    std::vector<double> want(8192, 0.0);
    for (std::size_t i = 0; i < 8192; ++i) {
      const std::size_t source = static_cast<std::size_t>(k) * 8192 + i;
      if (source < 10000) want[i] = expected[source];
    }
    SCOPED_TRACE(k);
    expectSpectrumOf(spectrum, want);
  }
}

INSTANTIATE_TEST_SUITE_P(Bits, WaveBlocks, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "EightBit" : "SixteenBit"; });

TEST_F(SourceTest, EightBitExtremesAndShortRead) {
  test::TempDir dir;
  test::writeFile(dir.file("in.raw"), {0, 128, 255});
  job.input = std::fopen(dir.file("in.raw").c_str(), "rb");
  job.sampleCount = 3;
  job.input8Bit = true;
  renderSettings.inputSource = InputSource::WaveFile;
  renderSettings.blockLength = 2048;
  std::vector<double> spectrum(4096);
  ASSERT_EQ(readSourceBlock(job, spectrum.data(), 0), 0);
  std::vector<double> want(2048, 0.0);
  want[0] = -32768.0;
  want[2] = 32512.0;
  expectSpectrumOf(spectrum, want);

  // The header promised more than the file holds.
  std::rewind(job.input);
  job.sampleCount = 4;
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 0), kResultShortRead);
}

TEST_F(SourceTest, CountsAboveTwoGibiSamplesDoNotWrap) {
  // 4294967295 samples of 8 bits is a legal data chunk. In signed 32-bit
  // arithmetic the remaining count would be -1 and block 0 would read
  // nothing; here it reads a full block, and the file running out after
  // it is a short read.
  test::TempDir dir;
  test::writeFile(dir.file("in.raw"), std::vector<std::uint8_t>(8192, 200));
  job.input = std::fopen(dir.file("in.raw").c_str(), "rb");
  job.sampleCount = 4294967295u;
  job.input8Bit = true;
  renderSettings.inputSource = InputSource::WaveFile;
  renderSettings.blockLength = 8192;
  std::vector<double> spectrum(16384);
  ASSERT_EQ(readSourceBlock(job, spectrum.data(), 0), 0);
  expectSpectrumOf(spectrum, std::vector<double>(8192, (200 - 128.0) * 256.0));
  EXPECT_EQ(readSourceBlock(job, spectrum.data(), 1), kResultShortRead);
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/context.h"
#include "engine/settings.h"
#include "engine/source.h"
#include "fft/fft.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

class SourceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (job.input) std::fclose(job.input);
  }

  // A context for the job as it stands; the source at block 0.
  void configure() { ASSERT_EQ(configureRenderContext(context, job, nullptr), kResultOk); }

  // Expects `spectrum` to be the transform of `samples` (N of them) followed
  // by N zeros.
  void expectSpectrumOf(const std::vector<double>& spectrum, std::vector<double> samples) const {
    const std::size_t n = static_cast<std::size_t>(job.settings.blockLength);
    ASSERT_EQ(samples.size(), n);
    samples.resize(2 * n, 0.0);
    std::vector<double> want(2 * n);
    fftReal(samples.data(), want.data(), static_cast<std::int32_t>(2 * n), 0);
    for (std::size_t i = 0; i < 2 * n; ++i) ASSERT_NEAR(spectrum[i], want[i], 1e-9) << i;
  }

  RenderJob job;
  RenderContext context;
};

TEST(NoiseGenerator, FirstStatesAndSamplesFromTheInitialSeed) {
  std::int32_t state = kInitialRandomSeed;
  const std::int32_t states[] = {784558821, 530511967, 2110010672};
  const int segments[] = {11, 7, 31};
  const double samples[] = {-3669.113, -7287.381, 25890.811};
  for (int i = 0; i < 3; ++i) {
    const double v = nextNoiseSample(state);
    EXPECT_EQ(state, states[i]);
    EXPECT_EQ(state >> 26, segments[i]);
    EXPECT_NEAR(v, samples[i], 0.001);
  }
}

// The generator's step in Schrage's form, as it is usually written.
std::int32_t schrageStep(std::int32_t s) {
  s = 16807 * (s % 127773) - 2836 * (s / 127773);
  return s <= 0 ? s + 2147483647 : s;
}

TEST(NoiseGenerator, StepsAsSchragesFormAndJumpsAheadAsItSteps) {
  // Every state class that the folding of the product can meet: the
  // smallest and largest states, those near 2^30 and a long run from the
  // initial seed.
  for (std::int32_t start : {1, 2, 127773, 1073741823, 1073741824, 2147483645, 2147483646, kInitialRandomSeed}) {
    std::int32_t fast = start;
    std::int32_t slow = start;
    for (int i = 0; i < 100000; ++i) {
      nextNoiseSample(fast);
      slow = schrageStep(slow);
      ASSERT_EQ(fast, slow) << start << " step " << i;
    }
  }
  // Jumps of any length land where as many steps do.
  std::int32_t stepped = kInitialRandomSeed;
  std::uint64_t taken = 0;
  for (std::uint64_t jump : {0ull, 1ull, 2ull, 3ull, 7ull, 127ull, 2049ull, 8192ull, 671744ull}) {
    while (taken < jump) {
      stepped = schrageStep(stepped);
      ++taken;
    }
    EXPECT_EQ(advanceNoiseState(kInitialRandomSeed, jump), stepped) << jump;
  }
  // The period is 2^31 - 2: a jump of one period comes back, and jumps add.
  EXPECT_EQ(advanceNoiseState(12345, 2147483646ull), 12345);
  EXPECT_EQ(advanceNoiseState(advanceNoiseState(12345, 1000000007ull), 3000000000ull),
            advanceNoiseState(12345, 4000000007ull));
  EXPECT_TRUE(validNoiseState(1));
  EXPECT_TRUE(validNoiseState(2147483646));
  EXPECT_FALSE(validNoiseState(0));
  EXPECT_FALSE(validNoiseState(2147483647));
  EXPECT_FALSE(validNoiseState(-5));
}

TEST_F(SourceTest, NoiseBlocksAreTheGeneratorsSamplesZeroPadded) {
  job.settings.blockLength = 2048;
  job.settings.inputSource = InputSource::WhiteNoise;
  job.noiseState = 99991;
  configure();
  std::vector<double> spectrum(2048 * 2);
  std::int32_t state = 99991;
  std::vector<double> samples(2048);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(readSourceBlock(context, spectrum.data(), k), 0);
    for (double& v : samples) v = nextNoiseSample(state);
    expectSpectrumOf(spectrum, samples);
  }
  EXPECT_EQ(context.noiseState, state);

  // A context that starts at block 2 draws block 2's noise.
  RenderContext later;
  ASSERT_EQ(configureRenderContext(later, job, nullptr), kResultOk);
  seekSource(later, 2);
  ASSERT_EQ(readSourceBlock(later, spectrum.data(), 2), 0);
  state = advanceNoiseState(99991, 2 * 2048);
  for (double& v : samples) v = nextNoiseSample(state);
  expectSpectrumOf(spectrum, samples);
}

TEST_F(SourceTest, PinkAndWhiteNoiseGiveTheSameBlocks) {
  job.settings.blockLength = 2048;
  std::vector<double> pink(4096), white(4096);
  job.settings.inputSource = InputSource::PinkNoise;
  configure();
  ASSERT_EQ(readSourceBlock(context, pink.data(), 0), 0);
  job.settings.inputSource = InputSource::WhiteNoise;
  configure();
  ASSERT_EQ(readSourceBlock(context, white.data(), 0), 0);
  EXPECT_EQ(pink, white);
}

TEST_F(SourceTest, BlocksMustComeInSequence) {
  job.settings.blockLength = 2048;
  configure();
  std::vector<double> spectrum(4096);
  ASSERT_EQ(readSourceBlock(context, spectrum.data(), 0), 0);
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 2), kResultInternal);
  // A refused request does not move the sequence on.
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 3), kResultInternal);
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 1), 0);
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 1), kResultInternal);
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 0), 0);  // a new render may start any time
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 1), 0);
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
  job.settings.inputSource = InputSource::WaveFile;
  job.settings.blockLength = 8192;
  configure();

  std::vector<double> spectrum(8192 * 2);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(readSourceBlock(context, spectrum.data(), k), 0) << k;
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
  job.settings.inputSource = InputSource::WaveFile;
  job.settings.blockLength = 2048;
  configure();
  std::vector<double> spectrum(4096);
  ASSERT_EQ(readSourceBlock(context, spectrum.data(), 0), 0);
  std::vector<double> want(2048, 0.0);
  want[0] = -32768.0;
  want[2] = 32512.0;
  expectSpectrumOf(spectrum, want);

  // The header promised more than the file holds.
  job.sampleCount = 4;
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 0), kResultShortRead);
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
  job.settings.inputSource = InputSource::WaveFile;
  job.settings.blockLength = 8192;
  configure();
  std::vector<double> spectrum(16384);
  ASSERT_EQ(readSourceBlock(context, spectrum.data(), 0), 0);
  expectSpectrumOf(spectrum, std::vector<double>(8192, (200 - 128.0) * 256.0));
  EXPECT_EQ(readSourceBlock(context, spectrum.data(), 1), kResultShortRead);
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "engine/settings.h"

namespace vellomar {
namespace {

TEST(RenderSettings, DefaultsAndDerivedQuantities) {
  const RenderSettings s;
  EXPECT_EQ(s.inputSource, InputSource::PinkNoise);
  EXPECT_EQ(s.frequencyScale, FrequencyScale::Mel);
  EXPECT_EQ(s.blockLength, 8192);
  EXPECT_EQ(s.sampleRate, 44100u);
  EXPECT_EQ(s.subBlocksPerBlock, 4);
  EXPECT_FALSE(s.logBrightness);
  EXPECT_EQ(s.logRangeDb, 60);
  EXPECT_EQ(s.masterGainDb, 6);
  EXPECT_EQ(s.durationSeconds, 15.0f);
  EXPECT_TRUE(s.inputPath.empty());
  EXPECT_TRUE(s.outputPath.empty());
  EXPECT_EQ(static_cast<int>(InputSource::WaveFile), 2);
  EXPECT_EQ(static_cast<int>(FrequencyScale::Logarithmic), 1);

  EXPECT_EQ(noiseSampleCount(s.sampleRate, s.durationSeconds), 661500u);
  EXPECT_EQ(blockCount(661500, s.blockLength), 82u);
  EXPECT_EQ(s.blockLength / s.subBlocksPerBlock, 2048);
  EXPECT_NEAR(masterGainFactor(6), 1.99526, 1e-5);
  EXPECT_DOUBLE_EQ(masterGainFactor(0), 1.0);
}

TEST(RenderSettings, SampleCountFollowsSinglePrecision) {
  EXPECT_EQ(noiseSampleCount(44100, 0.02f), 881u);  // 0.02f lies below 0.02
  EXPECT_EQ(noiseSampleCount(44100, 1.0f), 44100u);
  EXPECT_EQ(noiseSampleCount(44100, 0.0f), 0u);
  EXPECT_EQ(noiseSampleCount(44100, 1000000.0f), 44100000000ull > 4294967295ull ? 4294967295u : 0u);
  EXPECT_EQ(blockCount(0, 8192), 1u);
  EXPECT_EQ(blockCount(4294967295ull, 8192), 524289u);  // no 32-bit wrap
}

// The limits both front-ends keep: gains clamp, ranges round to tens
// (halves up) within 20 ... 120, block settings are the lists' powers of two.
TEST(RenderSettings, Limits) {
  const std::pair<long long, std::int32_t> gains[] = {{-5, 0}, {0, 0}, {48, 48}, {49, 48}, {1LL << 40, 48}};
  for (const auto& [in, out] : gains) EXPECT_EQ(clampGainDb(in), out) << in;
  const std::pair<long long, std::int32_t> ranges[] = {{-100, 20}, {0, 20}, {14, 20}, {24, 20}, {25, 30},
                                                       {64, 60}, {65, 70}, {114, 110}, {115, 120}, {124, 120},
                                                       {125, 120}, {1LL << 40, 120}};
  for (const auto& [in, out] : ranges) EXPECT_EQ(roundRangeDb(in), out) << in;
  EXPECT_TRUE(blockSettingsValid(2048, 1));
  EXPECT_TRUE(blockSettingsValid(32768, 16));
  EXPECT_FALSE(blockSettingsValid(1024, 4));
  EXPECT_FALSE(blockSettingsValid(65536, 4));
  EXPECT_FALSE(blockSettingsValid(3000, 4));
  EXPECT_FALSE(blockSettingsValid(8192, 32));
  EXPECT_FALSE(blockSettingsValid(8192, 3));
  EXPECT_FALSE(blockSettingsValid(8192, 0));
  EXPECT_GE(availableCores(), 1);
}

TEST(RunState, InitialValues) {
  EXPECT_EQ(kInitialRandomSeed, 0x7EDA5023);
  EXPECT_EQ(kMaxOutputSamples, 2147483629u);
}

}  // namespace
}  // namespace vellomar

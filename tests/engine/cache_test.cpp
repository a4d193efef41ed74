// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/design.h"
#include "engine/settings.h"
#include "fft/fft.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

constexpr std::int32_t kN = 2048;
constexpr std::int32_t kS = 4;
constexpr std::int32_t kH = kN / kS;

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job.settings.blockLength = kN;
    job.settings.subBlocksPerBlock = kS;
    job.settings.frequencyScale = FrequencyScale::Linear;
    job.settings.inputSource = InputSource::WaveFile;
    input = test::speechLike(5 * kN, 9000.0);
    test::writeFile(dir.file("in.wav"), test::waveBytes(test::pcm16Bytes(input), 1, 16, 44100));
    job.picture = picture.data();
    gains.resize(40 * 30);
    buildGainMatrix(job.picture, job.settings, gains.data());
    reopen();
  }
  void TearDown() override {
    if (job.input) std::fclose(job.input);
  }

  // The input from its first sample, and a fresh context.
  void reopen() {
    if (job.input) std::fclose(job.input);
    job.input = std::fopen(dir.file("in.wav").c_str(), "rb");
    ASSERT_NE(job.input, nullptr);
    std::fseek(job.input, 44, SEEK_SET);
    job.sampleCount = static_cast<std::uint32_t>(input.size());
    ASSERT_EQ(configureRenderContext(context, job, gains.data()), kResultOk);
  }

  const double* get(std::int32_t b, std::int32_t c, std::int64_t s) {
    return getFilteredSegment(context, b, c, s, result);
  }

  // Block b of the input filtered by column c: 2N samples, computed here
  // from the samples and the designed filter.
  std::vector<double> expectedFiltered(std::int32_t b, std::int32_t c) {
    std::vector<double> block(2 * kN, 0.0);
    for (std::int32_t i = 0; i < kN; ++i) block[static_cast<std::size_t>(i)] = input[std::size_t(b * kN + i)];
    std::vector<double> spectrum(2 * kN), filter(2 * kN), product(2 * kN), out(2 * kN);
    fftReal(block.data(), spectrum.data(), 2 * kN, 0);
    RenderContext designer;
    EXPECT_EQ(configureRenderContext(designer, job, gains.data()), kResultOk);
    EXPECT_EQ(designColumnFilter(designer, filter.data(), c), kResultOk);
    for (std::size_t k = 0; k < kN; ++k) {
      const double pr = spectrum[2 * k], pi = spectrum[2 * k + 1], qr = filter[2 * k], qi = filter[2 * k + 1];
      product[2 * k] = pr * qr - qi * pi;
      product[2 * k + 1] = pr * qi + qr * pi;
    }
    ifftReal(product.data(), out.data(), 0.0, 2 * kN);
    return out;
  }

  static void expectSegment(const double* got, const std::vector<double>& filtered, std::int32_t r) {
    ASSERT_NE(got, nullptr);
    for (std::int32_t i = 0; i < kH; ++i) ASSERT_NEAR(got[i], filtered[std::size_t(r * kH + i)], 1e-6) << i;
  }

  test::TempDir dir;
  std::vector<std::int16_t> input;
  test::TestPicture picture{40, 30, [](auto x, auto y) { return (x * 37 + y * 101) % 256; }};
  std::vector<float> gains;
  RenderJob job;
  RenderContext context;
  ResultCode result = -1;
};

TEST_F(CacheTest, SegmentsOfABlockAndTheirBounds) {
  for (std::int32_t b = 0; b < 3; ++b) ASSERT_NE(get(b, 9, b * kS), nullptr) << b;
  EXPECT_EQ(result, kResultOk);
  const auto filtered = expectedFiltered(3, 9);
  expectSegment(get(3, 9, 12), filtered, 0);
  expectSegment(get(3, 9, 19), filtered, 7);
  expectSegment(get(3, 9, 14), filtered, 2);

  result = kResultOk;
  EXPECT_EQ(get(3, 9, 11), nullptr);
  EXPECT_EQ(result, kResultBadSegment);
  result = kResultOk;
  EXPECT_EQ(get(3, 9, 20), nullptr);
  EXPECT_EQ(result, kResultBadSegment);
  // The cache is unchanged: the previous block is still held.
  expectSegment(get(2, 9, 12), expectedFiltered(2, 9), 4);
}

TEST_F(CacheTest, ReusesBlocksFiltersAndFilteredSignals) {
  job.settings.inputSource = InputSource::WhiteNoise;
  reopen();
  const double* first = get(0, 3, 2);
  ASSERT_NE(first, nullptr);
  const std::int32_t seed = context.noiseState;
  // A mark in the held signal survives a repeated request: no new read (the
  // generator did not move), no new design, no new inverse transform.
  const double mark = first[0] + 12345.0;
  const_cast<double*>(first)[0] = mark;
  const double* again = get(0, 3, 2);
  ASSERT_EQ(again, first);
  EXPECT_EQ(again[0], mark);
  EXPECT_EQ(context.noiseState, seed);

  // A new column recomputes the filtered signal but reads nothing.
  const double* next = get(0, 4, 2);
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next[0], mark);
  EXPECT_EQ(context.noiseState, seed);

  // Changing the gains behind the cache's back shows that the held filter
  // is reused for the same column.
  const double before = get(0, 4, 3)[5];
  for (float& g : gains) g = 0.0f;
  EXPECT_EQ(get(0, 4, 3)[5], before);
  EXPECT_EQ(get(0, 5, 3)[5], 0.0);
}

TEST_F(CacheTest, NewColumnRecomputesThePreviousBlockOnItsNextRequest) {
  ASSERT_NE(get(0, 6, 2), nullptr);
  ASSERT_NE(get(1, 6, 4), nullptr);
  expectSegment(get(1, 7, 4), expectedFiltered(1, 7), 0);
  expectSegment(get(0, 7, 4), expectedFiltered(0, 7), 4);
  // Blocks are read in order: the older one is replaced.
  expectSegment(get(2, 7, 8), expectedFiltered(2, 7), 0);
  expectSegment(get(1, 7, 8), expectedFiltered(1, 7), 4);
}

TEST_F(CacheTest, Failures) {
  // Out of sequence: block 2 before blocks 0 and 1.
  EXPECT_EQ(get(2, 1, 8), nullptr);
  EXPECT_EQ(result, kResultInternal);

  // An unsupported scale fails the design.
  job.settings.frequencyScale = static_cast<FrequencyScale>(7);
  reopen();
  result = kResultOk;
  EXPECT_EQ(get(0, 1, 2), nullptr);
  EXPECT_EQ(result, kResultInternal);
  job.settings.frequencyScale = FrequencyScale::Linear;
  reopen();
  EXPECT_NE(get(0, 1, 2), nullptr);
  EXPECT_EQ(result, kResultOk);

  // After a release the arrays are made anew and the blocks read again.
  releaseFilteredBlockCache(context);
  EXPECT_FALSE(context.cache.made);
  expectSegment(get(0, 1, 2), expectedFiltered(0, 1), 2);
  EXPECT_TRUE(context.cache.made);

  // A short input: the slot is emptied, the next request tries again.
  reopen();
  job.sampleCount = static_cast<std::uint32_t>(input.size() + 3 * kN);
  for (std::int32_t b = 0; b < 5; ++b) ASSERT_NE(get(b, 1, b * kS), nullptr) << b;
  EXPECT_EQ(get(5, 1, 5 * kS), nullptr);
  EXPECT_EQ(result, kResultShortRead);
}

}  // namespace
}  // namespace vellomar

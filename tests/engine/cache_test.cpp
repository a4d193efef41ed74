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
    return getFilteredHop(context, b, c, s, result);
  }

  // Block b of the input filtered by column c: 2N samples, computed here
  // from the samples and the designed filter, one block at a time.
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

  // Hop r of block b under column c by overlap-add: the block's own
  // filtered samples plus the tail of the block before.
  std::vector<double> expectedHop(std::int32_t b, std::int32_t c, std::int32_t r) {
    const auto own = expectedFiltered(b, c);
    const auto before = b > 0 ? expectedFiltered(b - 1, c) : std::vector<double>(2 * kN, 0.0);
    std::vector<double> hop(kH);
    for (std::int32_t i = 0; i < kH; ++i) {
      hop[std::size_t(i)] = own[std::size_t(r * kH + i)] + before[std::size_t(kN + r * kH + i)];
    }
    return hop;
  }

  static void expectHop(const double* got, const std::vector<double>& hop) {
    ASSERT_NE(got, nullptr);
    for (std::int32_t i = 0; i < kH; ++i) ASSERT_NEAR(got[i], hop[std::size_t(i)], 1e-6) << i;
  }

  static std::uint64_t inverseTransforms() { return fftTransformCount(FftDirection::Inverse, 2 * kN); }

  test::TempDir dir;
  std::vector<std::int16_t> input;
  test::TestPicture picture{40, 30, [](auto x, auto y) { return (x * 37 + y * 101) % 256; }};
  std::vector<float> gains;
  RenderJob job;
  RenderContext context;
  ResultCode result = -1;
};

TEST_F(CacheTest, HopsAreTheBlockPlusTheTailOfTheBlockBefore) {
  expectHop(get(0, 9, 2), expectedHop(0, 9, 2));
  expectHop(get(1, 9, 4), expectedHop(1, 9, 0));
  expectHop(get(1, 9, 7), expectedHop(1, 9, 3));
  expectHop(get(2, 11, 9), expectedHop(2, 11, 1));
  EXPECT_EQ(result, kResultOk);

  // Only block b's own hops: b * S ... b * S + S - 1.
  for (std::int64_t s : {7, 12, -1}) {
    result = kResultOk;
    EXPECT_EQ(get(2, 11, s), nullptr) << s;
    EXPECT_EQ(result, kResultBadSegment);
  }
  // Nothing changed: the held block is filtered again without a read.
  expectHop(get(2, 12, 10), expectedHop(2, 12, 2));
}

TEST_F(CacheTest, EachNewBlockAndColumnCostsOneInverseTransform) {
  job.settings.inputSource = InputSource::WhiteNoise;
  reopen();
  const std::uint64_t start = inverseTransforms();
  const double* x = get(0, 3, 2);
  const double* y = get(0, 4, 2);
  ASSERT_NE(x, nullptr);
  ASSERT_NE(y, nullptr);
  EXPECT_EQ(inverseTransforms() - start, 2u);
  // Both columns of a hop stay readable side by side, and asking again
  // reads, designs and transforms nothing: a mark survives, the generator
  // stays, gains changed behind the cache's back are not seen.
  const double mark = x[0] + 12345.0;
  const_cast<double*>(x)[0] = mark;
  const std::int32_t noise = context.noiseState;
  for (float& g : gains) g = 0.0f;
  EXPECT_EQ(get(0, 3, 2), x);
  EXPECT_EQ(x[0], mark);
  EXPECT_EQ(get(0, 4, 3), y + kH);
  EXPECT_NE(y[kH], 0.0);
  EXPECT_EQ(context.noiseState, noise);
  EXPECT_EQ(inverseTransforms() - start, 2u);

  // The next hop's new column: one transform; the next block: one per
  // column, and one block read.
  EXPECT_EQ(get(0, 5, 3)[0], 0.0);
  EXPECT_EQ(inverseTransforms() - start, 3u);
  ASSERT_NE(get(1, 5, 4), nullptr);
  ASSERT_NE(get(1, 6, 4), nullptr);
  EXPECT_EQ(inverseTransforms() - start, 5u);
  EXPECT_NE(context.noiseState, noise);
}

TEST_F(CacheTest, AContextStartingAtALaterBlockGivesTheSameBits) {
  // A context that walked blocks 0 ... 3 and one whose source stands at
  // block 2 (as a run of a threaded render starts) agree exactly.
  for (std::int32_t b = 0; b < 4; ++b) ASSERT_NE(get(b, 13, b * kS), nullptr) << b;
  const double* walked = get(3, 14, 3 * kS + 1);
  ASSERT_NE(walked, nullptr);
  const std::vector<double> expected(walked, walked + kH);

  RenderContext later;
  ASSERT_EQ(configureRenderContext(later, job, gains.data()), kResultOk);
  seekSource(later, 2);
  const double* got = getFilteredHop(later, 3, 14, 3 * kS + 1, result);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::vector<double>(got, got + kH), expected);
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
  seekSource(context, 0);
  expectHop(get(0, 1, 2), expectedHop(0, 1, 2));
  EXPECT_TRUE(context.cache.made);

  // A short input fails the block that runs short.
  reopen();
  job.sampleCount = static_cast<std::uint32_t>(input.size() + 3 * kN);
  for (std::int32_t b = 0; b < 5; ++b) ASSERT_NE(get(b, 1, b * kS), nullptr) << b;
  EXPECT_EQ(get(5, 1, 5 * kS), nullptr);
  EXPECT_EQ(result, kResultShortRead);
}

}  // namespace
}  // namespace vellomar

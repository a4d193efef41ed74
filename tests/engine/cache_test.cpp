#include "engine/cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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
    test::resetEngineState();
    renderSettings.blockLength = kN;
    renderSettings.subBlocksPerBlock = kS;
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.inputSource = InputSource::WaveFile;
    input = test::speechLike(5 * kN, 9000.0);
    test::writeFile(dir.file("in.wav"), test::waveBytes(test::pcm16Bytes(input), 1, 16, 44100));
    reopen();
    picture = std::make_unique<test::TestPicture>(40, 30, [](auto x, auto y) { return (x * 37 + y * 101) % 256; });
    gains.resize(40 * 30);
    buildGainMatrix(gains.data());
  }
  void TearDown() override {
    getFilteredSegment(nullptr, 0, 0, 0, result, nullptr);
    if (job.input) std::fclose(job.input);
    picture.reset();
    test::resetEngineState();
  }

  void reopen() {
    if (job.input) std::fclose(job.input);
    job = RenderJob{};
    job.input = std::fopen(dir.file("in.wav").c_str(), "rb");
    ASSERT_NE(job.input, nullptr);
    std::fseek(job.input, 44, SEEK_SET);
    job.sampleCount = static_cast<std::uint32_t>(input.size());
  }

  const double* get(std::int32_t b, std::int32_t c, std::int64_t s) {
    return getFilteredSegment(&job, b, c, s, result, gains.data());
  }

  // Block b of the input filtered by column c: 2N samples, computed here
  // from the samples and the designed filter.
  std::vector<double> expectedFiltered(std::int32_t b, std::int32_t c) {
    std::vector<double> block(2 * kN, 0.0);
    for (std::int32_t i = 0; i < kN; ++i) block[static_cast<std::size_t>(i)] = input[std::size_t(b * kN + i)];
    std::vector<double> spectrum(2 * kN), filter(2 * kN), product(2 * kN), out(2 * kN);
    fftReal(block.data(), spectrum.data(), 2 * kN, 0);
    EXPECT_EQ(designColumnFilter(job, filter.data(), c, gains.data()), kResultOk);
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
  std::unique_ptr<test::TestPicture> picture;
  std::vector<float> gains;
  RenderJob job;
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
  renderSettings.inputSource = InputSource::WhiteNoise;
  const double* first = get(0, 3, 2);
  ASSERT_NE(first, nullptr);
  const std::int32_t seed = randomSeed;
  // A mark in the held signal survives a repeated request: no new read (the
  // generator did not move), no new design, no new inverse transform.
  const double mark = first[0] + 12345.0;
  const_cast<double*>(first)[0] = mark;
  const double* again = get(0, 3, 2);
  ASSERT_EQ(again, first);
  EXPECT_EQ(again[0], mark);
  EXPECT_EQ(randomSeed, seed);

  // A new column recomputes the filtered signal but reads nothing.
  const double* next = get(0, 4, 2);
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next[0], mark);
  EXPECT_EQ(randomSeed, seed);

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
  getFilteredSegment(nullptr, 0, 0, 0, result, nullptr);
  reopen();
  renderSettings.frequencyScale = static_cast<FrequencyScale>(7);
  result = kResultOk;
  EXPECT_EQ(get(0, 1, 2), nullptr);
  EXPECT_EQ(result, kResultInternal);
  renderSettings.frequencyScale = FrequencyScale::Linear;
  EXPECT_NE(get(0, 1, 2), nullptr);
  EXPECT_EQ(result, kResultOk);

  // A short input: the slot is emptied, the next request tries again.
  getFilteredSegment(nullptr, 0, 0, 0, result, nullptr);
  reopen();
  job.sampleCount = static_cast<std::uint32_t>(input.size() + 3 * kN);
  for (std::int32_t b = 0; b < 5; ++b) ASSERT_NE(get(b, 1, b * kS), nullptr) << b;
  EXPECT_EQ(get(5, 1, 5 * kS), nullptr);
  EXPECT_EQ(result, kResultShortRead);
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// The gain matrix from its 256-entry table, built in bands on threads:
// the same bytes as the mapping's formula pixel by pixel, for every thread
// count, with progress on the calling thread.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"

namespace vellomar {
namespace {

// The brightness mapping written out for one byte, as each pixel's gain
// was formed before the table: linear v / 255, or exp of the exponent
// formed in double and rounded once to float.
float formulaGain(const RenderSettings& s, std::uint8_t v) {
  constexpr float kOneOver255 = 1.0f / 255.0f;
  if (!s.logBrightness) return static_cast<float>(v) * kOneOver255;
  const float ln10 = static_cast<float>(std::log(10.0));
  const float alpha = ln10 / 20.0f * static_cast<float>(s.logRangeDb) * kOneOver255;
  const float beta = alpha * -255.0f;
  const auto exponent = static_cast<float>(static_cast<double>(v) * alpha + static_cast<double>(beta));
  return static_cast<float>(std::exp(static_cast<double>(exponent)));
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(GainTable, EveryByteHasTheMappingsGainBitForBit) {
  RenderSettings s;
  for (const bool log : {false, true}) {
    s.logBrightness = log;
    for (const std::int32_t range : {0, 20, 60, 90, 120}) {
      s.logRangeDb = range;
      float table[256];
      buildGainTable(s, table);
      for (int v = 0; v < 256; ++v) {
        ASSERT_TRUE(sameBits(table[v], formulaGain(s, static_cast<std::uint8_t>(v))))
            << (log ? "log " : "lin ") << range << " dB, byte " << v;
      }
    }
  }
}

// A picture big enough to be built on threads, whose height is no
// multiple of a band, with stride padding that must never be read.
class GainMatrixThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    stride = (kWidth + 3) & ~3u;
    bytes.assign(static_cast<std::size_t>(stride) * kHeight, 0);
    std::uint32_t state = 7;
    for (std::uint32_t r = 0; r < kHeight; ++r) {
      for (std::uint32_t x = 0; x < stride; ++x) {
        state = state * 1664525u + 1013904223u;
        // Padding holds 0xEE; no pixel does, so a gain of it shows a read
        // of the padding.
        const auto v = static_cast<std::uint8_t>(state >> 24);
        bytes[r * stride + x] = x < kWidth ? (v == 0xEE ? 0xED : v) : 0xEE;
      }
    }
    picture = PictureData{bytes.data(), kWidth, stride, kHeight};
  }

  std::vector<float> build(const RenderSettings& s, std::int32_t threads, std::vector<int>* progress = nullptr) {
    std::vector<float> gains(static_cast<std::size_t>(kWidth) * kHeight, -1.0f);
    const std::thread::id caller = std::this_thread::get_id();
    std::function<void(int)> report;
    if (progress) {
      report = [progress, caller](int thousandths) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        progress->push_back(thousandths);
      };
    }
    buildGainMatrix(picture, s, gains.data(), threads, report);
    return gains;
  }

  static constexpr std::uint32_t kWidth = 2101;
  static constexpr std::uint32_t kHeight = 2017;
  std::uint32_t stride = 0;
  std::vector<std::uint8_t> bytes;
  PictureData picture;
};

TEST_F(GainMatrixThreads, EveryThreadCountGivesTheFormulasBytesTopRowFirst) {
  RenderSettings s;
  s.logBrightness = true;
  s.logRangeDb = 60;
  std::vector<int> progress;
  const std::vector<float> one = build(s, 1, &progress);
  // Row 0 of the matrix is the top row, stored last.
  for (std::uint32_t r = 0; r < kHeight; r += 97) {
    for (std::uint32_t x = 0; x < kWidth; x += 13) {
      const std::uint8_t v = bytes[(kHeight - 1 - r) * stride + x];
      ASSERT_TRUE(sameBits(one[r * kWidth + x], formulaGain(s, v))) << r << "," << x;
    }
  }
  EXPECT_EQ(progress.back(), 1000);
  for (const std::int32_t threads : {2, 3, 8, 0}) {
    SCOPED_TRACE(threads);
    progress.clear();
    const std::vector<float> many = build(s, threads, &progress);
    EXPECT_EQ(std::memcmp(many.data(), one.data(), one.size() * sizeof(float)), 0);
    ASSERT_FALSE(progress.empty());
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_LT(progress[i - 1], progress[i]);
    EXPECT_EQ(progress.back(), 1000);
  }
  s.logBrightness = false;
  const std::vector<float> linear = build(s, 4);
  EXPECT_TRUE(sameBits(linear[0], formulaGain(s, bytes[(kHeight - 1) * stride])));
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Edits pinned to the byte: a spread of painted pictures (every scale, a
// band, block lengths 1024 ... 8192, mono and stereo, pictures with fewer
// and with more rows than frames, single columns, a single pixel, masks,
// black, brightening, synthesis over silence and moves), whose outputs as
// 32-bit float samples (what a float file holds) were hashed when the
// render ran on one thread.
// Faster ways of making the same frames must give the same samples, on any
// thread count.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "spectral_edit_fixture.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::EditCase;

// FNV-1a over the output's samples as 32-bit floats.
std::uint64_t floatHash(const std::vector<double>& samples) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const double v : samples) {
    const auto f = static_cast<float>(v);
    unsigned char bytes[sizeof f];
    std::memcpy(bytes, &f, sizeof f);
    for (const unsigned char b : bytes) {
      h ^= b;
      h *= 0x100000001b3ull;
    }
  }
  return h;
}

RenderSettings grid(std::int32_t n, FrequencyScale scale, float lowHz = 0.0f, float highHz = 0.0f) {
  RenderSettings s;
  s.blockLength = n;
  s.frequencyScale = scale;
  s.bandLowHz = lowHz;
  s.bandHighHz = highHz;
  return s;
}

// Interleaved frames: speech-like on the left, noise on the right.
std::vector<std::int16_t> stereo(std::size_t count) {
  const std::vector<std::int16_t> left = test::speechLike(count, 11000);
  const std::vector<std::int16_t> right = test::noise(count, 2500, 11);
  std::vector<std::int16_t> out(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = left[i];
    out[2 * i + 1] = right[i];
  }
  return out;
}

struct Pinned {
  const char* what;
  std::uint64_t hash;
};

// Renders `e` on one, two and three threads, all of which must agree, and
// checks the hash.
void expectPinned(const EditCase& e, const Pinned& pinned) {
  SCOPED_TRACE(pinned.what);
  ASSERT_EQ(e.analysisResult, kResultOk);
  ResultCode result = -1;
  const std::vector<double> out = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  for (const std::int32_t threads : {2, 3}) {
    ASSERT_EQ(e.render(threads, &result), out) << threads << " threads";
    ASSERT_EQ(result, kResultOk);
  }
  EXPECT_EQ(floatHash(out), pinned.hash) << std::hex << "0x" << floatHash(out);
}

TEST(SpectralEditPinnedTest, MasksAcrossScalesAndRowSpacings) {
  {
    // Mel, fewer rows than frames: halved, blacked out and slightly
    // brightened rectangles.
    EditCase e(grid(2048, FrequencyScale::Mel), test::speechLike(60000, 12000), 1, 128, 100);
    e.paint(30, 40, 60, 43, [](int b) { return b / 2; });
    e.paint(70, 10, 90, 30, [](int) { return 0; });
    e.paint(5, 60, 120, 61, [](int b) { return b > 0 ? std::min(255, b + 5) : 0; });
    expectPinned(e, {"mel, 128 x 100", 0x64b23dfee23c008cull});
  }
  {
    // Linear, many rows a frame: a fade down the picture, every row a
    // different level.
    EditCase e(grid(4096, FrequencyScale::Linear), test::noise(100000, 3000), 1, 300, 400);
    for (std::uint32_t y = 50; y < 350; ++y) {
      for (std::uint32_t x = 20; x < 280; x += 1 + y % 3) {
        const int b = e.pixel(0, x, y);
        e.pixel(0, x, y) = static_cast<std::uint8_t>(b == 0 ? 0 : std::max(1, b - static_cast<int>(y / 12)));
      }
    }
    expectPinned(e, {"linear, 300 x 400", 0x9e7432a9e00cffceull});
  }
  {
    // Logarithmic over a band, stereo, the channels painted apart, and an
    // odd length.
    EditCase e(grid(1024, FrequencyScale::Logarithmic, 100.0f, 8000.0f), stereo(33333), 2, 77, 50);
    for (std::uint32_t y = 10; y < 30; ++y) {
      for (std::uint32_t x = 10; x < 50; ++x) e.pixel(0, x, y) = static_cast<std::uint8_t>(e.pixel(0, x, y) / 3);
    }
    for (std::uint32_t y = 20; y < 45; ++y) {
      for (std::uint32_t x = 40; x < 77; ++x) e.pixel(1, x, y) = 0;
    }
    expectPinned(e, {"log band, stereo", 0x69577c1346b43cd5ull});
  }
  {
    // Single columns at both edges and within, on a picture with more
    // columns than the low bins: a bin may take many columns, a column
    // many bins.
    EditCase e(grid(1024, FrequencyScale::Mel), test::noise(40000, 4000, 5), 1, 700, 60);
    e.paint(0, 5, 1, 20, [](int b) { return b / 2; });
    e.paint(3, 25, 4, 40, [](int b) { return b / 4; });
    e.paint(699, 30, 700, 50, [](int b) { return b / 2; });
    e.paint(350, 10, 352, 55, [](int) { return 0; });
    expectPinned(e, {"single columns", 0xd7b0a452ac82becbull});
  }
  {
    // One pixel standing for the whole sound, lowered: every frame scaled.
    EditCase e(grid(8192, FrequencyScale::Mel), test::speechLike(20001, 9000), 1, 1, 1);
    e.paint(0, 0, 1, 1, [](int b) { return std::max(1, b - 20); });
    expectPinned(e, {"one pixel", 0x301bef0b626b7700ull});
  }
}

TEST(SpectralEditPinnedTest, SynthesisAndMoves) {
  std::vector<std::int16_t> sound = test::speechLike(44100 * 3, 12000);
  for (std::size_t i = 44100; i < 2 * 44100 - 10000; ++i) sound[i] = 0;
  {
    // Copied onto digital silence (synthesised) beside a mask.
    EditCase e(grid(2048, FrequencyScale::Mel), sound, 1, 200, 150);
    for (std::uint32_t y = 55; y < 80; ++y) {
      for (std::uint32_t x = 0; x < 200; ++x) e.pixel(0, x, y) = e.originalPixel(0, x, y - 50);
    }
    e.paint(20, 100, 90, 120, [](int b) { return b / 3; });
    expectPinned(e, {"synthesis", 0xa23f59de02a40adcull});
  }
  {
    // A move up and later, over a mask, on one channel of two.
    std::vector<std::int16_t> both(2 * sound.size());
    for (std::size_t i = 0; i < sound.size(); ++i) {
      both[2 * i] = sound[i];
      both[2 * i + 1] = static_cast<std::int16_t>(sound[i] / 2);
    }
    EditCase e(grid(4096, FrequencyScale::Linear), both, 2, 256, 120);
    e.paint(10, 20, 120, 40, [](int b) { return b * 3 / 4; });
    e.moves.push_back(SpectralMove{1, 60, 90, 100, 300, 40, 30});
    e.moves.push_back(SpectralMove{-1, 100, 110, 50, 80, -20, -10});
    expectPinned(e, {"moves", 0x6a2a8abacf2a420cull});
  }
}

}  // namespace
}  // namespace vellomar

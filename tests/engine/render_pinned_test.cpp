// SPDX-License-Identifier: GPL-3.0-or-later
// Renders pinned to the byte: a spread of settings (every source, scale and
// brightness mapping, block lengths 2048 ... 32768, one to sixteen
// sub-blocks, pictures from 1 x 1 to 512 x 512, empty and odd lengths, an
// output ending on a block edge) whose files were hashed when the renderer
// ran on one thread. Every thread count and every cut into runs must give
// the same file and leave the noise generator in the same state.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/render.h"
#include "engine/settings.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

enum class Source { Pink, White, Wave16, Wave8 };

struct PinnedRender {
  Source source;
  FrequencyScale scale;
  std::int32_t n;
  std::int32_t s;
  bool logBrightness;
  std::int32_t rangeDb;
  std::int32_t gainDb;
  std::uint32_t count;
  std::uint32_t width;
  std::uint32_t height;
  int pattern;
  std::int32_t noiseStateAfter;
  std::uint64_t hash;
};

constexpr FrequencyScale kLinear = FrequencyScale::Linear;
constexpr FrequencyScale kLog = FrequencyScale::Logarithmic;
constexpr FrequencyScale kMel = FrequencyScale::Mel;

const PinnedRender kPinned[] = {
    {Source::Pink, kMel, 8192, 4, false, 60, 6, 220500, 64, 48, 0, 1395949573, 0xd84abe7311f07eecull},
    {Source::White, kLinear, 2048, 16, true, 60, 0, 100000, 37, 23, 1, 1150020118, 0xf27bf6d8585065deull},
    {Source::White, kLog, 32768, 1, false, 60, 48, 70000, 5, 300, 0, 283070310, 0xff9fd3f092f6028aull},
    {Source::Pink, kLog, 4096, 8, true, 120, 12, 881, 1, 1, 1, 968078264, 0xb4bee58e9bf5a9eeull},
    {Source::Wave16, kMel, 16384, 2, false, 60, 6, 123457, 2, 7, 0, kInitialRandomSeed, 0xfb5a484c17bfc951ull},
    {Source::Wave8, kLinear, 8192, 16, true, 20, 30, 50000, 300, 1, 1, kInitialRandomSeed, 0x2a6091d8d6136cd2ull},
    {Source::White, kMel, 2048, 1, false, 60, 6, 0, 9, 9, 0, 2095186766, 0x64dc7b6c358566c5ull},
    {Source::Pink, kLinear, 8192, 4, false, 60, 6, 2048, 16, 16, 1, 138303649, 0x7508c12a6ec9b249ull},
    {Source::Wave16, kLog, 2048, 2, true, 60, 6, 10000, 1, 50, 0, kInitialRandomSeed, 0x70296aedc1b2807cull},
    {Source::Pink, kMel, 32768, 16, false, 60, 6, 300000, 512, 512, 2, 1246364171, 0xcdd3e2d37a38ef79ull},
    // 77824 + 4096 is ten blocks: the last hop ends on a block edge.
    {Source::White, kLinear, 8192, 4, false, 60, 6, 77824, 40, 30, 2, 1291573905, 0x63d7a322e6c2858eull},
    {Source::Pink, kMel, 4096, 4, true, 90, 18, 4096 * 37 - 2048 + 1, 123, 77, 1, 1756235884, 0x195e0e68014cfb48ull},
    {Source::Wave8, kMel, 4096, 16, false, 60, 6, 200001, 33, 200, 2, kInitialRandomSeed, 0x591cb0e39778ed0cull},
    {Source::Wave16, kLinear, 32768, 8, false, 60, 24, 250000, 100, 10, 1, kInitialRandomSeed, 0x96dabb0dda6a4436ull},
};

std::uint8_t patternPixel(int pattern, std::uint32_t x, std::uint32_t y, std::uint32_t w) {
  switch (pattern) {
    case 0:
      return static_cast<std::uint8_t>((x * 37 + y * 101 + (x * y) % 29 * 7) % 256);
    case 1:
      return static_cast<std::uint8_t>(255 - (x * 255 / w + y * 13) % 256);
    default:
      return static_cast<std::uint8_t>(127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002));
  }
}

// The input wave of a pinned wave render: speech-like, 16 bits or its top
// 8 bits.
std::vector<std::uint8_t> pinnedWave(std::uint32_t count, bool eightBit) {
  const std::vector<std::int16_t> samples = test::speechLike(count, 9000.0);
  if (!eightBit) return test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100);
  std::vector<std::uint8_t> data;
  for (std::int16_t v : samples) data.push_back(static_cast<std::uint8_t>((v >> 8) + 128));
  return test::waveBytes(data, 1, 8, 44100);
}

struct Cut {
  std::int32_t threads;
  std::int32_t blocksPerRun;  // 0: the render's own choice
};

class RenderPinned : public ::testing::TestWithParam<PinnedRender> {};

TEST_P(RenderPinned, EveryThreadCountWritesThePinnedFile) {
  const PinnedRender& p = GetParam();
  test::TempDir dir;
  test::TestPicture picture(p.width, p.height,
                            [&](std::uint32_t x, std::uint32_t y) { return patternPixel(p.pattern, x, y, p.width); });
  const bool wave = p.source == Source::Wave16 || p.source == Source::Wave8;
  if (wave) test::writeFile(dir.file("in.wav"), pinnedWave(p.count, p.source == Source::Wave8));

  for (const Cut cut : {Cut{1, 0}, Cut{2, 0}, Cut{3, 0}, Cut{8, 0}, Cut{2, 1}, Cut{3, 2}, Cut{8, 3}}) {
    SCOPED_TRACE(std::to_string(cut.threads) + " threads, runs of " + std::to_string(cut.blocksPerRun));
    RenderJob job;
    job.settings.inputSource = p.source == Source::Pink    ? InputSource::PinkNoise
                               : p.source == Source::White ? InputSource::WhiteNoise
                                                           : InputSource::WaveFile;
    job.settings.frequencyScale = p.scale;
    job.settings.blockLength = p.n;
    job.settings.subBlocksPerBlock = p.s;
    job.settings.logBrightness = p.logBrightness;
    job.settings.logRangeDb = p.rangeDb;
    job.settings.masterGainDb = p.gainDb;
    job.picture = picture.data();
    job.sampleCount = p.count;
    job.threads = cut.threads;
    job.blocksPerRun = cut.blocksPerRun;
    // The library's estimated plans: the same on every run of a machine.
    job.plans.planning = FftPlanning::Estimated;
    if (wave) {
      job.input = std::fopen(dir.file("in.wav").c_str(), "rb");
      ASSERT_NE(job.input, nullptr);
      ASSERT_EQ(std::fseek(job.input, 44, SEEK_SET), 0);
      job.input8Bit = p.source == Source::Wave8;
    }
    std::vector<int> progress;
    job.progress = [&progress](int thousandths) { progress.push_back(thousandths); };
    job.output = test::createTestOutput(dir.file("out.wav"), p.count);
    ASSERT_NE(job.output, nullptr);

    ASSERT_EQ(renderSound(job), kResultOk);
    EXPECT_EQ(test::fileHash(dir.file("out.wav")), p.hash);
    EXPECT_EQ(job.noiseState, p.noiseStateAfter);
    // Progress before every block, in order, whoever rendered it.
    const auto blocks = static_cast<std::int64_t>(blockCount(p.count, p.n));
    ASSERT_EQ(static_cast<std::int64_t>(progress.size()), blocks);
    for (std::int64_t b = 0; b < blocks; ++b) ASSERT_EQ(progress[static_cast<std::size_t>(b)], b * 1000 / blocks);
  }
}

INSTANTIATE_TEST_SUITE_P(Spread, RenderPinned, ::testing::ValuesIn(kPinned));

}  // namespace
}  // namespace vellomar

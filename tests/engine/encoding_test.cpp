// SPDX-License-Identifier: GPL-3.0-or-later
// Stored samples: 16-bit as renders have always written them, 24-bit and
// float keeping the engine's precision, each made from the engine's own
// values; clipped samples and the peak, counted on the 16-bit scale, as
// renderSound and the session report them.

#include "engine/encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/block_renderer.h"
#include "engine/channel_gains.h"
#include "engine/render.h"
#include "engine/session.h"
#include "support/session_snapshots.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

std::int32_t stored24(const unsigned char* at) {
  std::uint32_t bits = at[0] | (at[1] << 8) | (static_cast<std::uint32_t>(at[2]) << 16);
  if (bits & 0x800000u) bits |= 0xFF000000u;
  return static_cast<std::int32_t>(bits);
}

float storedFloat(const unsigned char* at) {
  const std::uint32_t bits = at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
  float f = 0.0f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

TEST(Encoding, TwentyFourBitsRoundAndClamp) {
  EXPECT_EQ(toInt24Sample(0.0), 0);
  EXPECT_EQ(toInt24Sample(1.5), 384);
  EXPECT_EQ(toInt24Sample(-1.5), -384);
  // Halves of the 24-bit step round away from zero.
  EXPECT_EQ(toInt24Sample(0.5 / 256.0), 1);
  EXPECT_EQ(toInt24Sample(-0.5 / 256.0), -1);
  EXPECT_EQ(toInt24Sample(0.49 / 256.0), 0);
  EXPECT_EQ(toInt24Sample(32767.9), 8388582);
  EXPECT_EQ(toInt24Sample(-32768.0), -8388608);
  EXPECT_EQ(toInt24Sample(40000.0), 8388607);
  EXPECT_EQ(toInt24Sample(-40000.0), -8388608);
  EXPECT_EQ(toInt24Sample(std::numeric_limits<double>::quiet_NaN()), 8388607);
  EXPECT_EQ(toInt24Sample(-std::numeric_limits<double>::infinity()), -8388608);
}

TEST(Encoding, StoredBytesAndReadingThemBack) {
  const std::vector<double> values = {0.0, 1234.56, -1234.56, 32767.4, -32768.0, 40000.0, -0.6};
  for (SampleEncoding encoding : {SampleEncoding::Int16, SampleEncoding::Int24, SampleEncoding::Float32}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    const int width = bytesPerSample(encoding);
    std::vector<unsigned char> bytes(values.size() * static_cast<std::size_t>(width));
    RenderLevels levels;
    encodeSamples(values.data(), values.size(), encoding, bytes.data(), levels);
    std::vector<float> back(values.size());
    decodeSamples(bytes.data(), values.size(), encoding, back.data());
    for (std::size_t i = 0; i < values.size(); ++i) {
      const unsigned char* at = bytes.data() + i * static_cast<std::size_t>(width);
      switch (encoding) {
        case SampleEncoding::Int16:
          EXPECT_EQ(static_cast<std::int16_t>(at[0] | (at[1] << 8)), toOutputSample(values[i]));
          EXPECT_EQ(back[i], static_cast<float>(toOutputSample(values[i])) / 32768.0f);
          break;
        case SampleEncoding::Int24:
          EXPECT_EQ(stored24(at), toInt24Sample(values[i]));
          EXPECT_EQ(back[i], static_cast<float>(toInt24Sample(values[i])) / 8388608.0f);
          break;
        case SampleEncoding::Float32:
          // Not clamped: 40000 stays above full scale.
          EXPECT_EQ(storedFloat(at), static_cast<float>(values[i] / 32768.0));
          EXPECT_EQ(back[i], storedFloat(at));
          break;
      }
    }
    // 32767.4 and 40000 lie above the 16-bit range.
    EXPECT_EQ(levels.clippedSamples, 2u);
    EXPECT_EQ(levels.peak, 40000.0);
  }
}

TEST(Encoding, ClippedSamplesLieOutsideTheSixteenBitRange) {
  const std::vector<double> values = {32767.0, -32768.0, 32767.01, -32768.01, 0.0, -5.0,
                                      std::numeric_limits<double>::quiet_NaN()};
  std::vector<unsigned char> bytes(values.size() * 2);
  RenderLevels levels;
  encodeSamples(values.data(), values.size(), SampleEncoding::Int16, bytes.data(), levels);
  EXPECT_EQ(levels.clippedSamples, 3u);
  EXPECT_EQ(levels.peak, 32768.01);
  RenderLevels more;
  more.clippedSamples = 2;
  more.peak = 5.0;
  levels.add(more);
  EXPECT_EQ(levels.clippedSamples, 5u);
  EXPECT_EQ(levels.peak, 32768.01);
}

// The engine's values of a whole render, block by block, straight from its
// block renderer.
std::vector<double> engineValues(const RenderJob& job) {
  ChannelGains gains;
  EXPECT_EQ(gains.make(job), kResultOk);
  gains.fillAll(job);
  auto renderer = makeBlockRenderer(job.settings);
  EXPECT_EQ(renderer->prepare(gains.inputs(job)), kResultOk);
  const BlockLayout layout = BlockLayout::of(job);
  std::vector<double> all, block(layout.blockValues());
  for (std::int64_t b = 0; b < layout.blocks; ++b) {
    std::int64_t frames = 0;
    EXPECT_EQ(renderer->renderBlock(b, block.data(), StopFlags{}, frames), kResultOk);
    all.insert(all.end(), block.begin(), block.begin() + frames * layout.channels);
  }
  return all;
}

// Every encoding of a render, on one thread or three, stores exactly the
// engine's values, and reports their clips and peak; a session of the same
// snapshot reports the same.
TEST(Encoding, RendersStoreTheEnginesValuesInEveryEncoding) {
  test::TempDir dir;
  test::SnapshotMaker maker;
  maker.frames = 50000;
  maker.settings.blockLength = 4096;
  maker.settings.stereo = true;
  maker.settings.masterGainDb = 30;  // loud enough to clip
  maker.useSource(test::Source::White, dir.path());
  const test::Planes planes(12, 10, 8);
  const SessionSnapshot snapshot = maker.snapshot(planes);
  RenderJob job;
  job.settings = snapshot.settings;
  job.picture = snapshot.picture;
  job.sampleCount = snapshot.frames;
  job.noiseState = snapshot.noiseState;
  const std::vector<double> values = engineValues(job);
  ASSERT_EQ(values.size(), 2u * maker.frames);
  RenderLevels expected;
  for (double v : values) {
    if (v < -32768.0 || v > 32767.0) ++expected.clippedSamples;
    expected.peak = std::max(expected.peak, std::fabs(v));
  }
  ASSERT_GT(expected.clippedSamples, 0u);

  for (SampleEncoding encoding : {SampleEncoding::Int16, SampleEncoding::Int24, SampleEncoding::Float32}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    maker.encoding = encoding;
    const SessionSnapshot encoded = maker.snapshot(planes);
    for (std::int32_t threads : {1, 3}) {
      RenderLevels levels;
      const std::vector<std::uint8_t> bytes = test::fullRender(encoded, dir.path(), threads, &levels);
      ASSERT_EQ(bytes.size(), values.size() * static_cast<std::size_t>(bytesPerSample(encoding)));
      std::vector<std::uint8_t> want(bytes.size());
      RenderLevels unused;
      encodeSamples(values.data(), values.size(), encoding, want.data(), unused);
      EXPECT_EQ(bytes, want);
      EXPECT_EQ(levels.clippedSamples, expected.clippedSamples);
      EXPECT_EQ(levels.peak, expected.peak);
    }
    SessionOptions options;
    options.workingFolder = dir.path();
    ResultCode result = -1;
    auto session = RenderSession::start(encoded, options, result);
    ASSERT_NE(session, nullptr);
    const RenderOutcome outcome = session->waitUntilIdle();
    EXPECT_EQ(outcome.levels.clippedSamples, expected.clippedSamples);
    EXPECT_EQ(outcome.levels.peak, expected.peak);
  }
  // Sixteen bits: the bytes renders always wrote (toOutputSample), checked
  // above; 24 bits hold what 16 bits round away.
  EXPECT_NE(toInt24Sample(values[1000]) % 256, 0);
}

}  // namespace
}  // namespace vellomar

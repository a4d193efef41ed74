// SPDX-License-Identifier: GPL-3.0-or-later
// Stereo renders: the left channel is the mono render of a grey picture made
// of the picture's red, the right one that of its green, over the same
// source, for every source, for every thread count and cut into runs; the
// noise generator then moves on as after one channel.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/render.h"
#include "engine/settings.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

enum class Source { Pink, White, Wave16, Wave8, Sine };

struct StereoCase {
  Source source;
  FrequencyScale scale;
  std::int32_t n;
  std::int32_t s;
  bool logBrightness;
  float bandLowHz;
  float bandHighHz;
  std::uint32_t count;
  std::uint32_t width;
  std::uint32_t height;
};

const StereoCase kCases[] = {
    {Source::Pink, FrequencyScale::Mel, 2048, 4, false, 0.0f, 0.0f, 60000, 40, 30},
    {Source::White, FrequencyScale::Linear, 4096, 2, true, 2000.0f, 9000.0f, 50001, 17, 9},
    {Source::Wave16, FrequencyScale::Logarithmic, 2048, 8, false, 100.0f, 20000.0f, 40000, 33, 21},
    {Source::Wave8, FrequencyScale::Mel, 8192, 1, false, 0.0f, 0.0f, 30000, 5, 3},
    {Source::Sine, FrequencyScale::Logarithmic, 2048, 4, true, 55.0f, 7040.0f, 60000, 85, 12},
};

// Three different patterns, so that a channel that read the wrong plane
// shows.
std::uint8_t redAt(std::uint32_t x, std::uint32_t y) { return static_cast<std::uint8_t>((x * 37 + y * 11) % 256); }
std::uint8_t greenAt(std::uint32_t x, std::uint32_t y) {
  return static_cast<std::uint8_t>(255 - (x * 5 + y * 23) % 256);
}
std::uint8_t brightnessAt(std::uint32_t x, std::uint32_t y) { return static_cast<std::uint8_t>((x ^ y) * 9 % 256); }

// A colour picture: brightness bytes with red and green planes beside them.
class ColourPicture {
 public:
  ColourPicture(std::uint32_t w, std::uint32_t h)
      : brightness_(w, h, brightnessAt), red_(w, h, redAt), green_(w, h, greenAt) {
    data_ = brightness_.data();
    data_.red = red_.data().pixels;
    data_.green = green_.data().pixels;
  }
  const PictureData& data() const { return data_; }

 private:
  test::TestPicture brightness_;
  test::TestPicture red_;
  test::TestPicture green_;
  PictureData data_;
};

struct Rendered {
  std::vector<std::int16_t> frames;
  std::vector<int> progress;
  std::int32_t noiseStateAfter = 0;
};

class RenderStereoTest : public ::testing::TestWithParam<StereoCase> {
 protected:
  // Renders `picture` with the case's settings (stereo or not) into a file
  // and returns its frames, its progress and the noise state after it.
  Rendered render(const PictureData& picture, bool stereo, std::int32_t threads, std::int32_t blocksPerRun) {
    const StereoCase& c = GetParam();
    RenderJob job;
    job.settings.inputSource = c.source == Source::Pink    ? InputSource::PinkNoise
                               : c.source == Source::White ? InputSource::WhiteNoise
                               : c.source == Source::Sine  ? InputSource::SineTones
                                                           : InputSource::WaveFile;
    job.settings.frequencyScale = c.scale;
    job.settings.blockLength = c.n;
    job.settings.subBlocksPerBlock = c.s;
    job.settings.logBrightness = c.logBrightness;
    job.settings.bandLowHz = c.bandLowHz;
    job.settings.bandHighHz = c.bandHighHz;
    job.settings.stereo = stereo;
    job.picture = picture;
    job.sampleCount = c.count;
    job.threads = threads;
    job.blocksPerRun = blocksPerRun;
    job.noiseState = 123456789;
    Rendered out;
    job.progress = [&out](int thousandths) { out.progress.push_back(thousandths); };
    if (job.settings.inputSource == InputSource::WaveFile) {
      job.input = std::fopen(wavePath().c_str(), "rb");
      EXPECT_NE(job.input, nullptr);
      EXPECT_EQ(std::fseek(job.input, 44, SEEK_SET), 0);
      job.input8Bit = c.source == Source::Wave8;
    }
    job.output = test::createTestOutput(dir.file("out.wav"), c.count, stereo ? 2 : 1);
    EXPECT_EQ(renderSound(job), kResultOk);
    out.frames = test::waveSamples(dir.file("out.wav"));
    out.noiseStateAfter = job.noiseState;
    return out;
  }

  std::string wavePath() {
    const std::string path = dir.file("in.wav");
    if (!test::fileExists(path)) {
      const StereoCase& c = GetParam();
      const std::vector<std::int16_t> samples = test::speechLike(c.count, 9000.0);
      if (c.source == Source::Wave8) {
        std::vector<std::uint8_t> data;
        for (std::int16_t v : samples) data.push_back(static_cast<std::uint8_t>((v >> 8) + 128));
        test::writeFile(path, test::waveBytes(data, 1, 8, 44100));
      } else {
        test::writeFile(path, test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
      }
    }
    return path;
  }

  test::TempDir dir;
};

TEST_P(RenderStereoTest, EachChannelIsTheMonoRenderOfItsColourAsAGreyPicture) {
  const StereoCase& c = GetParam();
  const ColourPicture colour(c.width, c.height);
  const test::TestPicture redAsGrey(c.width, c.height, redAt);
  const test::TestPicture greenAsGrey(c.width, c.height, greenAt);
  const Rendered left = render(redAsGrey.data(), false, 1, 0);
  const Rendered right = render(greenAsGrey.data(), false, 1, 0);
  ASSERT_EQ(left.frames.size(), c.count);
  ASSERT_NE(left.frames, right.frames);

  const auto blocks = static_cast<std::int64_t>(blockCount(c.count, c.n));
  for (const auto& [threads, perRun] :
       {std::pair{1, 0}, std::pair{2, 0}, std::pair{3, 1}, std::pair{8, 0}, std::pair{1, 3}, std::pair{2, 2}}) {
    SCOPED_TRACE(std::to_string(threads) + " threads, runs of " + std::to_string(perRun));
    const Rendered stereo = render(colour.data(), true, threads, perRun);
    ASSERT_EQ(stereo.frames.size(), 2u * c.count);
    EXPECT_EQ(test::channelSamples(stereo.frames, 2, 0), left.frames);
    EXPECT_EQ(test::channelSamples(stereo.frames, 2, 1), right.frames);
    // Both channels drew the same noise: it moves on as for one channel.
    EXPECT_EQ(stereo.noiseStateAfter, left.noiseStateAfter);
    // Progress before every block, in order.
    ASSERT_EQ(static_cast<std::int64_t>(stereo.progress.size()), blocks);
    for (std::int64_t b = 0; b < blocks; ++b)
      ASSERT_EQ(stereo.progress[static_cast<std::size_t>(b)], b * 1000 / blocks);
  }
}

// Without colour planes, or with grey ones, both channels are the mono
// render of the picture.
TEST_P(RenderStereoTest, AGreyPictureGivesTwoEqualChannels) {
  const StereoCase& c = GetParam();
  const test::TestPicture grey(c.width, c.height, brightnessAt);
  const Rendered mono = render(grey.data(), false, 1, 0);
  PictureData planes = grey.data();
  planes.red = planes.green = planes.pixels;
  for (const PictureData& picture : {grey.data(), planes}) {
    const Rendered stereo = render(picture, true, 2, 0);
    EXPECT_EQ(test::channelSamples(stereo.frames, 2, 0), mono.frames);
    EXPECT_EQ(test::channelSamples(stereo.frames, 2, 1), mono.frames);
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, RenderStereoTest, ::testing::ValuesIn(kCases));

// An abort ends a stereo render as it ends a mono one, on one thread or
// several; a failing output ends it with the write failure.
TEST(RenderStereo, AbortAndWriteFailure) {
  test::TempDir dir;
  const test::TestPicture grey(16, 8, [](auto x, auto y) { return (x * 16 + y) % 256; });
  for (std::int32_t threads : {1, 2, 4}) {
    SCOPED_TRACE(threads);
    std::atomic<bool> abort{false};
    RenderJob job;
    job.settings.stereo = true;
    job.picture = grey.data();
    job.sampleCount = 441000;
    job.threads = threads;
    job.abort = &abort;
    int calls = 0;
    job.progress = [&](int) {
      if (++calls == 3) abort = true;
    };
    job.output = test::createTestOutput(dir.file("out.wav"), job.sampleCount, 2);
    EXPECT_EQ(renderSound(job), kResultAborted);
    EXPECT_EQ(job.output, nullptr);
    // Whatever was written is whole frames of both channels.
    EXPECT_EQ((test::readFile(dir.file("out.wav")).size() - 44) % 4, 0u);
    EXPECT_LT(test::readFile(dir.file("out.wav")).size(), 44u + 4u * 441000u);

    // Asked before the render starts: it stops within its first run, of
    // which nothing is written.
    abort = true;
    job.progress = nullptr;
    job.output = test::createTestOutput(dir.file("out.wav"), job.sampleCount, 2);
    EXPECT_EQ(renderSound(job), kResultAborted);
    EXPECT_EQ(test::readFile(dir.file("out.wav")).size(), 44u);

    job.output = std::fopen("/dev/full", "wb");
    job.abort = nullptr;
    job.progress = nullptr;
    EXPECT_EQ(renderSound(job), kResultWriteFailed);
  }
}

// Each channel reads the input wave by itself, at each block's position; a
// stream that can only be read in order cannot feed two channels.
TEST(RenderStereo, AnInputReadOnlyInOrderIsRefused) {
  const test::TestPicture grey(8, 8, [](auto, auto) { return 255; });
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  RenderJob job;
  job.settings.stereo = true;
  job.settings.inputSource = InputSource::WaveFile;
  job.picture = grey.data();
  job.sampleCount = 1000;
  job.input = fdopen(fds[0], "rb");
  job.output = std::fopen("/dev/null", "wb");
  EXPECT_EQ(renderSound(job), kResultInternal);
  EXPECT_EQ(job.input, nullptr);
  close(fds[1]);
}

}  // namespace
}  // namespace vellomar

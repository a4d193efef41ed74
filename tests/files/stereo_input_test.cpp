// SPDX-License-Identifier: GPL-3.0-or-later
// A stereo input renders each channel through the picture, or, with stereo
// on, the left through its red and the right through its green; a sound
// read through the spool renders as the same sound read as it is.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <vector>

#include "engine/render.h"
#include "files/render_setup.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

class StereoInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    left = test::speechLike(30000, 9000.0);
    right = test::speechLike(30000, 4000.0);
    for (std::size_t i = 0; i < right.size(); ++i) right[i] = static_cast<std::int16_t>(-right[(i * 7) % right.size()]);
  }

  // Renders `input` with `stereo` on or off through a picture whose grey is
  // `grey` and whose red and green planes are `red` and `green` (when
  // given); returns the output's 16-bit samples.
  std::vector<std::int16_t> render(const std::string& input, bool stereo, const PictureData& picture,
                                   int threads = 1) {
    RenderSettings settings;
    settings.inputSource = InputSource::WaveFile;
    settings.inputPath = input;
    settings.stereo = stereo;
    settings.outputPath = dir.file("out-" + std::to_string(++count) + ".wav");
    SoundFileOptions options;
    options.input.anyAudio = true;
    PreparedRender prepared;
    Refusal refusal;
    EXPECT_TRUE(prepareRender(settings, picture, kInitialRandomSeed, options, prepared, refusal)) << refusal.text;
    prepared.job.threads = threads;
    EXPECT_EQ(finishRender(prepared, renderSound(prepared.job), refusal), kResultOk) << refusal.text;
    return test::waveSamples(settings.outputPath);
  }

  std::string monoFile(const std::string& name, const std::vector<std::int16_t>& samples) {
    test::writeFile(dir.file(name), test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
    return dir.file(name);
  }

  std::vector<std::int16_t> interleaved() const {
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < left.size(); ++i) {
      frames.push_back(left[i]);
      frames.push_back(right[i]);
    }
    return frames;
  }

  test::TempDir dir;
  std::vector<std::int16_t> left;
  std::vector<std::int16_t> right;
  int count = 0;
  test::TestPicture grey{12, 9, [](auto x, auto y) { return (x * 23 + y * 41) % 256; }};
  test::TestPicture redPlane{12, 9, [](auto x, auto y) { return (x * 50 + y * 13) % 256; }};
  test::TestPicture greenPlane{12, 9, [](auto x, auto y) { return 255 - (x * 19 + y * 29) % 256; }};
};

TEST_F(StereoInputTest, EachChannelIsRenderedAsAMonoInputOfItWouldBe) {
  const std::string stereoFile = dir.file("stereo.wav");
  test::writeFile(stereoFile, test::waveBytes(test::pcm16Bytes(interleaved()), 2, 16, 44100));
  const std::string leftFile = monoFile("left.wav", left);
  const std::string rightFile = monoFile("right.wav", right);

  // Stereo off: both channels through the picture's grey.
  const std::vector<std::int16_t> both = render(stereoFile, false, grey.data());
  ASSERT_EQ(both.size(), 2 * left.size());
  EXPECT_EQ(test::channelSamples(both, 2, 0), render(leftFile, false, grey.data()));
  EXPECT_EQ(test::channelSamples(both, 2, 1), render(rightFile, false, grey.data()));
  // The same with two threads.
  EXPECT_EQ(render(stereoFile, false, grey.data(), 2), both);

  // Stereo on: the left through red, the right through green.
  PictureData colours = grey.data();
  colours.red = redPlane.data().pixels;
  colours.green = greenPlane.data().pixels;
  const std::vector<std::int16_t> coloured = render(stereoFile, true, colours, 2);
  EXPECT_EQ(test::channelSamples(coloured, 2, 0), render(leftFile, false, redPlane.data()));
  EXPECT_EQ(test::channelSamples(coloured, 2, 1), render(rightFile, false, greenPlane.data()));
  // Without stereo a coloured picture counts by its grey alone.
  EXPECT_EQ(render(stereoFile, false, colours), both);
}

// 24-bit and float files of the same values, read through the spool as
// 32-bit floats, render byte for byte as the 16-bit file read as it is.
TEST_F(StereoInputTest, TheSpoolRendersAsTheFileReadAsItIs) {
  const std::string classic = dir.file("classic.wav");
  test::writeFile(classic, test::waveBytes(test::pcm16Bytes(interleaved()), 2, 16, 44100));
  const std::vector<std::int16_t> expected = render(classic, false, grey.data());
  const std::vector<std::int16_t> frames = interleaved();
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                           SF_FORMAT_FLAC | SF_FORMAT_PCM_24}) {
    SCOPED_TRACE(format);
    const std::string path = dir.file((format & SF_FORMAT_FLAC) ? "deep.flac" : "deep.wav");
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> values(frames.begin(), frames.end());
    for (float& v : values) v /= 32768.0f;
    ASSERT_EQ(sf_writef_float(file, values.data(), static_cast<sf_count_t>(left.size())),
              static_cast<sf_count_t>(left.size()));
    sf_close(file);
    EXPECT_EQ(render(path, false, grey.data()), expected);
  }
}

}  // namespace
}  // namespace vellomar

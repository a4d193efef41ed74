// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render with real sound files, formats and pipes, run through the
// shell as a user runs it.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <QImage>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vellomar {
namespace {

class AudioCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    picture = dir.file("stripes.png");
    QImage image(32, 24, QImage::Format_RGB32);
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 32; ++x) image.setPixel(x, y, qRgb((x * 40 + y * 11) % 256, (x * 7) % 256, 0));
    }
    ASSERT_TRUE(image.save(QString::fromStdString(picture)));
  }

  // Runs `command` in the shell with `R` standing for the renderer, in the
  // test's folder; returns its exit code and keeps its stderr in `err`.
  int sh(const std::string& command) {
    const std::string full = "cd '" + dir.path() + "' && R='" + VELLOMAR_RENDER_EXE + "' && (" + command +
                             ") 2> stderr.txt";
    const int status = std::system(("/bin/sh -c \"" + escaped(full) + "\"").c_str());
    const auto bytes = test::readFile(dir.file("stderr.txt"));
    err.assign(bytes.begin(), bytes.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
      if (c == '"' || c == '\\' || c == '$' || c == '`') out += '\\';
      out += c;
    }
    return out;
  }

  static std::vector<float> samplesOf(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << path;
    if (!file) return {};
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
  }

  test::TempDir dir;
  std::string picture;
  std::string err;
};

// The recording people have, rendered to what they need in one command.
TEST_F(AudioCliTest, A48kHzStereo24BitFlacRendersToA96kHz24BitFlac) {
  ASSERT_EQ(sh("sox -q -n -r 48000 -b 24 -c 2 take.flac synth 2 sine 300 sine 500 vol 0.3"), 0);
  ASSERT_EQ(sh("$R -q --input take.flac --format flac24 --rate 96000 stripes.png out.flac"), 0) << err;
  SF_INFO info;
  const std::vector<float> out = samplesOf(dir.file("out.flac"), info);
  EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  EXPECT_EQ(info.samplerate, 96000);
  EXPECT_EQ(info.channels, 2);
  // Two seconds at 44100 Hz, then at 96000 Hz.
  EXPECT_EQ(info.frames, 192000);
  // Each channel went through the picture: both carry sound, and differ.
  double left = 0.0;
  double right = 0.0;
  double apart = 0.0;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    left += out[i] * out[i];
    right += out[i + 1] * out[i + 1];
    apart += (out[i] - out[i + 1]) * (out[i] - out[i + 1]);
  }
  EXPECT_GT(left, 1.0);
  EXPECT_GT(right, 1.0);
  EXPECT_GT(apart, 0.1 * left);
}

// Standard input and output give the same bytes as files do.
TEST_F(AudioCliTest, PipesInAndOutMatchTheRenderToAFile) {
  ASSERT_EQ(sh("$R -q --duration 1 stripes.png file.wav"), 0) << err;
  const auto file = test::readFile(dir.file("file.wav"));
  ASSERT_EQ(sh("$R -q --duration 1 stripes.png - > piped.wav"), 0) << err;
  EXPECT_EQ(test::readFile(dir.file("piped.wav")), file);
  ASSERT_EQ(sh("cat stripes.png | $R -q --duration 1 - picture-piped.wav"), 0) << err;
  EXPECT_EQ(test::readFile(dir.file("picture-piped.wav")), file);
  // Through a pipe that sox reads as it comes.
  ASSERT_EQ(sh("$R -q --duration 1 stripes.png - | sox -t wav - -n stat 2> stat.txt"), 0) << err;
  const auto stat = test::readFile(dir.file("stat.txt"));
  EXPECT_NE(std::string(stat.begin(), stat.end()).find("Samples read:             44100"), std::string::npos);

  // A sound on standard input, in a format read through the spool.
  ASSERT_EQ(sh("sox -q -n -r 48000 -b 16 -c 1 voice.flac synth 1 pinknoise vol 0.3"), 0);
  ASSERT_EQ(sh("$R -q --input voice.flac stripes.png in-file.wav"), 0) << err;
  ASSERT_EQ(sh("cat voice.flac | $R -q --input - stripes.png in-pipe.wav"), 0) << err;
  EXPECT_EQ(test::readFile(dir.file("in-pipe.wav")), test::readFile(dir.file("in-file.wav")));

  // FLAC to a pipe: the same samples as FLAC to a file.
  ASSERT_EQ(sh("$R -q --duration 1 --format flac24 stripes.png file.flac"), 0) << err;
  ASSERT_EQ(sh("$R -q --duration 1 --format flac24 stripes.png - > piped.flac"), 0) << err;
  SF_INFO fileInfo;
  SF_INFO pipedInfo;
  EXPECT_EQ(samplesOf(dir.file("piped.flac"), pipedInfo), samplesOf(dir.file("file.flac"), fileInfo));
  EXPECT_EQ(fileInfo.frames, 44100);

  // And the analysis: a sound in from a pipe, the PNG out to one.
  ASSERT_EQ(sh("$R -q --analyse --size 64x16 in-file.wav file.png"), 0) << err;
  ASSERT_EQ(sh("cat in-file.wav | $R -q --analyse --size 64x16 - - > piped.png"), 0) << err;
  EXPECT_EQ(test::readFile(dir.file("piped.png")), test::readFile(dir.file("file.png")));
}

TEST_F(AudioCliTest, UsageErrorsNameTheOptionAndWhatIsAllowed) {
  struct Case {
    std::string args;
    std::string says;
  };
  const Case cases[] = {
      {"--rate 50000 stripes.png o.wav", "--rate: 50000 not in {44100,48000,88200,96000}"},
      {"--format mp3 stripes.png o.wav", "--format: mp3 not in {wav16,wav24,float,flac,flac16,flac24}"},
      {"stripes.png o.mp3", "the output 'o.mp3' ends in .mp3, which names no format vellomar-render writes"},
      {"--format flac stripes.png o.wav", "--format flac writes a FLAC file, but the output 'o.wav' is named .wav"},
      {"--analyse --rate 48000 x.wav o.png", "--format and --rate apply to rendering only"},
      {"--input - - o.wav", "only one of the first argument and --input can be - (standard input)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(sh("$R " + c.args + " < /dev/null"), 2);
    EXPECT_EQ(err.rfind("vellomar-render: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
  }
  EXPECT_FALSE(test::fileExists(dir.file("o.wav")));
  EXPECT_FALSE(test::fileExists(dir.file("o.mp3")));
}

TEST_F(AudioCliTest, FileMessagesNameTheFileAndTheSystemsReason) {
  EXPECT_EQ(sh("mkdir -p folder.png && $R folder.png o.wav"), 1);
  EXPECT_EQ(err, "vellomar-render: Failed to load picture 'folder.png'\nvellomar-render: Is a directory\n");
  EXPECT_EQ(sh("$R --input none.flac stripes.png o.wav"), 1);
  EXPECT_EQ(err, "vellomar-render: Cannot open input wave file 'none.flac'\nvellomar-render: No such file or "
                 "directory\n");
  EXPECT_EQ(sh("sox -q -n -r 44100 -b 32 -c 6 six.wav synth 0.1 sine 300 && $R --input six.wav stripes.png o.wav"), 1);
  EXPECT_EQ(err, "vellomar-render: Cannot read input sound file 'six.wav'\nvellomar-render: 44100 Hz, 32-bit, 6 "
                 "channels, WAV; Vellomar reads mono and stereo sound\n");
  EXPECT_EQ(sh("sox -q -n -r 48000 -b 24 take.wav synth 0.1 sine 300 && $R --strict-input --input take.wav "
               "stripes.png o.wav"),
            1);
  EXPECT_NE(err.find("vellomar-render: take.wav: 48000 Hz, 24-bit, mono, WAV; the classic reader needs 44100 Hz, 8 "
                     "or 16-bit, mono WAV \xE2\x80\x94 leave out --strict-input\n"),
            std::string::npos)
      << err;
  EXPECT_FALSE(test::fileExists(dir.file("o.wav")));
}

}  // namespace
}  // namespace vellomar

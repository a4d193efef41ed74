// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line renderer, run as a program on files made here: what it
// writes, and what it draws on a terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <string>
#include <vector>

#include "cli/render_cli_support.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::Outcome;
using test::RenderCliTest;
using test::spawnRenderer;

TEST_F(RenderCliTest, HelpAndVersion) {
  const Outcome help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option :
       {"PICTURE", "OUTPUT", "FILE", "HZ", "DB", "SEC", "Examples:", "--format", "--rate", "--strict-input", "--source", "--input", "--scale", "--block-length", "--subblocks",
        "--freq-granularity", "--time-granularity", "--brightness", "--range", "--gain", "--duration", "--threads",
        "--low-hz", "--high-hz", "--stereo", "--quiet", "--analyse", "--size"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const Outcome version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("vellomar-render"), std::string::npos);
}

TEST_F(RenderCliTest, NoiseRenderWritesTheStatedLengthQuietlyWhenNotOnATerminal) {
  const std::string out = dir.file("noise.wav");
  const Outcome o = run({white, out, "--duration", "0.5", "--source", "white", "--scale", "log", "--brightness", "log",
                         "--range", "64", "--gain", "0"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.err, "");
  const auto bytes = test::readFile(out);
  ASSERT_EQ(bytes.size(), 44u + 2 * 22050);
  EXPECT_EQ(test::le32(bytes, 40), 44100u);

  // The shortest duration: 0.02 s, single precision, gives 881 samples.
  ASSERT_EQ(run({white, out, "--duration", "0.02"}).exitCode, 0);
  EXPECT_EQ(test::readFile(out).size(), 44u + 2 * 881);
}

// Every thread count writes the same file.
TEST_F(RenderCliTest, ThreadsChangeNothingButTheSpeed) {
  const std::string picture = dir.file("ramp.png");
  savePicture(picture, 40, 30, [](int x, int y) { return (x * 7 + y * 11) % 256; });
  std::vector<std::vector<std::uint8_t>> outputs;
  for (const char* threads : {"1", "2", "3", "64"}) {
    const std::string out = dir.file(std::string("t") + threads + ".wav");
    const Outcome o = run({picture, out, "--duration", "3", "--threads", threads, "--block-length", "2048"});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    outputs.push_back(test::readFile(out));
  }
  for (std::size_t i = 1; i < outputs.size(); ++i) EXPECT_EQ(outputs[i], outputs[0]) << i;
  const std::string in = writeWave("in.wav", test::speechLike(100000, 9000.0));
  const Outcome one = run({picture, dir.file("w1.wav"), "--input", in, "--threads", "1"});
  const Outcome two = run({picture, dir.file("w2.wav"), "--input", in, "--threads", "2"});
  ASSERT_EQ(one.exitCode, 0) << one.err;
  ASSERT_EQ(two.exitCode, 0) << two.err;
  EXPECT_EQ(test::readFile(dir.file("w1.wav")), test::readFile(dir.file("w2.wav")));
}

// N and S chosen through the granularities give the same sound as the
// same N and S given directly (every run starts the noise afresh).
TEST_F(RenderCliTest, GranularitiesPickBlockLengthAndSubBlocksLikeTheWindowsLists) {
  auto render = [&](const std::string& name, std::vector<std::string> args) {
    const std::string out = dir.file(name);
    args.insert(args.begin(), {white, out, "--duration", "0.3", "-q"});
    const Outcome o = run(args);
    EXPECT_EQ(o.exitCode, 0) << name << ": " << o.err;
    return test::readFile(out);
  };
  const auto direct16 = render("d16.wav", {"--subblocks", "16"});
  EXPECT_EQ(render("t012.wav", {"--time-granularity", "0.012"}), direct16);
  // Too coarse for N = 8192: the block doubles and S drops to 1.
  EXPECT_EQ(render("t37.wav", {"--time-granularity", "0.37"}),
            render("d16k1.wav", {"--block-length", "16384", "--subblocks", "1"}));
  // 22 Hz with 0.37 s: N = 2048 and S = 1; 10.8 Hz alone keeps the time list's 0.046 s.
  const auto d2k1 = render("d2k1.wav", {"--block-length", "2048", "--subblocks", "1"});
  EXPECT_EQ(render("f22t37.wav", {"--freq-granularity", "22", "--time-granularity", "0.37"}), d2k1);
  const auto d4k2 = render("d4k2.wav", {"--block-length", "4096", "--subblocks", "2"});
  EXPECT_EQ(render("f108.wav", {"--freq-granularity", "10.8"}), d4k2);
  EXPECT_NE(d2k1, d4k2);
}

TEST_F(RenderCliTest, WaveThroughAWhitePictureComesOutUnchanged) {
  const auto samples = test::speechLike(30000, 10000.0);
  const std::string in = writeWave("speech.wav", samples);
  const std::string out = dir.file("speech-out.wav");
  const Outcome o = run({white, out, "--input", in, "--scale", "linear"});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  const auto got = test::waveSamples(out);
  ASSERT_EQ(got.size(), samples.size());
  double err = 0.0, energy = 0.0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    err += (got[i] - double(samples[i])) * (got[i] - double(samples[i]));
    energy += double(samples[i]) * samples[i];
  }
  EXPECT_LT(std::sqrt(err / energy), 0.003);

  // A black picture silences it.
  const std::string black = dir.file("black.bmp");
  savePicture(black, 8, 8, [](int, int) { return 0; });
  ASSERT_EQ(run({black, out, "--source", "wave", "--input", in}).exitCode, 0);
  for (std::int16_t v : test::waveSamples(out)) ASSERT_EQ(v, 0);
}

// Runs the renderer with its stderr on a pseudo-terminal; returns what it drew there.
std::string runOnTerminal(const std::vector<std::string>& args) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, ptsname(master), O_RDWR | O_NOCTTY, 0);
  pid_t pid = -1;
  spawnRenderer(args, actions, pid);
  posix_spawn_file_actions_destroy(&actions);
  std::string seen;
  char buffer[4096];
  for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
    seen.append(buffer, static_cast<std::size_t>(got));
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  return seen;
}

TEST_F(RenderCliTest, ProgressBarOnATerminalOnly) {
  const std::string out = dir.file("bar.wav");
  const std::string drawn = runOnTerminal({white, out, "--duration", "2"});
  EXPECT_NE(drawn.find("100%"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find("  0%"), std::string::npos) << drawn;
  EXPECT_EQ(runOnTerminal({white, out, "--duration", "2", "--quiet"}), "");
  EXPECT_EQ(run({white, out, "--duration", "2"}).err, "");
}

// The defaults named as a band give the very bytes of no band at all.
TEST_F(RenderCliTest, TheScalesOwnBandNamedGivesTheDefaultBytes) {
  const std::string picture = dir.file("ramp.png");
  savePicture(picture, 40, 30, [](int x, int y) { return (x * 7 + y * 11) % 256; });
  for (const std::vector<std::string>& band :
       {std::vector<std::string>{"--scale", "mel", "--low-hz", "16", "--high-hz", "22050"},
        std::vector<std::string>{"--scale", "log", "--low-hz", "16"},
        std::vector<std::string>{"--scale", "linear", "--low-hz", "0", "--high-hz", "22050"}}) {
    std::vector<std::string> plain = {picture, dir.file("plain.wav"), "--duration", "1", "--scale", band[1]};
    std::vector<std::string> named = {picture, dir.file("named.wav"), "--duration", "1"};
    named.insert(named.end(), band.begin(), band.end());
    ASSERT_EQ(run(plain).exitCode, 0);
    ASSERT_EQ(run(named).exitCode, 0);
    EXPECT_EQ(test::readFile(dir.file("named.wav")), test::readFile(dir.file("plain.wav"))) << band[1];
  }
}

// --stereo: the left channel is the picture's red rendered as a grey
// picture, the right its green, over the same noise or the same wave.
TEST_F(RenderCliTest, StereoChannelsAreTheRedAndGreenPicturesRenderedAlone) {
  const auto red = [](int x, int y) { return (x * 9 + y * 4) % 256; };
  const auto green = [](int x, int y) { return 255 - (x * 3 + y * 13) % 256; };
  const std::string colour = dir.file("colour.png");
  QImage image(30, 20, QImage::Format_RGB32);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) image.setPixel(x, y, qRgb(red(x, y), green(x, y), (x * y) % 256));
  ASSERT_TRUE(image.save(QString::fromStdString(colour)));
  savePicture(dir.file("red.png"), 30, 20, red);
  savePicture(dir.file("green.png"), 30, 20, green);

  const std::string in = writeWave("in.wav", test::speechLike(30000, 9000.0));
  for (const std::vector<std::string>& source :
       {std::vector<std::string>{"--duration", "0.7", "--source", "white"}, std::vector<std::string>{"--input", in}}) {
    SCOPED_TRACE(source[0]);
    auto render = [&](const std::string& picture, const std::string& name, bool stereo) {
      std::vector<std::string> args = {picture, dir.file(name), "--low-hz", "300", "--high-hz", "12000"};
      args.insert(args.end(), source.begin(), source.end());
      if (stereo) args.push_back("--stereo");
      const Outcome o = run(args);
      EXPECT_EQ(o.exitCode, 0) << o.err;
      return dir.file(name);
    };
    const std::string stereo = render(colour, "stereo.wav", true);
    const auto bytes = test::readFile(stereo);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(test::le16(bytes, 22), 2);
    EXPECT_EQ(test::le32(bytes, 28), 176400u);
    EXPECT_EQ(test::le16(bytes, 32), 4);
    EXPECT_EQ(test::le32(bytes, 40), bytes.size() - 44);
    const auto frames = test::waveSamples(stereo);
    const auto left = test::waveSamples(render(dir.file("red.png"), "red.wav", false));
    const auto right = test::waveSamples(render(dir.file("green.png"), "green.wav", false));
    ASSERT_EQ(frames.size(), 2 * left.size());
    EXPECT_EQ(test::channelSamples(frames, 2, 0), left);
    EXPECT_EQ(test::channelSamples(frames, 2, 1), right);
    EXPECT_NE(left, right);
  }
}

}  // namespace
}  // namespace vellomar

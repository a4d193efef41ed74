// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line renderer's --analyse, run as a program on files made
// here: a wave becomes the picture whose render sounds like it.

#include <gtest/gtest.h>

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

TEST_F(RenderCliTest, AnalyseTurnsARenderBackIntoItsPicture) {
  const std::string picture = dir.file("smooth.png");
  savePicture(picture, 40, 16, [](int x, int y) { return static_cast<int>(130 + 90 * std::sin(x * 0.2) * std::cos(y * 0.3)); });
  const std::string sound = dir.file("smooth.wav");
  const std::vector<std::string> options = {"--source", "white", "--scale", "log", "--gain", "0"};
  std::vector<std::string> render = {picture, sound, "--duration", "12"};
  render.insert(render.end(), options.begin(), options.end());
  ASSERT_EQ(run(render).exitCode, 0);

  const std::string analysed = dir.file("analysed.png");
  std::vector<std::string> analyse = {"--analyse", sound, analysed, "--size", "40x16", "--threads", "2"};
  analyse.insert(analyse.end(), options.begin(), options.end());
  const Outcome o = run(analyse);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.err, "");
  const QImage back(QString::fromStdString(analysed));
  ASSERT_EQ(back.size(), QSize(40, 16));
  EXPECT_EQ(back.format(), QImage::Format_Grayscale8);
  EXPECT_GT(test::pictureCorrelation(back, QImage(QString::fromStdString(picture))), 0.95);

  // The default size: 512 columns, a row per 2048-sample hop of 12 s.
  ASSERT_EQ(run({"--analyse", sound, dir.file("default.png"), "-q"}).exitCode, 0);
  EXPECT_EQ(QImage(QString::fromStdString(dir.file("default.png"))).size(), QSize(512, 258));
  // Coarser time granularity, fewer rows; the picture renders again.
  ASSERT_EQ(run({"--analyse", sound, dir.file("coarse.png"), "--time-granularity", "0.37"}).exitCode, 0);
  EXPECT_EQ(QImage(QString::fromStdString(dir.file("coarse.png"))).size(), QSize(512, 32));
  EXPECT_EQ(run({dir.file("coarse.png"), dir.file("again.wav"), "--duration", "1"}).exitCode, 0);
}

TEST_F(RenderCliTest, AnalyseUsageErrorsExitWith2AndTouchNothing) {
  const std::string in = writeWave("in.wav", test::speechLike(20000, 1000.0));
  const std::string out = dir.file("o.png");
  const std::vector<std::vector<std::string>> cases = {
      {"--analyse", in, out, "--size", "0x5"},
      {"--analyse", in, out, "--size", "5x0"},
      {"--analyse", in, out, "--size", "12"},
      {"--analyse", in, out, "--size", "12x"},
      {"--analyse", in, out, "--size", "x12"},
      {"--analyse", in, out, "--size", "-3x4"},
      {"--analyse", in, out, "--size", "3.5x4"},
      {"--analyse", in, out, "--size", "1000001x1"},
      {"--analyse", in, out, "--size", "100000x100000"},
      {"--analyse", in, out, "--size", "99999999999x2"},
      {"--analyse", in, out, "--input", in},
      {"--analyse", in, out, "--source", "wave"},
      {"--analyse", in, out, "--duration", "3"},
      {"--analyse", in, out, "--gain", "49"},
      {"--analyse", in, in},
      {white, dir.file("o.wav"), "--size", "5x5"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Outcome o = run(args);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_FALSE(o.err.empty());
    EXPECT_FALSE(test::fileExists(out));
    EXPECT_FALSE(test::fileExists(dir.file("o.wav")));
  }
  EXPECT_NE(run({"--analyse", in, out, "--size", "12"}).err.find("WIDTHxHEIGHT"), std::string::npos);
  EXPECT_NE(run({"--analyse", in, out, "--size", "0x5"}).err.find("each side from 1 to 1000000"), std::string::npos);
  EXPECT_EQ(test::waveSamples(in).size(), 20000u);
}

TEST_F(RenderCliTest, AnalyseRefusesAWaveInTheReadersWordsAndKeepsAnEarlierPicture) {
  const std::string out = dir.file("keep.png");
  const std::vector<std::uint8_t> before = {'m', 'i', 'n', 'e'};
  test::writeFile(out, before);
  {
    const Outcome o = run({"--analyse", dir.file("missing.wav"), out});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "vellomar-render: Cannot open input wave file '" + dir.file("missing.wav") +
                         "'\nvellomar-render: No such file or directory\n");
  }
  {
    const std::string stereo = dir.file("stereo.wav");
    test::writeFile(stereo, test::waveBytes(std::vector<std::uint8_t>(600, 0), 3, 16, 44100));
    const Outcome strict = run({"--analyse", stereo, out, "--strict-input"});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(strict.err.substr(0, strict.err.find('\n')),
              "vellomar-render: The input wave is stereo (or it has more channels). This is not supported in this "
              "version of Vellomar.");
    const Outcome o = run({"--analyse", stereo, out});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "vellomar-render: Cannot read input sound file '" + stereo +
                         "'\nvellomar-render: 44100 Hz, 16-bit, 3 channels, WAV; Vellomar reads mono and stereo "
                         "sound\n");
  }
  {
    const Outcome o = run({"--analyse", white, out, "--strict-input"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("The input wave file has unrecognized or wrong format."), std::string::npos) << o.err;
    EXPECT_NE(run({"--analyse", white, out}).err.find("Cannot read input sound file '" + white + "'"),
              std::string::npos);
  }
  {
    auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(50000, 1000.0)), 1, 16, 44100);
    bytes.resize(44 + 60000);
    test::writeFile(dir.file("cut.wav"), bytes);
    const Outcome o = run({"--analyse", dir.file("cut.wav"), out});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err,
              "vellomar-render: Failed to read a part of input wave file. The file may be damaged or incomplete\n");
  }
  EXPECT_EQ(test::readFile(out), before);
  {
    const std::string in = writeWave("in.wav", test::speechLike(20000, 1000.0));
    const std::string where = dir.file("no-such-folder/o.png");
    const Outcome o = run({"--analyse", in, where});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.substr(0, o.err.find('\n')), "vellomar-render: Cannot create picture file '" + where + "'");
    // And the earlier picture is replaced once the analysis succeeds.
    ASSERT_EQ(run({"--analyse", in, out, "--size", "8x4"}).exitCode, 0);
    EXPECT_EQ(QImage(QString::fromStdString(out)).size(), QSize(8, 4));
  }
}

}  // namespace
}  // namespace vellomar

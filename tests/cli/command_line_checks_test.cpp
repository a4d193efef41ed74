// SPDX-License-Identifier: GPL-3.0-or-later
// What vellomar-render refuses on its command line before it touches any
// file: empty names, an output that is a folder, and numbers that are not
// plain decimals.

#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "cli/renderer_process.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

class CommandLineChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    picture = dir.file("white.png");
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(qRgb(255, 255, 255));
    ASSERT_TRUE(image.save(QString::fromStdString(picture)));
    wave = dir.file("in.wav");
    test::writeFile(wave, test::waveBytes(test::pcm16Bytes(test::speechLike(5000, 1000.0)), 1, 16, 44100));
  }

  test::RendererOutcome run(const std::vector<std::string>& args) { return test::runRenderer(dir.path(), args); }

  test::TempDir dir;
  std::string picture;
  std::string wave;
};

TEST_F(CommandLineChecksTest, EmptyNamesAndFoldersAreUsageErrors) {
  const std::string out = dir.file("out.wav");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{picture, out, "--input", ""}, "--input needs a file name; it is empty"},
      {{"", out}, "the picture's name is empty"},
      {{picture, ""}, "the output's name is empty"},
      {{"--analyse", "", dir.file("p.png")}, "the sound's name is empty"},
      {{"--analyse", wave, ""}, "the output's name is empty"},
      {{"--analyse", wave, dir.file("p.png"), "--size", ""}, "--size needs WIDTHxHEIGHT; it is empty"},
      {{picture, dir.path()}, "cannot write the output to '" + dir.path() + "': Is a directory"},
      {{picture, dir.file("new-folder/")}, "cannot write the output to '" + dir.file("new-folder/") +
                                               "': Is a directory"},
      {{"--analyse", wave, dir.path()}, "cannot write the output to '" + dir.path() + "': Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const test::RendererOutcome o = run(c.args);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err, "vellomar-render: " + c.says + "\nvellomar-render: Run with --help for more information.\n");
  }
  EXPECT_FALSE(test::fileExists(out));
  EXPECT_FALSE(test::fileExists(dir.file("p.png")));
}

// C's number syntax is not a duration or a gain: hexadecimal (integers and
// floats alike) and octal are refused or read as the decimals they look
// like.
TEST_F(CommandLineChecksTest, NumbersArePlainDecimals) {
  const std::string out = dir.file("out.wav");
  for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
           {"--duration", "0x10"},
           {"--duration", "0x1p-2"},
           {"--duration", "1e"},
           {"--duration", "1.5s"},
           {"--gain", "0x10"},
           {"--range", "0x3C"},
           {"--low-hz", "0x100"},
           {"--high-hz", "0x1000"},
           {"--threads", "0x2"},
           {"--block-length", "0x2000"},
           {"--subblocks", "0b10"},
           {"--time-granularity", "0x.1p1"},
           {"--freq-granularity", "inf"},
       }) {
    SCOPED_TRACE(option + " " + value);
    const test::RendererOutcome o = run({picture, out, option, value});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("'" + value + "' is not a decimal number"), std::string::npos) << o.err;
    EXPECT_FALSE(test::fileExists(out));
  }

  // Leading zeros are decimal zeros, as everywhere outside C: 010 dB is
  // ten, not eight; signs, points and exponents still read.
  const std::string ten = dir.file("ten.wav");
  const std::string padded = dir.file("padded.wav");
  ASSERT_EQ(run({picture, ten, "--gain", "10", "--duration", "0.05"}).exitCode, 0);
  ASSERT_EQ(run({picture, padded, "--gain", "010", "--duration", "+005e-2"}).exitCode, 0);
  EXPECT_EQ(test::readFile(padded), test::readFile(ten));
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line renderer, run as a program on files made here: the
// usage it refuses, the files it cannot read or write, and the signals that
// stop it, never losing a file of the user's.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/render_cli_support.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::Outcome;
using test::RenderCliTest;

TEST_F(RenderCliTest, UsageErrorsExitWith2AndTouchNothing) {
  const std::string out = dir.file("o.wav");
  const std::string in = writeWave("in.wav", test::speechLike(1000, 1000.0));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {white},
      {white, out, "--bogus"},
      {white, out, "extra"},
      {white, out, "--source", "brown"},
      {white, out, "--scale", "bark"},
      {white, out, "--brightness", "gamma"},
      {white, out, "--block-length", "1000"},
      {white, out, "--block-length", "65536"},
      {white, out, "--block-length", "eight"},
      {white, out, "--subblocks", "3"},
      {white, out, "--subblocks", "32"},
      {white, out, "--freq-granularity", "100"},
      {white, out, "--freq-granularity", "5.4", "--block-length", "8192"},
      {white, out, "--time-granularity", "5"},
      {white, out, "--time-granularity", "0.046", "--subblocks", "4"},
      {white, out, "--range", "14"},
      {white, out, "--range", "125"},
      {white, out, "--gain", "-1"},
      {white, out, "--gain", "49"},
      {white, out, "--duration", "-1"},
      {white, out, "--duration", "0"},
      {white, out, "--duration", "0.019"},
      {white, out, "--duration", "nan"},
      {white, out, "--duration", "2000000"},
      {white, out, "--threads", "0"},
      {white, out, "--threads", "65"},
      {white, out, "--threads", "two"},
      {white, out, "--source", "wave"},
      {white, out, "--input", in, "--source", "white"},
      {white, out, "--input", in, "--duration", "3"},
      {white, out, "--low-hz", "0"},
      {white, out, "--low-hz", "15.9", "--scale", "log"},
      {white, out, "--low-hz", "-1", "--scale", "linear"},
      {white, out, "--high-hz", "22051"},
      {white, out, "--low-hz", "5000", "--high-hz", "5000"},
      {white, out, "--low-hz", "6000", "--high-hz", "5000"},
      {white, out, "--low-hz", "5000", "--high-hz", "5005"},
      {white, out, "--low-hz", "5000", "--high-hz", "5020", "--block-length", "2048"},
      {white, out, "--low-hz", "nan"},
      {white, out, "--high-hz", "inf"},
      {white, out, "--low-hz", "five"},
      {white, out, "--stereo", "yes"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Outcome o = run(args);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_FALSE(o.err.empty());
    EXPECT_FALSE(test::fileExists(out));
  }
}

// A band refused on the command line says which bands the scale and the
// block length allow.
TEST_F(RenderCliTest, ABandRefusalSaysTheAllowedRange) {
  const std::string out = dir.file("o.wav");
  const Outcome mel = run({white, out, "--low-hz", "10"});
  EXPECT_EQ(mel.exitCode, 2);
  EXPECT_EQ(mel.err,
            "vellomar-render: --low-hz and --high-hz must lie within 16 ... 22050 on the mel scale, --low-hz at least "
            "5.39 below --high-hz (one bin at block length 8192)\nvellomar-render: Run with --help for more information.\n");
  const Outcome linear = run({white, out, "--scale", "linear", "--low-hz", "3000", "--high-hz", "3010",
                              "--freq-granularity", "22"});
  EXPECT_EQ(linear.exitCode, 2);
  EXPECT_NE(linear.err.find("must lie within 0 ... 22050 on the linear scale, --low-hz at least 21.54 below "
                            "--high-hz (one bin at block length 2048)"),
            std::string::npos)
      << linear.err;
  EXPECT_FALSE(test::fileExists(out));
  // The ends themselves are allowed.
  EXPECT_EQ(run({white, out, "--scale", "linear", "--low-hz", "0", "--high-hz", "22050", "-q", "--duration", "0.1"})
                .exitCode,
            0);
}

TEST_F(RenderCliTest, FileFailuresExitWith1AndLeaveNoOutput) {
  const std::string out = dir.file("o.wav");
  {
    const Outcome o = run({dir.file("missing.png"), out});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "vellomar-render: Failed to load picture '" + dir.file("missing.png") +
                         "'\nvellomar-render: No such file or directory\n");
  }
  {
    // Whatever the decoder makes of a bad file, the user reads the
    // program's message and its reason alone.
    QImage card(40, 30, QImage::Format_RGB32);
    card.fill(qRgb(10, 200, 30));
    ASSERT_TRUE(card.save(QString::fromStdString(dir.file("whole.png")), "PNG"));
    ASSERT_TRUE(card.save(QString::fromStdString(dir.file("whole.tif")), "TIFF"));
    ASSERT_TRUE(card.save(QString::fromStdString(dir.file("whole.jpg")), "JPEG"));
    for (const std::string kind : {"PNG", "TIFF", "JPEG"}) {
      const std::string name = kind == "PNG" ? "whole.png" : kind == "TIFF" ? "whole.tif" : "whole.jpg";
      auto bytes = test::readFile(dir.file(name));
      bytes.resize(bytes.size() / 2);
      const std::string cut = dir.file("cut-" + name);
      test::writeFile(cut, bytes);
      const Outcome o = run({cut, out});
      EXPECT_EQ(o.exitCode, 1) << name;
      EXPECT_EQ(o.err, "vellomar-render: Failed to load picture '" + cut + "'\nvellomar-render: The " + kind +
                           " picture is damaged or incomplete.\n")
          << name;
    }
    const std::string notPicture = dir.file("text.png");
    test::writeFile(notPicture, {'h', 'e', 'l', 'l', 'o'});
    const std::string tiffHead = dir.file("head.tif");
    test::writeFile(tiffHead, {'I', 'I', '*', 0, 16, 0, 0, 0});
    for (const auto& [bad, reason] : std::vector<std::pair<std::string, std::string>>{
             {notPicture,
              "It is not a picture of a kind read here: only BMP, PNG, JPEG, GIF and TIFF pictures are read."},
             {tiffHead, "The TIFF picture is damaged or incomplete."}}) {
      const Outcome o = run({bad, out});
      EXPECT_EQ(o.exitCode, 1);
      EXPECT_EQ(o.err, "vellomar-render: Failed to load picture '" + bad + "'\nvellomar-render: " + reason + "\n");
    }
  }
  {
    const Outcome o = run({white, out, "--input", dir.file("missing.wav")});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "vellomar-render: Cannot open input wave file '" + dir.file("missing.wav") +
                         "'\nvellomar-render: No such file or directory\n");
  }
  {
    const std::string stereo = dir.file("stereo.wav");
    test::writeFile(stereo, test::waveBytes(std::vector<std::uint8_t>(400, 0), 2, 16, 44100));
    const Outcome o = run({white, out, "--input", stereo, "--strict-input"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("vellomar-render: The input wave is stereo"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("vellomar-render: " + stereo +
                         ": 44100 Hz, 16-bit, stereo, WAV; the classic reader needs 44100 Hz, 8 or 16-bit, mono WAV "
                         "\xE2\x80\x94 leave out --strict-input\n"),
              std::string::npos)
        << o.err;
  }
  {
    const std::string odd = dir.file("odd.wav");
    test::writeFile(odd, {'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'A', 'V', 'E'});
    const Outcome strict = run({white, out, "--input", odd, "--strict-input"});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_NE(strict.err.find("vellomar-render: The input wave file has unrecognized or wrong format."),
              std::string::npos)
        << strict.err;
    const Outcome o = run({white, out, "--input", odd});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("vellomar-render: Cannot read input sound file '" + odd + "'\nvellomar-render: "),
              std::string::npos)
        << o.err;
  }
  {
    const std::string where = dir.file("no-such-folder/o.wav");
    const Outcome o = run({white, where});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "vellomar-render: Cannot create output wave file '" + where +
                         "'\nvellomar-render: No such file or directory\n");
  }
  {
    const Outcome o = run({white, out, "--duration", "1000000"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("44100000000"), std::string::npos) << o.err;
  }
  {
    // The data chunk promises more than the file holds: the render fails
    // and its partial output is removed.
    auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(50000, 1000.0)), 1, 16, 44100);
    bytes.resize(44 + 60000);
    test::writeFile(dir.file("cut.wav"), bytes);
    const Outcome o = run({white, out, "--input", dir.file("cut.wav")});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err,
              "vellomar-render: Failed to read a part of input wave file. The file may be damaged or incomplete\n");
  }
  EXPECT_FALSE(test::fileExists(out));
}

TEST_F(RenderCliTest, AnExistingOutputIsReplacedOnlyBySuccess) {
  const std::string out = dir.file("keep.wav");
  const std::vector<std::uint8_t> before = {'m', 'i', 'n', 'e'};
  test::writeFile(out, before);
  auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(50000, 1000.0)), 1, 16, 44100);
  bytes.resize(44 + 60000);
  test::writeFile(dir.file("cut.wav"), bytes);
  EXPECT_EQ(run({white, out, "--input", dir.file("cut.wav")}).exitCode, 1);
  EXPECT_EQ(run({white, out, "--duration", "1000000"}).exitCode, 1);
  EXPECT_EQ(test::readFile(out), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5);  // nothing left behind

  ASSERT_EQ(run({white, out, "--duration", "0.1"}).exitCode, 0);
  EXPECT_EQ(test::readFile(out).size(), 44u + 2 * 4410);
}

// An output named by a link to a file not yet there is written through the
// link; a failed run removes the file it created, never the user's link.
TEST_F(RenderCliTest, AnOutputLinkToNothingIsWrittenThroughAndKept) {
  namespace fs = std::filesystem;
  fs::create_directory(dir.file("sounds"));
  const std::string link = dir.file("latest.wav");
  fs::create_symlink("sounds/take.wav", link);
  const std::string target = dir.file("sounds/take.wav");
  auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(50000, 1000.0)), 1, 16, 44100);
  bytes.resize(44 + 60000);
  test::writeFile(dir.file("cut.wav"), bytes);

  EXPECT_EQ(run({white, link, "--input", dir.file("cut.wav")}).exitCode, 1);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_FALSE(test::fileExists(target));

  ASSERT_EQ(run({white, link, "--duration", "0.1"}).exitCode, 0);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_EQ(test::readFile(target).size(), 44u + 2 * 4410);

  // A loop of links names no file at all.
  fs::create_symlink("loop-b.wav", dir.file("loop-a.wav"));
  fs::create_symlink("loop-a.wav", dir.file("loop-b.wav"));
  const Outcome loop = run({white, dir.file("loop-a.wav"), "--duration", "0.1"});
  EXPECT_EQ(loop.exitCode, 1);
  EXPECT_EQ(loop.err.substr(0, loop.err.find('\n')),
            "vellomar-render: Cannot create output wave file '" + dir.file("loop-a.wav") + "'");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.file("loop-a.wav"))));
}

TEST_F(RenderCliTest, TheInputIsNeverTheOutput) {
  const std::string in = writeWave("Voice.wav", test::speechLike(5000, 1000.0));
  const auto original = test::readFile(in);
  const std::string link = dir.file("link.wav");
  std::filesystem::create_symlink(in, link);
  const std::string hard = dir.file("hard.wav");
  std::filesystem::create_hard_link(in, hard);
  for (const std::string& out : {in, dir.file("VOICE.WAV"), dir.path() + "/./Voice.wav", link, hard}) {
    SCOPED_TRACE(out);
    const Outcome o = run({white, out, "--input", in});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err.substr(0, o.err.find("Run with")),
              "vellomar-render: Input and output wave cannot be the same file.\nvellomar-render: Please change your "
              "selection.\nvellomar-render: ");
    EXPECT_EQ(test::readFile(in), original);
  }
  // A picture whose name would suit a sound (a PNG named .wav).
  const std::string named = dir.file("picture.wav");
  test::writeFile(named, test::readFile(white));
  const Outcome picture = run({named, named});
  EXPECT_EQ(picture.exitCode, 2);
  EXPECT_NE(picture.err.find("vellomar-render: The output wave cannot be the picture file '" + named + "'.\n"),
            std::string::npos)
      << picture.err;
  EXPECT_EQ(test::readFile(named), test::readFile(white));
  // Named as a picture, it is no output format at all.
  const Outcome png = run({white, white});
  EXPECT_EQ(png.exitCode, 2);
  EXPECT_NE(png.err.find("ends in .png, which names no format"), std::string::npos) << png.err;
}

// Whether the renderer `pid` has the file it writes beside its output in
// `folder` open (an unnamed file, or a hidden one), once it has.
bool waitForOutputBeingWritten(pid_t pid, const std::string& folder) {
  namespace fs = std::filesystem;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fds, ec)) {
      const std::string to = fs::read_symlink(entry.path(), ec).string();
      if (to.rfind(folder + "/", 0) != 0) continue;
      const std::string name = to.substr(folder.size() + 1);
      if (name.rfind(".vellomar-", 0) == 0 || (name[0] == '#' && to.find(" (deleted)") != std::string::npos)) {
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Names in `folder` that a render left behind.
std::vector<std::string> hiddenFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".vellomar-", 0) == 0) names.push_back(name);
  }
  return names;
}

// Ctrl-C, a hung-up terminal, Ctrl-\ and a polite kill all stop a render;
// what it wrote goes, and an earlier file of the output's name stays.
TEST_F(RenderCliTest, SignalsStopTheRenderAndKeepTheEarlierFile) {
  const std::string out = dir.file("long.wav");
  const std::vector<std::uint8_t> before = {'o', 'l', 'd'};
  for (int signal : {SIGINT, SIGHUP, SIGQUIT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const bool earlier = signal != SIGINT;
    if (earlier) test::writeFile(out, before);
    const pid_t pid = start({white, out, "--duration", "3000"});
    ASSERT_TRUE(waitForOutputBeingWritten(pid, dir.path()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, signal);
    const Outcome o = finish(pid);
    // As a shell reports a command the signal ended: 128 + its number.
    EXPECT_EQ(o.exitCode, 128 + signal);
    EXPECT_NE(o.err.find("Interrupted"), std::string::npos) << o.err;
    EXPECT_EQ(hiddenFilesIn(dir.path()), std::vector<std::string>{});
    if (earlier) {
      EXPECT_EQ(test::readFile(out), before);
    } else {
      EXPECT_FALSE(test::fileExists(out));
    }
  }
  // Even a kill that cannot be caught leaves nothing behind (the file being
  // written has no name yet), and never a short wave under the user's name.
  test::writeFile(out, before);
  const pid_t pid = start({white, out, "--duration", "3000"});
  ASSERT_TRUE(waitForOutputBeingWritten(pid, dir.path()));
  kill(pid, SIGKILL);
  finish(pid);
  EXPECT_EQ(test::readFile(out), before);
  EXPECT_EQ(hiddenFilesIn(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace vellomar

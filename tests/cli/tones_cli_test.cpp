// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's sine tones, notes and clipping report, run as a
// program on files made here.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <complex>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace vellomar {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Outcome {
  int exitCode = -1;
  std::string err;
};

class TonesCliTest : public ::testing::Test {
 protected:
  Outcome run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {VELLOMAR_RENDER_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
    const auto err = test::readFile(dir.file("stderr.txt"));
    o.err.assign(err.begin(), err.end());
    return o;
  }

  std::string picture(const std::string& name, int w, int h, const std::function<int(int, int)>& brightness) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(brightness(x, y), brightness(x, y), brightness(x, y)));
    }
    const std::string path = dir.file(name);
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }

  test::TempDir dir;
};

// The windowed complex amplitude of frequency f over samples [from, from + count).
std::complex<double> toneAt(const std::vector<std::int16_t>& x, std::size_t from, std::size_t count, double f) {
  std::complex<double> sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(count - 1));
    const double angle = -2.0 * kPi * f * static_cast<double>(from + i) / 44100.0;
    sum += w * x[from + i] * std::complex<double>(std::cos(angle), std::sin(angle));
  }
  return sum;
}

// A4 on a picture of A1 ... A8 in semitones is column 36.
TEST_F(TonesCliTest, ASineRenderPlaysTheNotesTheAxisShows) {
  const std::string out = dir.file("a4.wav");
  const std::string steady = picture("a4.png", 85, 4, [](int x, int) { return x == 36 ? 255 : 0; });
  const Outcome o = run(
      {"--source", "sine", "--scale", "log", "--low-hz", "55", "--high-hz", "7040", "--duration", "2", steady, out});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  const std::vector<std::int16_t> x = test::waveSamples(out);
  ASSERT_EQ(x.size(), 88200u);
  // The phase it gains over a second against 440 Hz: within 0.05 cent.
  const double offsetHz = std::arg(toneAt(x, 44100, 44100, 440.0) / toneAt(x, 0, 44100, 440.0)) / (2.0 * kPi);
  EXPECT_LT(std::abs(1200.0 * std::log2((440.0 + offsetHz) / 440.0)), 0.05) << offsetHz;

  // A staircase of eight notes, a quarter of a second each: every step is
  // loudest at its own note.
  const int steps[8] = {15, 17, 19, 20, 22, 24, 26, 27};  // C3 D3 E3 F3 G3 A3 B3 C4
  const std::string stairs = picture("staircase.png", 85, 8, [&](int x, int y) { return x == steps[y] ? 255 : 0; });
  ASSERT_EQ(
      run({"--source", "sine", "--scale", "log", "--low-hz", "55", "--high-hz", "7040", "--duration", "2", stairs, out})
          .exitCode,
      0);
  const std::vector<std::int16_t> notes = test::waveSamples(out);
  for (int step = 0; step < 8; ++step) {
    int loudest = -1;
    double best = 0.0;
    for (int column = 0; column < 85; ++column) {
      const double level = std::abs(toneAt(notes, 11025 * step + 2756, 5512, 55.0 * std::pow(2.0, column / 12.0)));
      if (level > best) {
        best = level;
        loudest = column;
      }
    }
    EXPECT_EQ(loudest, steps[step]) << step;
  }
}

// --analyse --source sine reads a sine render's tones back into the
// picture's lines: the middle row of each three-row step, whose neighbours
// hold the same line, comes back whole at its column.
TEST_F(TonesCliTest, AnalysingASineRenderGivesBackItsLines) {
  const auto lineAt = [](int step) { return 30 + 6 * step; };
  const std::string stairs = picture("stairs.png", 85, 18, [&](int x, int y) { return x == lineAt(y / 3) ? 255 : 0; });
  const std::string sound = dir.file("stairs.wav");
  const std::vector<std::string> grid = {"--source", "sine", "--notes", "A1:A8"};
  std::vector<std::string> render = grid;
  render.insert(render.end(), {"--duration", "3", stairs, sound});
  ASSERT_EQ(run(render).exitCode, 0);
  const std::string back = dir.file("back.png");
  std::vector<std::string> analyse = {"--analyse", "--size", "85x18"};
  analyse.insert(analyse.end(), grid.begin(), grid.end());
  analyse.insert(analyse.end(), {sound, back});
  const Outcome o = run(analyse);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  const QImage image(QString::fromStdString(back));
  ASSERT_EQ(image.width(), 85);
  for (int step = 0; step < 6; ++step) {
    const int y = 3 * step + 1;
    int brightest = 0;
    for (int x = 1; x < 85; ++x) {
      if (qGray(image.pixel(x, y)) > qGray(image.pixel(brightest, y))) brightest = x;
    }
    EXPECT_EQ(brightest, lineAt(step)) << step;
    EXPECT_GE(qGray(image.pixel(brightest, y)), 250) << step;
  }
}

TEST_F(TonesCliTest, NotesSetTheBandAndSayWhatWidthPutsColumnsOnThem) {
  const std::string pic = picture("p.png", 85, 6, [](int x, int y) { return (x * 31 + y * 17) % 256; });
  const std::string byHz = dir.file("hz.wav");
  const std::string byNotes = dir.file("notes.wav");
  ASSERT_EQ(
      run({"--source", "sine", "--scale", "log", "--low-hz", "55", "--high-hz", "7040", "--duration", "0.5", pic, byHz})
          .exitCode,
      0);
  const Outcome notes = run({"--source", "sine", "--notes", "A1:A8", "--duration", "0.5", pic, byNotes});
  ASSERT_EQ(notes.exitCode, 0) << notes.err;
  EXPECT_EQ(notes.err, "");
  EXPECT_EQ(test::readFile(byNotes), test::readFile(byHz));

  const Outcome twice = run({"--notes", "A1:A8", "--columns-per-semitone", "2", "--duration", "0.5", pic, byNotes});
  ASSERT_EQ(twice.exitCode, 0) << twice.err;
  EXPECT_NE(twice.err.find("169 columns wide"), std::string::npos) << twice.err;
  const std::string wide = picture("w.png", 169, 2, [](int, int) { return 255; });
  EXPECT_EQ(run({"--notes", "A1:A8", "--columns-per-semitone", "2", "--duration", "0.5", wide, byNotes}).err, "");

  // A4 tuned to 432 Hz: column 36 sounds it.
  const std::string a4 = picture("a4.png", 85, 2, [](int x, int) { return x == 36 ? 255 : 0; });
  ASSERT_EQ(run({"--source", "sine", "--notes", "A1:A8", "--a4", "432", "--duration", "1", a4, byNotes}).exitCode, 0);
  const std::vector<std::int16_t> x = test::waveSamples(byNotes);
  EXPECT_GT(std::abs(toneAt(x, 0, 44100, 432.0)), 100.0 * std::abs(toneAt(x, 0, 44100, 440.0)));
}

TEST_F(TonesCliTest, NotesTheScaleCannotTakeAreRefusedWithTheAllowedRange) {
  const std::string pic = picture("p.png", 10, 2, [](int, int) { return 255; });
  const std::string out = dir.file("o.wav");
  const std::vector<std::vector<std::string>> cases = {
      {"--notes", "H1:A8"},
      {"--notes", "A1"},
      {"--notes", "A1:A1"},
      {"--notes", "A8:A1"},
      {"--notes", "B-1:A8"},
      {"--notes", "A1:F10"},
      {"--notes", "C0:C#0"},
      {"--notes", "A1:A8", "--low-hz", "100"},
      {"--notes", "A1:A8", "--scale", "mel"},
      {"--notes", "A1:A8", "--columns-per-semitone", "0"},
      {"--notes", "A1:A8", "--columns-per-semitone", "101"},
      {"--notes", "A1:A8", "--a4", "379"},
      {"--notes", "A1:A8", "--a4", "nan"},
      {"--a4", "440"},
      {"--columns-per-semitone", "2"},
      {"--source", "noise"},
  };
  for (std::vector<std::string> args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    args.push_back(pic);
    args.push_back(out);
    const Outcome o = run(args);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_FALSE(o.err.empty());
    EXPECT_FALSE(test::fileExists(out));
  }
  const Outcome range = run({"--notes", "A1:A11", pic, out});
  EXPECT_NE(range.err.find("within C0 ... E10 at A4 = 440 Hz"), std::string::npos) << range.err;
}

TEST_F(TonesCliTest, ClippingIsReportedEvenWhenQuietWithTheGainThatAvoidsIt) {
  const std::string white = picture("white.png", 40, 4, [](int, int) { return 255; });
  const std::string out = dir.file("o.wav");
  const Outcome loud = run({"-q", "--gain", "40", "--duration", "0.5", white, out});
  ASSERT_EQ(loud.exitCode, 0) << loud.err;
  const std::string prefix = "Warning: ";
  ASSERT_EQ(loud.err.rfind(prefix, 0), 0u) << loud.err;
  EXPECT_NE(loud.err.find(" samples clipped; a master gain of "), std::string::npos) << loud.err;
  const int gain = std::stoi(loud.err.substr(loud.err.find("master gain of ") + 15));
  EXPECT_GE(gain, 0);
  EXPECT_LT(gain, 40);
  // That gain clips nothing, one more does.
  EXPECT_EQ(run({"--gain", std::to_string(gain), "--duration", "0.5", white, out}).err, "");
  EXPECT_NE(run({"--gain", std::to_string(gain + 1), "--duration", "0.5", white, out}).err, "");
}

}  // namespace
}  // namespace vellomar

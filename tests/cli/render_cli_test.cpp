// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line renderer, run as a program on files made here.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace vellomar {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string err;  // what the program wrote to stderr
  std::string out;  // and to stdout
};

// Starts the renderer with `args` and the given file actions; returns what
// posix_spawn returned.
int spawnRenderer(const std::vector<std::string>& args, const posix_spawn_file_actions_t& actions, pid_t& pid) {
  std::vector<std::string> all = {VELLOMAR_RENDER_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  return posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
}

class RenderCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    white = dir.file("white.png");
    savePicture(white, 24, 12, [](int, int) { return 255; });
  }

  // Starts the renderer with `args`; its output goes to files in the temp dir.
  pid_t start(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(spawnRenderer(args, actions, pid), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  Outcome finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    const auto err = test::readFile(dir.file("stderr.txt"));
    const auto out = test::readFile(dir.file("stdout.txt"));
    o.err.assign(err.begin(), err.end());
    o.out.assign(out.begin(), out.end());
    return o;
  }

  Outcome run(const std::vector<std::string>& args) { return finish(start(args)); }

  template <typename F>
  static void savePicture(const std::string& path, int w, int h, F brightness) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int v = brightness(x, y);
        image.setPixel(x, y, qRgb(v, v, v));
      }
    }
    ASSERT_TRUE(image.save(QString::fromStdString(path)));
  }

  std::string writeWave(const std::string& name, const std::vector<std::int16_t>& samples) {
    const std::string path = dir.file(name);
    test::writeFile(path, test::waveBytes(test::pcm16Bytes(samples), 1, 16, 44100));
    return path;
  }

  test::TempDir dir;
  std::string white;
};

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

// --analyse: a wave becomes the picture whose render sounds like it.


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

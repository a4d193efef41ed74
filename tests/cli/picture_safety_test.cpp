// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line renderer on pictures made to cost memory ("bombs"):
// each is refused with its reason, quickly and within a small memory cap;
// a signal while a picture loads ends the program at once; and the
// decoders' and encoders' own complaints never reach the terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/renderer_process.h"
#include "support/picture_bytes.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The address space the renderer gets for the bombs: far below what any of
// them asks for (the largest, 40000 x 40000 with alpha, 6.4 GB). The
// sanitizers reserve terabytes of address space, so under them there is no
// cap, and the peak memory the run took shows the same.
constexpr unsigned long kCapMb = 1536;

class PictureSafetyTest : public ::testing::Test {
 protected:
  test::RendererLimits capped() const {
    test::RendererLimits limits;
    if (!kSanitized) limits.addressSpaceMb = kCapMb;
    return limits;
  }

  test::TempDir dir;
};

TEST_F(PictureSafetyTest, BombsAreRefusedWithTheirReasonQuicklyWithinAMemoryCap) {
  const std::string kinds = "only BMP, PNG, JPEG, GIF and TIFF pictures are read.";
  struct Bomb {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string reason;  // the start of the reason given
  };
  const std::string tooBig = "The picture is 40000 x 40000 pixels, too big to render here";
  const std::vector<Bomb> bombs = {
      {"rgba.tif", test::tiffBytes(40000, 40000, 4, true, {1, 2, 3, 4}), tooBig},
      {"grey-alpha.tif", test::tiffBytes(40000, 40000, 2, true, {1, 2}), tooBig},
      {"tiled.tif", test::tiffBytes(40000, 40000, 4, true, {1, 2, 3, 4}, 512), tooBig},
      {"rgb.tif", test::tiffBytes(40000, 40000, 3, false, {1, 2, 3}), tooBig},
      {"anim.mng", test::mngBytes(40000, 40000), "It is an MNG animation; " + kinds},
      {"grey.png", test::pngHeader(40000, 40000), tooBig},
      {"screen.gif", test::gifBytes(40000, 40000, {}, {0}), tooBig},
      {"frame.gif", test::gifBytes(40000, 40000, {}, {0}, 16, 16), ""},
      {"wide.bmp", test::bmpHeader(40000, 40000), tooBig},
      {"top-down.bmp", test::bmpHeader(40000, -40000), tooBig},
      {"grey.jpg", test::jpegHeader(40000, 40000), tooBig},
  };
  for (const Bomb& bomb : bombs) {
    SCOPED_TRACE(bomb.name);
    const std::string path = dir.file(bomb.name);
    const std::string output = path + ".wav";
    test::writeFile(path, bomb.bytes);
    const test::RendererOutcome o = test::runRenderer(dir.path(), {path, output, "--duration", "0.1"}, capped());
    if (bomb.reason.empty()) {
      // A frame beyond its small screen: decoded within the screen (or
      // refused as damaged), never at the frame's size.
      EXPECT_TRUE(o.exitCode == 0 || o.exitCode == 1) << o.exitCode << o.err;
    } else {
      EXPECT_EQ(o.exitCode, 1);
      EXPECT_EQ(o.err.rfind("vellomar-render: Failed to load picture '" + path + "'\nvellomar-render: " + bomb.reason, 0),
                0u)
          << o.err;
      // One line of the program's own, one of the reason: nothing else.
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
      EXPECT_FALSE(test::fileExists(output));
    }
    // Startup and the refusal alone: no decoding (the sanitizers slow the
    // startup itself).
    EXPECT_LT(o.cpuSeconds, kSanitized ? 5.0 : 1.0);
    EXPECT_LT(o.peakMb, kSanitized ? 600.0 : 200.0);
  }
}

// The limit follows the memory the program may use: under a cap of the
// address space, a picture that this computer's memory would hold is too
// big, and says so before it is decoded.
TEST_F(PictureSafetyTest, TheSizeLimitFollowsTheAddressSpaceLimit) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers take the address space that a cap would limit";
  const std::string path = dir.file("big.png");
  test::writeFile(path, test::pngHeader(12000, 12000));
  const test::RendererOutcome o = test::runRenderer(dir.path(), {path, dir.file("out.wav")}, capped());
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("The picture is 12000 x 12000 pixels, too big to render here: the memory this program may "
                       "use holds at most"),
            std::string::npos)
      << o.err;
}

// A signal while the picture loads (here: while its bytes are still
// coming down a pipe) ends the program at once, with nothing written.
TEST_F(PictureSafetyTest, ASignalWhileThePictureLoadsEndsTheProgramAtOnce) {
  const std::string output = dir.file("out.wav");
  const std::vector<std::uint8_t> head = test::pngHeader(64, 64);
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const std::string pipe = dir.file("picture-" + std::to_string(signal) + ".png");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Held open for writing here, so that the reader waits for more.
    const int writer = ::open(pipe.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, head.data(), 30), 30);
    test::RendererProcess renderer(dir.path(), {pipe, output, "--duration", "0.1"});
    ASSERT_TRUE(renderer.waitUntilOpen(pipe));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto sent = std::chrono::steady_clock::now();
    ::kill(renderer.pid(), signal);
    const test::RendererOutcome o = renderer.finish(30.0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    ::close(writer);
    EXPECT_EQ(o.exitCode, 128 + signal);
    EXPECT_EQ(o.err, "vellomar-render: Interrupted: no output was written.\n");
    EXPECT_LT(seconds, 10.0);  // at once, not when the writer gives up
    EXPECT_FALSE(test::fileExists(output));
  }
}

// Damaged pictures of every kind, the TIFF one read by Qt's reader (whose
// libtiff prints its complaints by default): the program's message and the
// reason, and nothing of the decoders'.
TEST_F(PictureSafetyTest, DecodersComplaintsNeverReachTheTerminal) {
  QImage card(40, 30, QImage::Format_RGB32);
  card.fill(qRgb(10, 200, 30));
  struct Damaged {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string kind;
  };
  std::vector<Damaged> damaged = {
      {"strips.tif", test::tiffBytes(20, 12, 3, false, {1, 2, 3}), "TIFF"},
      {"alpha.tif", test::tiffBytes(20, 12, 4, true, {1, 2, 3}), "TIFF"},
  };
  for (const auto& [format, kind] : std::vector<std::pair<const char*, std::string>>{
           {"PNG", "PNG"}, {"JPEG", "JPEG"}, {"BMP", "BMP"}}) {
    const std::string whole = dir.file(std::string("whole.") + format);
    ASSERT_TRUE(card.save(QString::fromStdString(whole), format));
    auto bytes = test::readFile(whole);
    bytes.resize(bytes.size() / 2);
    damaged.push_back({std::string("cut.") + format, bytes, kind});
  }
  auto gif = test::gifBytes(30, 20, {qRgb(1, 2, 3)}, std::vector<std::uint8_t>(600, 0));
  gif.resize(gif.size() - 300);
  damaged.push_back({"cut.gif", gif, "GIF"});
  for (const Damaged& d : damaged) {
    SCOPED_TRACE(d.name);
    const std::string path = dir.file(d.name);
    test::writeFile(path, d.bytes);
    const test::RendererOutcome o = test::runRenderer(dir.path(), {path, path + ".wav", "--duration", "0.1"});
    if (o.exitCode == 0) continue;  // a decoder that makes do with what there is
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "vellomar-render: Failed to load picture '" + path + "'\nvellomar-render: The " + d.kind +
                         " picture is damaged or incomplete.\n");
  }
}

// A PNG that cannot be written (a full disk) is told in the program's own
// words with the system's reason; libpng's own complaint never shows.
TEST_F(PictureSafetyTest, AFullDiskWhileWritingAPictureIsToldInOurWords) {
  if (!test::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const std::string wave = dir.file("in.wav");
  test::writeFile(wave, test::waveBytes(test::pcm16Bytes(test::speechLike(20000, 1000.0)), 1, 16, 44100));
  const test::RendererOutcome o =
      test::runRenderer(dir.path(), {"--analyse", wave, "/dev/full", "--size", "300x200"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.err,
            "vellomar-render: Cannot write to picture file '/dev/full'. You may be running out of disk space\n"
            "vellomar-render: No space left on device\n");
}

}  // namespace
}  // namespace vellomar

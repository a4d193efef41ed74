// SPDX-License-Identifier: GPL-3.0-or-later
// What the picture loader refuses before it decodes: kinds of file it does
// not read, and pictures whose declared size no render here could hold,
// whether the picture comes from a file, from memory or from a pipe.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <QString>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "files/picture.h"
#include "support/picture_bytes.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

constexpr std::uint64_t kTestPixelLimit = 10000000;

// The peak memory of this process so far, in MB.
double peakMb() {
  rusage usage = {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

class PictureLimitsTest : public ::testing::Test {
 protected:
  // The same limit on every machine, whatever its memory.
  void SetUp() override { limitPicturePixels(kTestPixelLimit); }
  void TearDown() override { limitPicturePixels(0); }

  // Loads `bytes` from a file; returns the reason it was refused ("loaded"
  // when it was not).
  std::string refusalOf(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir.file(name);
    test::writeFile(path, bytes);
    std::string reason = "unset";
    return loadPicture(path, &reason) ? "loaded" : reason;
  }

  test::TempDir dir;
};

// Only the formats the program names are read, told by their content
// whatever the file's name says; the rest are refused by name, even where
// one of Qt's readers would take them.
TEST_F(PictureLimitsTest, OnlyTheNamedFormatsAreReadToldByContent) {
  QImage card(6, 4, QImage::Format_RGB32);
  card.fill(qRgb(100, 150, 200));
  const std::string misnamed = dir.file("card.jpg");
  ASSERT_TRUE(card.save(QString::fromStdString(misnamed), "PNG"));
  const auto p = loadPicture(misnamed);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels[0], 140);

  const std::string formats = "only BMP, PNG, JPEG, GIF and TIFF pictures are read.";
  const std::string ppm = dir.file("card.ppm");
  const std::string ico = dir.file("card.png");  // an icon, whatever its name
  ASSERT_TRUE(card.save(QString::fromStdString(ppm), "PPM"));
  ASSERT_TRUE(card.save(QString::fromStdString(ico), "ICO"));
  std::string reason;
  EXPECT_FALSE(loadPicture(ppm, &reason));
  EXPECT_EQ(reason, "It is a Netpbm picture (PBM, PGM, PPM or PAM); " + formats);
  EXPECT_FALSE(loadPicture(ico, &reason));
  EXPECT_EQ(reason, "It is an icon (ICO); " + formats);

  EXPECT_EQ(refusalOf("anim.png", test::mngBytes(16, 16)), "It is an MNG animation; " + formats);
  EXPECT_EQ(refusalOf("photo.webp", {'R', 'I', 'F', 'F', 30, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' '}),
            "It is a WebP picture; " + formats);
  EXPECT_EQ(refusalOf("text.png", {'h', 'e', 'l', 'l', 'o'}), "It is not a picture of a kind read here: " + formats);
  EXPECT_EQ(refusalOf("empty.png", {}), "The file is empty.");

  // A picture of a named kind that its decoder cannot read.
  auto png = test::readFile(misnamed);
  png.resize(png.size() - 20);
  EXPECT_EQ(refusalOf("cut.png", png), "The PNG picture is damaged or incomplete.");
  EXPECT_EQ(refusalOf("head.tif", {'I', 'I', '*', 0, 16, 0, 0, 0}), "The TIFF picture is damaged or incomplete.");
}

// Pictures that declare far more pixels than they hold ("bombs", a few
// bytes each) are refused by their declared size before anything is
// decoded, whichever decoder would read them, at no cost in memory.
TEST_F(PictureLimitsTest, DeclaredSizesAreCheckedBeforeAnythingIsDecoded) {
  const double before = peakMb();
  const std::string tooBig =
      "The picture is 40000 x 40000 pixels, too big to render here: the memory this program may use holds at most "
      "10.0 million pixels.";
  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> bombs = {
      {"rgba.tif", test::tiffBytes(40000, 40000, 4, true, {1, 2, 3, 4})},
      {"grey-alpha.tif", test::tiffBytes(40000, 40000, 2, true, {1, 2})},
      {"tiled-rgba.tif", test::tiffBytes(40000, 40000, 4, true, {1, 2, 3, 4}, 256)},
      {"rgb.tif", test::tiffBytes(40000, 40000, 3, false, {1, 2, 3})},
      {"grey.png", test::pngHeader(40000, 40000)},
      {"screen.gif", test::gifBytes(40000, 40000, {}, {0})},
      {"bottom-up.bmp", test::bmpHeader(40000, 40000)},
      {"top-down.bmp", test::bmpHeader(40000, -40000)},
      {"grey.jpg", test::jpegHeader(40000, 40000)},
  };
  for (const auto& [name, bytes] : bombs) {
    EXPECT_LT(bytes.size(), 1000u) << name;
    EXPECT_EQ(refusalOf(name, bytes), tooBig) << name;
    EXPECT_FALSE(loadPictureBytes(bytes.data(), bytes.size())) << name;
  }
  // Within the limit, just: 10 million pixels would be decoded, one more
  // is refused.
  EXPECT_EQ(refusalOf("limit.png", test::pngHeader(10000, 1001)),
            "The picture is 10000 x 1001 pixels, too big to render here: the memory this program may use holds at "
            "most 10.0 million pixels.");
  EXPECT_EQ(refusalOf("limit.png", test::pngHeader(10000, 1000)), "The PNG picture is damaged or incomplete.");
  EXPECT_LT(peakMb() - before, 100.0);
}

// A TIFF piece (a tile or a strip) larger than any picture that can be
// rendered here is refused before libtiff allocates it; a frame larger than
// its GIF's screen is decoded within the screen.
TEST_F(PictureLimitsTest, PiecesAndFramesStayWithinTheLimits) {
  const double before = peakMb();
  EXPECT_EQ(refusalOf("huge-tile.tif", test::tiffBytes(16, 16, 4, true, {1, 2, 3, 4}, 60000)),
            "The TIFF picture is damaged or incomplete.");
  const std::string gif = dir.file("frame.gif");
  test::writeFile(gif, test::gifBytes(30000, 30000, {qRgb(255, 255, 255)}, {0, 0, 0}, 16, 16));
  const auto p = loadPicture(gif);
  if (p) {
    EXPECT_EQ(p->width, 16u);
    EXPECT_EQ(p->height, 16u);
  }
  EXPECT_LT(peakMb() - before, 100.0);

  // Tiles that run over the picture's edges are read as far as it goes.
  std::vector<std::uint8_t> tile(16 * 16 * 4, 0);
  for (std::size_t i = 0; i < tile.size(); i += 4) tile[i] = 255;  // red, transparent
  const std::string tiled = dir.file("tiled.tif");
  test::writeFile(tiled, test::tiffBytes(5, 3, 4, true, tile, 16));
  const auto t = loadPicture(tiled);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->width, 5u);
  EXPECT_EQ(t->pixels[0], 77);
}

// Writes `bytes` to the socket `fd` from a thread, then keeps it open
// until the loader has returned (or for two seconds, so that a loader that
// waits for the end fails the test instead of hanging it).
class Feeder {
 public:
  Feeder(int fd, std::vector<std::uint8_t> bytes, bool closeAtEnd)
      : thread_([this, fd, bytes = std::move(bytes), closeAtEnd] {
          std::size_t sent = 0;
          while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
          }
          if (!closeAtEnd) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!returned_.load() && std::chrono::steady_clock::now() < deadline) {
              std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            waitedOut_ = !returned_.load();
          }
          ::close(fd);
        }) {}
  // Called when the loader has returned; true when it did not wait for
  // the end.
  bool returnedBeforeTheEnd() {
    returned_.store(true);
    thread_.join();
    return !waitedOut_;
  }

 private:
  std::atomic<bool> returned_{false};
  bool waitedOut_ = false;
  std::thread thread_;
};

// A picture can come from memory or from a stream (standard input, a pipe)
// as well as from a file; a stream is refused by its first bytes when they
// show it is no picture read here or one too big, without reading the rest.
TEST_F(PictureLimitsTest, PicturesFromMemoryAndStreams) {
  QImage card(6, 4, QImage::Format_RGB32);
  card.fill(qRgb(255, 0, 0));
  const std::string path = dir.file("card.png");
  ASSERT_TRUE(card.save(QString::fromStdString(path), "PNG"));
  const std::vector<std::uint8_t> png = test::readFile(path);

  const auto fromMemory = loadPictureBytes(png.data(), png.size());
  ASSERT_TRUE(fromMemory);
  EXPECT_EQ(fromMemory->pixels[0], 77);

  auto streamed = [&](std::vector<std::uint8_t> bytes, bool closeAtEnd, std::string& reason, bool& waited) {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    Feeder feeder(ends[1], std::move(bytes), closeAtEnd);
    auto picture = loadPictureStream(ends[0], &reason);
    // Whatever was not read is refused from now on.
    ::shutdown(ends[0], SHUT_RDWR);
    waited = !feeder.returnedBeforeTheEnd();
    ::close(ends[0]);
    return picture;
  };
  std::string reason;
  bool waited = false;
  const auto fromStream = streamed(png, true, reason, waited);
  ASSERT_TRUE(fromStream) << reason;
  EXPECT_EQ(fromStream->width, 6u);
  EXPECT_EQ(fromStream->pixels, fromMemory->pixels);

  std::vector<std::uint8_t> zeros(8192, 0);
  EXPECT_FALSE(streamed(zeros, false, reason, waited));
  EXPECT_FALSE(waited);
  EXPECT_EQ(reason, "It is not a picture of a kind read here: only BMP, PNG, JPEG, GIF and TIFF pictures are read.");
  std::vector<std::uint8_t> bomb = test::pngHeader(40000, 40000);
  bomb.resize(8192, 0);
  EXPECT_FALSE(streamed(bomb, false, reason, waited));
  EXPECT_FALSE(waited);
  EXPECT_NE(reason.find("40000 x 40000 pixels, too big"), std::string::npos) << reason;

  // No more is read than the largest picture a render can hold could take.
  limitPicturePixels(24);
  std::vector<std::uint8_t> endless = png;
  endless.resize(17u << 20, 0);
  EXPECT_FALSE(streamed(endless, true, reason, waited));
  EXPECT_EQ(reason, "It is longer than 16 MB, more than any picture a render can hold here.");
}

// A pipe named by a path is read as a stream, as a shell's process
// substitution gives one ("/dev/fd/63").
TEST_F(PictureLimitsTest, APipeNamedByAPathIsReadToItsEnd) {
  QImage card(3, 2, QImage::Format_RGB32);
  card.fill(qRgb(0, 0, 255));
  const std::string path = dir.file("card.bmp");
  ASSERT_TRUE(card.save(QString::fromStdString(path), "BMP"));
  const std::vector<std::uint8_t> bmp = test::readFile(path);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_LT(bmp.size(), 4096u);  // fits the pipe's buffer
  ASSERT_EQ(::write(ends[1], bmp.data(), bmp.size()), static_cast<ssize_t>(bmp.size()));
  ::close(ends[1]);
  const auto picture = loadPicture("/dev/fd/" + std::to_string(ends[0]));
  ::close(ends[0]);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width, 3u);
  EXPECT_EQ(picture->pixels[0], 28);
}

}  // namespace
}  // namespace vellomar

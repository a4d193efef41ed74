// SPDX-License-Identifier: GPL-3.0-or-later
// The picture loader on real files, made here with Qt's writers. This
// binary has no QGuiApplication: the command-line renderer loads pictures
// without one too.
#include "files/picture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <QColor>
#include <QColorSpace>
#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"
#include "files/picture_preview.h"
#include "support/picture_bytes.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// Five columns, three rows: the colour cases of the brightness rule on the
// top row, then two rows of their own.
QImage colourCard() {
  QImage image(5, 3, QImage::Format_ARGB32);
  const QRgb top[5] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
  const QRgb middle[5] = {qRgb(128, 128, 128), qRgb(100, 150, 200), qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 128),
                          qRgb(10, 20, 30)};
  for (int x = 0; x < 5; ++x) {
    image.setPixel(x, 0, top[x]);
    image.setPixel(x, 1, middle[x]);
    image.setPixel(x, 2, qRgb(40 * x, 40 * x, 40 * x));
  }
  return image;
}

class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(QCoreApplication::instance(), nullptr); }

  static std::uint8_t at(const PictureBitmap& p, std::uint32_t x, std::uint32_t y) {
    return p.pixels[(p.height - 1 - y) * p.stride + x];
  }

  test::TempDir dir;
};

TEST_F(PictureTest, BrightnessWeightsRowOrderAndStride) {
  const std::string path = dir.file("card.png");
  ASSERT_TRUE(colourCard().save(QString::fromStdString(path), "PNG"));
  const auto p = loadPicture(path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 5u);
  EXPECT_EQ(p->stride, 8u);
  EXPECT_EQ(p->height, 3u);
  ASSERT_EQ(p->pixels.size(), 24u);
  // Top row, bottom-up storage: the top-left byte is at offset 16.
  const std::uint8_t top[5] = {255, 0, 77, 150, 28};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(p->pixels[16 + x], top[x]) << x;
  EXPECT_EQ(at(*p, 0, 1), 128);
  EXPECT_EQ(at(*p, 1, 1), 140);                                                // 140.4999971 + 0.5 truncates to 140
  EXPECT_EQ(at(*p, 2, 1), 77);                                                 // transparent red counts as red
  EXPECT_EQ(at(*p, 3, 1), 150);                                                // half-transparent green counts as green
  EXPECT_EQ(at(*p, 4, 1), 18);                                                 // 3.0000001 + 11.7999995 + 3.3 + 0.5
  for (std::uint32_t x = 0; x < 5; ++x) EXPECT_EQ(p->pixels[x], 40 * x) << x;  // bottom row first

  const PictureData data = pictureDataOf(*p);
  EXPECT_EQ(data.pixels, p->pixels.data());
  EXPECT_EQ(data.width, 5u);
  EXPECT_EQ(data.stride, 8u);
  EXPECT_EQ(data.height, 3u);

  // Stereo reads red and green, in the same layout; alpha plays no part.
  ASSERT_EQ(data.red, p->red.data());
  ASSERT_EQ(data.green, p->green.data());
  ASSERT_EQ(p->red.size(), 24u);
  const auto plane = [&](const std::vector<std::uint8_t>& bytes, std::uint32_t x, std::uint32_t y) {
    return bytes[(p->height - 1 - y) * p->stride + x];
  };
  const std::uint8_t topRed[5] = {255, 0, 255, 0, 0};
  const std::uint8_t topGreen[5] = {255, 0, 0, 255, 0};
  for (std::uint32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(plane(p->red, x, 0), topRed[x]) << x;
    EXPECT_EQ(plane(p->green, x, 0), topGreen[x]) << x;
    EXPECT_EQ(plane(p->red, x, 2), 40 * x) << x;  // grey: every plane its level
    EXPECT_EQ(plane(p->green, x, 2), 40 * x) << x;
  }
  EXPECT_EQ(plane(p->red, 1, 1), 100);
  EXPECT_EQ(plane(p->green, 1, 1), 150);
  EXPECT_EQ(plane(p->red, 2, 1), 255);  // transparent red
  EXPECT_EQ(plane(p->green, 3, 1), 255);
  // Blue completes the colour, so that it can be written again as it was.
  ASSERT_EQ(p->blue.size(), 24u);
  const std::uint8_t topBlue[5] = {255, 0, 0, 0, 255};
  for (std::uint32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(plane(p->blue, x, 0), topBlue[x]) << x;
    EXPECT_EQ(plane(p->blue, x, 2), 40 * x) << x;
  }
  EXPECT_EQ(plane(p->blue, 1, 1), 200);
  // A bitmap without planes is grey.
  PictureBitmap grey = *p;
  grey.red.clear();
  grey.green.clear();
  EXPECT_EQ(pictureDataOf(grey).red, nullptr);
  EXPECT_EQ(pictureDataOf(grey).green, nullptr);

  // The render reads the top row first.
  std::vector<float> gains(15);
  buildGainMatrix(data, RenderSettings{}, gains.data());
  EXPECT_EQ(gains[0], 1.0f);
  EXPECT_FLOAT_EQ(gains[2], 77.0f / 255.0f);
  EXPECT_FLOAT_EQ(gains[14], 160.0f / 255.0f);
}

TEST_F(PictureTest, PreviewShowsTheBytesTheRenderReadsTopRowFirst) {
  const std::string path = dir.file("card.bmp");
  ASSERT_TRUE(colourCard().save(QString::fromStdString(path), "BMP"));
  const auto p = loadPicture(path);
  ASSERT_TRUE(p);
  const QImage preview = picturePreview(*p);
  ASSERT_EQ(preview.width(), 5);
  ASSERT_EQ(preview.height(), 3);
  EXPECT_EQ(preview.format(), QImage::Format_Grayscale8);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(preview.constScanLine(y)[x], at(*p, x, y)) << x << "," << y;
  EXPECT_EQ(preview.constScanLine(1)[1], 140);
  EXPECT_EQ(qGray(preview.pixel(2, 0)), 77);
  EXPECT_TRUE(picturePreview(PictureBitmap{}).isNull());
}

TEST_F(PictureTest, EveryOfferedFormatLoads) {
  const QImage card = colourCard().convertToFormat(QImage::Format_RGB32);
  for (const char* format : {"BMP", "TIFF", "PNG"}) {
    const std::string path = dir.file(std::string("card.") + format);
    ASSERT_TRUE(card.save(QString::fromStdString(path), format)) << format;
    const auto p = loadPicture(path);
    ASSERT_TRUE(p) << format;
    EXPECT_EQ(at(*p, 1, 1), 140) << format;
    EXPECT_EQ(at(*p, 4, 0), 28) << format;
    EXPECT_EQ(at(*p, 3, 2), 120) << format;
  }

  // JPEG is lossy: flat colour blocks come back within a step or two.
  QImage flat(16, 16, QImage::Format_RGB32);
  flat.fill(qRgb(100, 150, 200));
  for (int y = 8; y < 16; ++y)
    for (int x = 0; x < 16; ++x) flat.setPixel(x, y, qRgb(20, 20, 20));
  const std::string jpeg = dir.file("flat.jpg");
  ASSERT_TRUE(flat.save(QString::fromStdString(jpeg), "JPEG", 100));
  const auto j = loadPicture(jpeg);
  ASSERT_TRUE(j);
  EXPECT_EQ(j->stride, 16u);
  EXPECT_NEAR(at(*j, 3, 2), 140, 2);
  EXPECT_NEAR(at(*j, 3, 13), 20, 2);

  // GIF: palette colours.
  const std::string gif = dir.file("card.gif");
  test::writeFile(gif, test::gifBytes(3, 2, {qRgb(100, 150, 200), qRgb(255, 0, 0), qRgb(0, 0, 255)}, {0, 1, 2, 2, 2, 0}));
  const auto g = loadPicture(gif);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->width, 3u);
  EXPECT_EQ(g->stride, 4u);
  EXPECT_EQ(g->height, 2u);
  EXPECT_EQ(g->pixels, (std::vector<std::uint8_t>{28, 28, 140, 0, 140, 77, 28, 0}));
}

TEST_F(PictureTest, EmbeddedColourProfileIsIgnored) {
  QImage image(2, 1, QImage::Format_RGB32);
  image.setPixel(0, 0, qRgb(100, 150, 200));
  image.setPixel(1, 0, qRgb(200, 40, 10));
  image.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
  const std::string path = dir.file("profile.png");
  ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
  const auto p = loadPicture(path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels[0], 140);
  EXPECT_EQ(p->pixels[1], 85);  // 60.0000024 + 23.5999990 + 1.0999999
}

TEST_F(PictureTest, NamesOutsideAsciiLoad) {
  const std::string path = dir.file("Klang \xC3\xBC\xE2\x82\xAC.png");
  ASSERT_TRUE(colourCard().save(QString::fromUtf8(path.c_str()), "PNG"));
  ASSERT_TRUE(test::fileExists(path));
  EXPECT_TRUE(loadPicture(path));

  // A name that is not UTF-8 at all is opened by its bytes.
  const std::string latin1 = dir.file("Klang \xFC\xA4.png");
  std::rename(path.c_str(), latin1.c_str());
  ASSERT_TRUE(test::fileExists(latin1));
  const auto p = loadPicture(latin1);
  ASSERT_TRUE(p);
  EXPECT_EQ(at(*p, 1, 1), 140);
}

// Writes a TIFF of 8-bit samples with an alpha sample after the colour
// (`samples` 4: RGBA, 2: grey and alpha), in strips or in tiles of 16 x 16.
void writeTiffWithAlpha(const std::string& path, std::uint32_t w, std::uint32_t h, int samples, bool tiled,
                        std::uint16_t alphaKind, const std::vector<std::uint8_t>& bytes) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, samples == 4 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  std::uint16_t extra[] = {alphaKind};
  TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  const std::size_t rowBytes = static_cast<std::size_t>(w) * samples;
  if (tiled) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
    std::vector<std::uint8_t> tile(16 * 16 * static_cast<std::size_t>(samples), 0);
    for (std::uint32_t y0 = 0; y0 < h; y0 += 16) {
      for (std::uint32_t x0 = 0; x0 < w; x0 += 16) {
        std::fill(tile.begin(), tile.end(), 0);
        for (std::uint32_t y = 0; y < 16 && y0 + y < h; ++y) {
          for (std::uint32_t x = 0; x < 16 && x0 + x < w; ++x) {
            for (int k = 0; k < samples; ++k) {
              tile[(y * 16 + x) * samples + k] = bytes[(y0 + y) * rowBytes + (x0 + x) * samples + k];
            }
          }
        }
        ASSERT_GE(TIFFWriteTile(tiff, tile.data(), x0, y0, 0, 0), 0);
      }
    }
  } else {
    for (std::uint32_t y = 0; y < h; ++y) {
      ASSERT_EQ(TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(bytes.data() + y * rowBytes), y, 0), 1);
    }
  }
  TIFFClose(tiff);
}

// A transparent pixel counts by its colour bytes in a TIFF as in every
// other format, stored in strips or tiles, straight or premultiplied.
TEST_F(PictureTest, TransparentTiffPixelsKeepTheirColour) {
  for (bool tiled : {false, true}) {
    for (std::uint16_t kind : {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNSPECIFIED}) {
      SCOPED_TRACE(std::string(tiled ? "tiles " : "strips ") + std::to_string(kind));
      // 20 x 18, so tiles run over the edges: red, transparent; green, half
      // transparent; then (100, 150, 200) opaque.
      const std::uint32_t w = 20, h = 18;
      std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * h * 4);
      const std::uint8_t colours[3][4] = {{255, 0, 0, 0}, {0, 255, 0, 128}, {100, 150, 200, 255}};
      for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
        std::copy(colours[i % 3], colours[i % 3] + 4, rgba.begin() + static_cast<std::ptrdiff_t>(4 * i));
      }
      const std::string path = dir.file("alpha.tif");
      writeTiffWithAlpha(path, w, h, 4, tiled, kind, rgba);
      const auto p = loadPicture(path);
      ASSERT_TRUE(p);
      ASSERT_EQ(p->width, w);
      ASSERT_EQ(p->height, h);
      for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
          const std::size_t i = static_cast<std::size_t>(y) * w + x;
          ASSERT_EQ(at(*p, x, y), i % 3 == 0 ? 77 : i % 3 == 1 ? 150 : 140) << x << "," << y;
        }
      }
    }
  }
  // Grey with alpha.
  const std::string grey = dir.file("grey.tif");
  writeTiffWithAlpha(grey, 2, 1, 2, false, EXTRASAMPLE_UNASSALPHA, {200, 0, 90, 255});
  const auto g = loadPicture(grey);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->pixels[0], 200);
  EXPECT_EQ(g->pixels[1], 90);
}

// Today's phone photos are larger than Qt decodes by default (128 MB, about
// 33 million pixels of colour): they load. A picture no render could hold
// is refused with the reason.
TEST_F(PictureTest, LargePhotosLoadAndOversizedPicturesSayWhy) {
  QImage photo(6000, 6000, QImage::Format_RGB32);
  ASSERT_FALSE(photo.isNull());
  photo.fill(qRgb(100, 150, 200));
  photo.setPixel(5999, 5999, qRgb(255, 0, 0));
  const std::string path = dir.file("photo.png");
  ASSERT_TRUE(photo.save(QString::fromStdString(path), "PNG", 10));
  photo = QImage();
  std::string reason = "unset";
  const auto p = loadPicture(path, &reason);
  ASSERT_TRUE(p) << reason;
  EXPECT_EQ(p->width, 6000u);
  EXPECT_EQ(at(*p, 0, 0), 140);
  EXPECT_EQ(at(*p, 5999, 5999), 77);

  // A header that claims 200000 x 200000 pixels (40 gigapixels).
  test::writeFile(dir.file("huge.png"), test::pngHeader(200000, 200000));
  EXPECT_FALSE(loadPicture(dir.file("huge.png"), &reason));
  EXPECT_NE(reason.find("200000 x 200000 pixels"), std::string::npos) << reason;
  EXPECT_NE(reason.find("too big"), std::string::npos) << reason;
  const Refusal refusal = pictureRefusal(dir.file("huge.png"), reason);
  EXPECT_EQ(refusal.text, "Failed to load picture '" + dir.file("huge.png") + "'\n" + reason);

  // No file at all: no reason beyond the program's message.
  EXPECT_FALSE(loadPicture(dir.file("missing.png"), &reason));
  EXPECT_EQ(reason, "");
  EXPECT_EQ(pictureRefusal("x.png", "").text, "Failed to load picture 'x.png'");
}

// A named pipe that no one writes holds no picture: the load fails at once
// instead of waiting for a writer, and the previous picture stays.
TEST_F(PictureTest, APipeFailsWithoutWaiting) {
  const std::string good = dir.file("good.png");
  ASSERT_TRUE(colourCard().save(QString::fromStdString(good), "PNG"));
  const auto kept = loadPicture(good);
  ASSERT_TRUE(kept);
  const std::string pipe = dir.file("pipe.png");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // Should the load wait for a writer, one comes after two seconds and
  // hangs up at once, so that the test fails instead of hanging.
  std::mutex mutex;
  std::condition_variable returned;
  bool done = false;
  bool writerNeeded = false;
  std::thread writer([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (returned.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) return;
    writerNeeded = true;
    lock.unlock();
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    if (fd >= 0) ::close(fd);
  });
  const auto loaded = loadPicture(pipe);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  returned.notify_one();
  writer.join();
  EXPECT_FALSE(loaded);
  EXPECT_FALSE(writerNeeded);
}

TEST_F(PictureTest, BadFilesFailAndKeepThePreviousPicture) {
  const std::string good = dir.file("good.png");
  ASSERT_TRUE(colourCard().save(QString::fromStdString(good), "PNG"));
  const auto kept = loadPicture(good);
  ASSERT_TRUE(kept);

  std::vector<std::uint8_t> png = test::readFile(good);
  ASSERT_GT(png.size(), 40u);


  struct Bad {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Bad> bad = {
      {"empty.png", {}},
      {"text.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}},
      {"truncated.png", std::vector<std::uint8_t>(png.begin(), png.begin() + static_cast<long>(png.size() / 2))},
      {"headonly.png", std::vector<std::uint8_t>(png.begin(), png.begin() + 33)},
      {"zerowide.bmp", test::bmpHeader(0, 4)},
      {"zerohigh.bmp", test::bmpHeader(4, 0)},
      {"huge.bmp", test::bmpHeader(200000, 200000)},
      {"hugegif.gif", test::gifBytes(65535, 65535, {}, {0})},
  };
  for (const Bad& b : bad) {
    const std::string path = dir.file(b.name);
    test::writeFile(path, b.bytes);
    EXPECT_FALSE(loadPicture(path)) << b.name;
  }
  EXPECT_FALSE(loadPicture(dir.file("missing.png")));
  EXPECT_FALSE(loadPicture(dir.path()));
  // What was loaded before is untouched.
  EXPECT_EQ(kept->width, 5u);
  EXPECT_EQ(at(*kept, 1, 1), 140);
}

TEST_F(PictureTest, SidesBeyondWhatTheRenderCanPlaceAreRefused) {
  QImage wide(static_cast<int>(kMaxPictureSide) + 5, 1, QImage::Format_Grayscale8);
  ASSERT_FALSE(wide.isNull());
  wide.fill(200);
  const std::string path = dir.file("wide.bmp");
  ASSERT_TRUE(wide.save(QString::fromStdString(path), "BMP"));
  std::string reason;
  EXPECT_FALSE(loadPicture(path, &reason));
  EXPECT_EQ(reason, "The picture is 16777221 x 1 pixels; a side of at most 16777216 pixels can be rendered.");
}

TEST_F(PictureTest, OneRowAndOneColumnPicturesLoad) {
  QImage row(7, 1, QImage::Format_RGB32);
  row.fill(qRgb(255, 0, 0));
  QImage column(1, 6, QImage::Format_RGB32);
  column.fill(qRgb(0, 0, 255));
  const std::string rowPath = dir.file("row.bmp");
  const std::string columnPath = dir.file("column.png");
  ASSERT_TRUE(row.save(QString::fromStdString(rowPath), "BMP"));
  ASSERT_TRUE(column.save(QString::fromStdString(columnPath), "PNG"));
  const auto r = loadPicture(rowPath);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->stride, 8u);
  EXPECT_EQ(r->height, 1u);
  EXPECT_EQ(r->pixels[6], 77);
  const auto c = loadPicture(columnPath);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->stride, 4u);
  EXPECT_EQ(c->pixels.size(), 24u);
  EXPECT_EQ(c->pixels[20], 28);
}

}  // namespace
}  // namespace vellomar

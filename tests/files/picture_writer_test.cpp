// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures written as PNG files and analyses prepared from wave files, on
// real files.
#include "files/picture_writer.h"

#include <gtest/gtest.h>
#include <QImage>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/render.h"
#include "files/analysis_setup.h"
#include "files/render_setup.h"
#include "files/picture.h"
#include "support/file_system_support.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

namespace fs = std::filesystem;

PictureBitmap bitmapOf(std::uint32_t width, std::uint32_t height) {
  PictureBitmap b;
  b.width = width;
  b.height = height;
  b.stride = (width + 3) & ~3u;
  b.pixels.assign(static_cast<std::size_t>(b.stride) * height, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) b.pixels[y * b.stride + x] = static_cast<std::uint8_t>(x * 37 + y * 11);
  }
  return b;
}

// The bytes of a picture without its row padding.
std::vector<std::uint8_t> shown(const PictureBitmap& b) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t y = 0; y < b.height; ++y) {
    out.insert(out.end(), b.pixels.begin() + y * b.stride, b.pixels.begin() + y * b.stride + b.width);
  }
  return out;
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

TEST(PictureWriter, WritesAGreyPngThatLoadsBackByteForByte) {
  test::TempDir dir;
  for (const auto& [w, h] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 1}, {5, 3}, {512, 37}}) {
    const PictureBitmap written = bitmapOf(w, h);
    const std::string path = dir.file("p.png");
    Refusal refusal;
    ASSERT_TRUE(savePicturePng(written, path, refusal)) << refusal.text;
    const auto read = loadPicture(path);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->width, w);
    EXPECT_EQ(read->height, h);
    EXPECT_EQ(shown(*read), shown(written));
    EXPECT_EQ(test::readFile(path)[1], 'P');  // "\x89PNG"
  }
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"p.png"});
}

// A picture whose brightness is made of its red, green and blue (loaded or
// edited) is written as those colours, and loads back as them: the same
// brightness, the same stereo channels. A grey one stays a grey file.
TEST(PictureWriter, AColourPictureIsWrittenAsItsColours) {
  test::TempDir dir;
  PictureBitmap colours = bitmapOf(6, 4);
  colours.red.resize(colours.pixels.size());
  colours.green.resize(colours.pixels.size());
  colours.blue.resize(colours.pixels.size());
  for (std::size_t i = 0; i < colours.pixels.size(); ++i) {
    colours.red[i] = static_cast<std::uint8_t>(i * 37);
    colours.green[i] = static_cast<std::uint8_t>(255 - i * 11);
    colours.blue[i] = static_cast<std::uint8_t>(i * 5);
    colours.pixels[i] = brightnessOf(colours.red[i], colours.green[i], colours.blue[i]);
  }
  Refusal refusal;
  ASSERT_TRUE(savePicturePng(colours, dir.file("c.png"), refusal)) << refusal.text;
  const auto back = loadPicture(dir.file("c.png"));
  ASSERT_NE(back, nullptr);
  for (std::uint32_t y = 0; y < 4; ++y) {
    for (std::uint32_t x = 0; x < 6; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * colours.stride + x;
      EXPECT_EQ(back->pixels[i], colours.pixels[i]);
      EXPECT_EQ(back->red[i], colours.red[i]);
      EXPECT_EQ(back->green[i], colours.green[i]);
      EXPECT_EQ(back->blue[i], colours.blue[i]);
    }
  }
  EXPECT_FALSE(QImage(QString::fromStdString(dir.file("c.png"))).allGray());

  PictureBitmap grey = bitmapOf(6, 4);
  grey.red = grey.green = grey.blue = grey.pixels;
  ASSERT_TRUE(savePicturePng(grey, dir.file("g.png"), refusal)) << refusal.text;
  EXPECT_EQ(QImage(QString::fromStdString(dir.file("g.png"))).format(), QImage::Format_Grayscale8);
}

TEST(PictureWriter, AnEarlierFileIsReplacedOnlyByAWholePicture) {
  test::TempDir dir;
  const std::string path = dir.file("old.png");
  test::writeFile(path, {'o', 'l', 'd'});
  ::chmod(path.c_str(), 0640);
  Refusal refusal;
  ASSERT_TRUE(savePicturePng(bitmapOf(4, 4), path, refusal));
  EXPECT_NE(loadPicture(path), nullptr);
  struct stat st = {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the earlier file's permissions are kept

  // A folder that is not there: refused, nothing made.
  const std::string missing = dir.file("no/such/folder/p.png");
  EXPECT_FALSE(savePicturePng(bitmapOf(4, 4), missing, refusal));
  EXPECT_EQ(refusal.text, "Cannot create picture file '" + missing + "'");
  EXPECT_EQ(refusal.caption, errorCaption());

  // A device that takes nothing: the write fails and says so.
  if (fs::exists("/dev/full")) {
    refusal = Refusal{};
    EXPECT_FALSE(savePicturePng(bitmapOf(64, 64), "/dev/full", refusal));
    EXPECT_EQ(refusal.text,
              "Cannot write to picture file '/dev/full'. You may be running out of disk space\nNo space left on device");
  }
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"old.png"});
}

// A disk that fills up while the picture is written: the program's own
// message with the system's reason, the earlier picture kept, nothing left.
TEST(PictureWriter, AFullDiskKeepsTheEarlierPicture) {
  test::TempDir dir;
  const std::string folder = dir.file("small");
  fs::create_directory(folder);
  const test::TmpfsMount tmpfs(folder, "size=64k");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  const std::string path = folder + "/p.png";
  const std::vector<std::uint8_t> earlier = {'o', 'l', 'd'};
  test::writeFile(path, earlier);
  // Noise does not compress: far more than 64 KB.
  PictureBitmap noise = bitmapOf(600, 600);
  std::uint32_t state = 1;
  for (auto& byte : noise.pixels) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  Refusal refusal;
  EXPECT_FALSE(savePicturePng(noise, path, refusal));
  EXPECT_EQ(refusal.text, "Cannot write to picture file '" + path +
                              "'. You may be running out of disk space\nNo space left on device");
  EXPECT_EQ(test::readFile(path), earlier);
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"p.png"});
}

TEST(PictureWriter, SizesAreThoseTheLoaderReadsBack) {
  const std::uint64_t most = maxLoadablePixels();
  EXPECT_EQ(most, maxPicturePixels());
  EXPECT_GT(most, 512u * 65536u);
  EXPECT_TRUE(pictureSizeLoadable(1, 1));
  EXPECT_FALSE(pictureSizeLoadable(0, 5));
  EXPECT_FALSE(pictureSizeLoadable(5, 0));
  EXPECT_TRUE(pictureSizeLoadable(kMaxPngSide, 1));
  EXPECT_FALSE(pictureSizeLoadable(kMaxPngSide + 1, 1));
  EXPECT_FALSE(pictureSizeLoadable(1, kMaxPngSide + 1));
  const std::uint64_t wide = std::min<std::uint64_t>(kMaxPngSide, most);
  EXPECT_TRUE(pictureSizeLoadable(wide, most / wide));
  EXPECT_FALSE(pictureSizeLoadable(wide, most / wide + 1));

  // The longest side is the decoder's own: written and loaded again at
  // 1000000 pixels, not even written one pixel beyond.
  test::TempDir dir;
  Refusal refusal;
  const auto loads = [&](std::uint32_t w, std::uint32_t h) {
    PictureBitmap b;
    b.width = w;
    b.height = h;
    b.stride = (w + 3) & ~3u;
    b.pixels.assign(static_cast<std::size_t>(b.stride) * h, 9);
    std::error_code ignored;
    fs::remove(dir.file("big.png"), ignored);
    return savePicturePng(b, dir.file("big.png"), refusal) && loadPicture(dir.file("big.png")) != nullptr;
  };
  EXPECT_TRUE(loads(kMaxPngSide, 1));
  EXPECT_TRUE(loads(1, kMaxPngSide));
  EXPECT_FALSE(loads(kMaxPngSide + 1, 1));
}

TEST(AnalysisSetup, PreparesTheWaveAndThePicture) {
  test::TempDir dir;
  const std::string path = dir.file("in.wav");
  test::writeFile(path, test::waveBytes(test::pcm16Bytes(test::speechLike(44100 * 3, 9000.0)), 1, 16, 44100));
  RenderSettings settings;
  Refusal refusal;
  {
    PreparedAnalysis prepared;
    ASSERT_TRUE(prepareAnalysis(path, settings, 0, 0, prepared, refusal)) << refusal.text;
    EXPECT_EQ(prepared.job.width, kDefaultAnalysisWidth);
    EXPECT_EQ(prepared.job.height, 65u);  // 3 s of 2048-sample hops
    EXPECT_EQ(prepared.job.sampleCount, 44100u * 3);
    EXPECT_EQ(prepared.picture->stride, 512u);
    EXPECT_EQ(analyseSound(prepared.job), kResultOk);
    EXPECT_EQ(finishAnalysis(prepared, kResultOk, refusal), kResultOk);
    EXPECT_FALSE(refusal);
    EXPECT_EQ(prepared.job.input, nullptr);
  }
  {
    PreparedAnalysis prepared;
    ASSERT_TRUE(prepareAnalysis(path, settings, 7, 3, prepared, refusal));
    EXPECT_EQ(prepared.picture->stride, 8u);
    EXPECT_EQ(prepared.picture->pixels.size(), 24u);
    EXPECT_EQ(finishAnalysis(prepared, kResultShortRead, refusal), kResultShortRead);
    EXPECT_EQ(refusal.text, "Failed to read a part of input wave file. The file may be damaged or incomplete");
  }

  // A wave the reader refuses is refused in its words.
  // Mono and stereo waves are analysed; more channels are refused.
  const std::string stereo = dir.file("three.wav");
  test::writeFile(stereo, test::waveBytes(std::vector<std::uint8_t>(600, 0), 3, 16, 44100));
  PreparedAnalysis prepared;
  EXPECT_FALSE(prepareAnalysis(stereo, settings, 0, 0, prepared, refusal));
  EXPECT_EQ(refusal.text.substr(0, refusal.text.find('\n')),
            "The input wave is stereo (or it has more channels). This is not supported in this version of Vellomar.");
  EXPECT_EQ(prepared.job.input, nullptr);
  EXPECT_FALSE(prepareAnalysis(dir.file("none.wav"), settings, 0, 0, prepared, refusal));
  EXPECT_EQ(refusal.text, "Cannot open input wave file '" + dir.file("none.wav") + "'\nNo such file or directory");
}

TEST(AnalysisSetup, TheDefaultHeightStaysWithinWhatLoadsBack) {
  RenderSettings settings;
  std::uint32_t width = 0, height = 0;
  defaultAnalysisSize(settings, 44100u * 15, width, height);
  EXPECT_EQ(width, 512u);
  EXPECT_EQ(height, 323u);
  width = 0;
  height = 0;
  defaultAnalysisSize(settings, 4000000000u, width, height);  // 25 hours: a row per hop is too many
  EXPECT_TRUE(pictureSizeLoadable(width, height));
  EXPECT_EQ(height, std::min<std::uint64_t>(kMaxPngSide, maxLoadablePixels() / 512));
  width = 20000;
  height = 0;
  defaultAnalysisSize(settings, 4000000000u, width, height);
  EXPECT_TRUE(pictureSizeLoadable(width, height));
  EXPECT_EQ(height, std::min<std::uint64_t>(kMaxPngSide, maxLoadablePixels() / 20000));
}

// A stereo render analysed: the left channel comes back in red, the right
// in green, written as a colour PNG that loads back with both planes, so
// that it renders back to the same stereo sound.
TEST(PictureWriter, AStereoWaveBecomesAColourPictureThatRendersBack) {
  test::TempDir dir;
  const std::uint32_t width = 32;
  const std::uint32_t height = 10;
  // Red (left) rises across the picture, green (right) falls.
  PictureBitmap colours;
  colours.width = width;
  colours.height = height;
  colours.stride = (width + 3) & ~3u;
  const std::size_t bytes = static_cast<std::size_t>(colours.stride) * height;
  colours.pixels.assign(bytes, 0);
  colours.red.assign(bytes, 0);
  colours.green.assign(bytes, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * colours.stride + x;
      colours.red[i] = static_cast<std::uint8_t>(60 + 5 * x);
      colours.green[i] = static_cast<std::uint8_t>(215 - 5 * x);
      colours.pixels[i] = brightnessOf(colours.red[i], colours.green[i], 0);
    }
  }
  RenderSettings settings;
  settings.inputSource = InputSource::WhiteNoise;
  settings.frequencyScale = FrequencyScale::Linear;
  settings.stereo = true;
  settings.durationSeconds = 12.0f;
  settings.outputPath = dir.file("stereo.wav");
  PreparedRender render;
  Refusal refusal;
  ASSERT_TRUE(prepareRender(settings, pictureDataOf(colours), kInitialRandomSeed, render, refusal)) << refusal.text;
  ASSERT_EQ(finishRender(render, renderSound(render.job), refusal), kResultOk) << refusal.text;

  PreparedAnalysis analysis;
  ASSERT_TRUE(prepareAnalysis(settings.outputPath, settings, width, height, analysis, refusal)) << refusal.text;
  EXPECT_EQ(analysis.wave.channels, 2);
  ASSERT_EQ(analysePrepared(analysis), kResultOk);
  ASSERT_EQ(finishAnalysis(analysis, kResultOk, refusal), kResultOk);
  const PictureBitmap& back = *analysis.picture;
  ASSERT_EQ(back.red.size(), back.pixels.size());
  // Away from the outermost columns each channel comes back to within a few
  // steps, and the brightness is that of the two colours.
  double redError = 0.0, greenError = 0.0;
  int count = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 2; x + 2 < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * back.stride + x;
      redError += std::abs(back.red[i] - colours.red[i]);
      greenError += std::abs(back.green[i] - colours.green[i]);
      ASSERT_EQ(back.pixels[i], brightnessOf(back.red[i], back.green[i], 0));
      ++count;
    }
  }
  EXPECT_LT(redError / count, 8.0);
  EXPECT_LT(greenError / count, 8.0);

  const std::string png = dir.file("stereo.png");
  ASSERT_TRUE(savePicturePng(back, png, refusal)) << refusal.text;
  const auto loaded = loadPicture(png);
  ASSERT_NE(loaded, nullptr);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * back.stride + x;
      ASSERT_EQ(loaded->red[i], back.red[i]);
      ASSERT_EQ(loaded->green[i], back.green[i]);
      ASSERT_EQ(loaded->pixels[i], back.pixels[i]);
    }
  }
}

}  // namespace
}  // namespace vellomar

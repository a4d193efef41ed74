// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a recording as a picture from the command line, with pictures
// painted and rewritten by another program (Pillow, which drops text chunks).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vellomar {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string err;
};

class EditCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    speech = test::speechLike(44100 * 3, 12000);
    recording = dir.file("speech.wav");
    test::writeFile(recording, test::waveBytes(test::pcm16Bytes(speech), 1, 16, 44100));
    picture = dir.file("speech.png");
  }

  Outcome run(const std::string& args) {
    const std::string program = VELLOMAR_RENDER_EXE;
    const std::string command = "'" + program + "' " + args + " 2> '" + dir.file("err.txt") + "'";
    const int status = std::system(command.c_str());
    Outcome o;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto err = test::readFile(dir.file("err.txt"));
    o.err.assign(err.begin(), err.end());
    return o;
  }

  std::string quoted(const std::string& path) { return "'" + path + "'"; }

  void makePicture() {
    const Outcome o = run("-q --analyse --for-editing " + quoted(recording) + " " + quoted(picture));
    ASSERT_EQ(o.exitCode, 0) << o.err;
  }

  // Runs a Pillow script on the picture (in `src`, out to `dst`); false
  // when Debian's Python with Pillow is not there.
  bool pillow(const std::string& script) {
    if (std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) return false;
    const std::string path = dir.file("script.py");
    test::writeFile(path, std::vector<std::uint8_t>(script.begin(), script.end()));
    return std::system(("cd " + quoted(dir.path()) + " && /usr/bin/python3 script.py").c_str()) == 0;
  }

  test::TempDir dir;
  std::vector<std::int16_t> speech;
  std::string recording;
  std::string picture;
};

TEST_F(EditCliTest, UntouchedPictureGivesTheSameFile) {
  makePicture();
  EXPECT_TRUE(test::fileExists(picture + ".vellomar-edit"));
  const std::string out = dir.file("out.wav");
  const Outcome o = run("-q --edit " + quoted(recording) + " " + quoted(picture) + " " + quoted(out));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(test::readFile(out), test::readFile(recording));
}

TEST_F(EditCliTest, WordPaintedOutInAnotherEditorChangesOnlyItsReach) {
  makePicture();
  // Pillow rewrites the PNG without its text chunks; the sidecar is kept.
  // Rows 60 ... 89 (of one per 1024 samples), all columns, painted black.
  if (!pillow("from PIL import Image\n"
              "im = Image.open('speech.png')\n"
              "px = im.load()\n"
              "for y in range(60, 90):\n"
              "    for x in range(im.size[0]):\n"
              "        px[x, y] = 0\n"
              "im.save('painted.png')\n")) {
    GTEST_SKIP() << "Debian's python3-pil is not installed";
  }
  test::writeFile(dir.file("painted.png.vellomar-edit"), test::readFile(picture + ".vellomar-edit"));
  EXPECT_EQ(QImage(QString::fromStdString(dir.file("painted.png"))).text("Vellomar-Edit"), QString());
  const std::string out = dir.file("out.wav");
  const Outcome o = run("-q --edit " + quoted(recording) + " " + quoted(dir.file("painted.png")) + " " + quoted(out));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  const std::vector<std::int16_t> after = test::waveSamples(out);
  ASSERT_EQ(after.size(), speech.size());
  // Row r lies at r * T / (H - 1); the frames that take rows 60 ... 89
  // reach at most N/2 + hop/2 samples beyond them.
  const int height = QImage(QString::fromStdString(picture)).height();
  const double spacing = static_cast<double>(speech.size()) / (height - 1);
  const double reach = 2048 + 512;
  double inside = 0, before = 0;
  for (std::size_t i = 0; i < speech.size(); ++i) {
    const double t = static_cast<double>(i);
    if (t < 59.5 * spacing - reach || t > 89.5 * spacing + reach) {
      ASSERT_EQ(after[i], speech[i]) << "sample " << i;
    } else if (t > 59.5 * spacing + 4096 && t < 89.5 * spacing - 4096) {
      inside += static_cast<double>(after[i]) * after[i];
      before += static_cast<double>(speech[i]) * speech[i];
    }
  }
  EXPECT_LT(10 * std::log10(inside / before), -70.0);
}

TEST_F(EditCliTest, PicturesThatDoNotBelongAreRefusedAndNothingIsWritten) {
  makePicture();
  const std::string out = dir.file("out.wav");
  const auto edit = [&](const std::string& rec, const std::string& pic) {
    return run("-q --edit " + quoted(rec) + " " + quoted(pic) + " " + quoted(out));
  };
  // Another recording of the same length: one sample differs.
  std::vector<std::int16_t> other = speech;
  other[5000] += 1;
  const std::string otherPath = dir.file("other.wav");
  test::writeFile(otherPath, test::waveBytes(test::pcm16Bytes(other), 1, 16, 44100));
  Outcome o = edit(otherPath, picture);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("its samples differ"), std::string::npos) << o.err;
  // Another length.
  other.resize(other.size() - 10);
  test::writeFile(otherPath, test::waveBytes(test::pcm16Bytes(other), 1, 16, 44100));
  o = edit(otherPath, picture);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("samples in 1 channels"), std::string::npos) << o.err;

  // Cropped, with the sidecar beside it.
  QImage image(QString::fromStdString(picture));
  const std::string cropped = dir.file("cropped.png");
  ASSERT_TRUE(image.copy(0, 0, image.width() - 1, image.height()).save(QString::fromStdString(cropped)));
  test::writeFile(cropped + ".vellomar-edit", test::readFile(picture + ".vellomar-edit"));
  o = edit(recording, cropped);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("resized or cropped"), std::string::npos) << o.err;

  // No sidecar and no text chunk: the refusal says both are missing.
  const std::string bare = dir.file("bare.png");
  QImage plain = image.copy();
  plain.setText("Vellomar-Edit", QString());
  ASSERT_TRUE(QImage(plain.convertToFormat(QImage::Format_Grayscale8)).save(QString::fromStdString(bare)));
  o = edit(recording, bare);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("is missing, and the picture carries no record"), std::string::npos) << o.err;

  // A damaged sidecar next to a picture that keeps its text chunk: the
  // chunk serves, and the note says why.
  auto side = test::readFile(picture + ".vellomar-edit");
  side[40] ^= 1;
  test::writeFile(picture + ".vellomar-edit", side);
  o = edit(recording, picture);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_NE(o.err.find("is damaged"), std::string::npos) << o.err;
  EXPECT_EQ(test::readFile(out), test::readFile(recording));

  // Levels shifted as a whole (a gamma change).
  QImage gamma = image.convertToFormat(QImage::Format_Grayscale8);
  for (int y = 0; y < gamma.height(); ++y) {
    uchar* line = gamma.scanLine(y);
    for (int x = 0; x < gamma.width(); ++x) line[x] = static_cast<uchar>(std::lround(255.0 * std::pow(line[x] / 255.0, 0.9)));
  }
  const std::string shifted = dir.file("shifted.png");
  ASSERT_TRUE(gamma.save(QString::fromStdString(shifted)));
  test::writeFile(shifted + ".vellomar-edit", test::readFile(dir.file("speech.png.vellomar-edit")));
  std::remove(out.c_str());
  o = edit(recording, shifted);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("levels were changed as a whole"), std::string::npos) << o.err;
  EXPECT_FALSE(test::fileExists(out));
  o = run("-q --accept-level-change --edit " + quoted(recording) + " " + quoted(shifted) + " " + quoted(out));
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_TRUE(test::fileExists(out));
}

TEST_F(EditCliTest, UsageErrors) {
  EXPECT_EQ(run("--edit " + quoted(recording) + " " + quoted(picture)).exitCode, 2);
  EXPECT_EQ(run("--for-editing " + quoted(recording) + " " + quoted(picture)).exitCode, 2);
  EXPECT_EQ(run("--edit --scale log a b c").exitCode, 2);
  EXPECT_EQ(run("--analyse --for-editing --block-length 3000 " + quoted(recording) + " " + quoted(picture)).exitCode, 2);
  EXPECT_EQ(run("--analyse --for-editing --format float " + quoted(recording) + " " + quoted(picture)).exitCode, 2);
  EXPECT_FALSE(test::fileExists(picture));
  makePicture();
  // A FLAC format for a .wav name, and a name that is no sound format.
  const std::string wav = dir.file("out.wav"), mp3 = dir.file("out.mp3");
  Outcome o = run("-q --edit --format flac24 " + quoted(recording) + " " + quoted(picture) + " " + quoted(wav));
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("named .wav"), std::string::npos) << o.err;
  o = run("-q --edit " + quoted(recording) + " " + quoted(picture) + " " + quoted(mp3));
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find(".wav or .flac"), std::string::npos) << o.err;
  EXPECT_FALSE(test::fileExists(wav) || test::fileExists(mp3));
}

TEST_F(EditCliTest, TheOutputTakesTheRendersFormatsAndTheRecordingAnySoundFile) {
  // The recording as 24-bit FLAC (made with Debian's sox, when there).
  const std::string flac = dir.file("speech.flac");
  if (std::system(("sox " + quoted(recording) + " -b 24 " + quoted(flac) + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "sox is not installed";
  }
  const std::string flacPicture = dir.file("flac.png");
  Outcome o = run("-q --analyse --for-editing " + quoted(flac) + " " + quoted(flacPicture));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  makePicture();
  const std::string floatOut = dir.file("out.wav"), flacOut = dir.file("out.flac");
  o = run("-q --edit --format float " + quoted(flac) + " " + quoted(flacPicture) + " " + quoted(floatOut));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  o = run("-q --edit " + quoted(recording) + " " + quoted(picture) + " " + quoted(flacOut));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  // Both hold the recording: decoded by sox to 16-bit (no dither), the same
  // samples.
  const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
  ASSERT_EQ(std::system(("sox " + quoted(floatOut) + " -D -b 16 " + quoted(a)).c_str()), 0);
  ASSERT_EQ(std::system(("sox " + quoted(flacOut) + " -D -b 16 " + quoted(b)).c_str()), 0);
  EXPECT_EQ(test::waveSamples(a), speech);
  EXPECT_EQ(test::waveSamples(b), speech);
  // The FLAC recording's picture belongs to the WAV file too: the record
  // hashes the samples, not the file.
  o = run("-q --edit " + quoted(recording) + " " + quoted(flacPicture) + " " + quoted(dir.file("c.wav")));
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(test::readFile(dir.file("c.wav")), test::readFile(recording));
}

TEST_F(EditCliTest, ARecordingAt48kHzComesBackAtItsOwnRateUnlessAnotherIsAsked) {
  // Stereo, the channels different.
  std::vector<std::int16_t> frames;
  for (std::size_t i = 0; i < speech.size(); ++i) {
    frames.push_back(speech[i]);
    frames.push_back(speech[speech.size() - 1 - i]);
  }
  const std::string take = dir.file("take48.wav");
  test::writeFile(take, test::waveBytes(test::pcm16Bytes(frames), 2, 16, 48000));
  Outcome o = run("-q --analyse --for-editing " + quoted(take) + " " + quoted(picture));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  const std::vector<std::uint8_t> sidecar = test::readFile(picture + ".vellomar-edit");
  EXPECT_NE(std::string(sidecar.begin(), sidecar.end()).find("sample-rate: 48000"), std::string::npos);
  const std::string same = dir.file("same.wav");
  o = run("-q --edit " + quoted(take) + " " + quoted(picture) + " " + quoted(same));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(test::readFile(same), test::readFile(take));
  // --rate resamples: 44100 frames a second.
  const std::string at44 = dir.file("at44.wav");
  o = run("-q --edit --rate 44100 " + quoted(take) + " " + quoted(picture) + " " + quoted(at44));
  ASSERT_EQ(o.exitCode, 0) << o.err;
  const std::size_t frames44 = (speech.size() * 44100 + 24000) / 48000;
  EXPECT_EQ(test::waveSamples(at44).size(), 2 * frames44);
  // A band the recording's rate cannot hold is refused, and no picture made.
  const std::string other = dir.file("other.png");
  o = run("-q --analyse --for-editing --high-hz 30000 " + quoted(take) + " " + quoted(other));
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("48000 Hz"), std::string::npos) << o.err;
  EXPECT_FALSE(test::fileExists(other));
}

}  // namespace
}  // namespace vellomar

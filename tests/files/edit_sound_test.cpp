// SPDX-License-Identifier: GPL-3.0-or-later
// A recording opened for editing, rendered back into every output format:
// decoded, each output is the recording wherever the edit cannot reach.
#include "files/edit_sound.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "engine/spectral_edit_fixture.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

struct Decoded {
  SF_INFO info{};
  std::vector<double> samples;  // interleaved, full scale 1
};

Decoded decode(const std::string& path) {
  Decoded d;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &d.info);
  if (!file) return d;
  d.samples.resize(static_cast<std::size_t>(d.info.frames * d.info.channels));
  sf_readf_double(file, d.samples.data(), d.info.frames);
  sf_close(file);
  return d;
}

// A copy of the picture with rows [y0, y1) x columns [x0, x1) darkened, in
// the planes an edit reads (red and green of a stereo picture).
PictureBitmap painted(const PictureBitmap& original, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                      std::uint32_t y1) {
  PictureBitmap p = original;
  for (std::vector<std::uint8_t>* plane : {&p.pixels, &p.red, &p.green}) {
    if (plane->empty()) continue;
    for (std::uint32_t y = y0; y < y1; ++y) {
      for (std::uint32_t x = x0; x < x1; ++x) {
        std::uint8_t& v = (*plane)[static_cast<std::size_t>(p.height - 1 - y) * p.stride + x];
        v = static_cast<std::uint8_t>(v / 4);
      }
    }
  }
  return p;
}

class EditSoundTest : public ::testing::Test {
 protected:
  test::TempDir dir;
};

TEST_F(EditSoundTest, EveryFormatGivesTheRecordingBackOutsideTheEdit) {
  // Stereo 16-bit, the channels different.
  const std::vector<std::int16_t> left = test::speechLike(44100 * 2, 14000);
  const std::vector<std::int16_t> right = test::noise(44100 * 2, 2000);
  std::vector<std::int16_t> frames;
  for (std::size_t i = 0; i < left.size(); ++i) {
    frames.push_back(left[i]);
    frames.push_back(right[i]);
  }
  const std::string recording = dir.file("take.wav");
  test::writeFile(recording, test::waveBytes(test::pcm16Bytes(frames), 2, 16, 44100));
  SoundForEditing sound;
  Refusal refusal;
  ASSERT_EQ(openSoundForEditing(recording, RenderSettings{}, 200, 120, EditControl{}, sound, refusal), kResultOk)
      << refusal.text;
  ASSERT_EQ(sound.record.channels, 2);
  const PictureBitmap edit = painted(*sound.original, 40, 50, 120, 70);

  SpectralEditJob job = soundEditJob(sound, edit);
  std::vector<SampleRange> reach;
  ASSERT_EQ(editedSampleRanges(job, reach), kResultOk);
  ASSERT_EQ(reach.size(), 1u);

  const OutputKind kinds[] = {OutputKind::Wav16, OutputKind::Wav24, OutputKind::WavFloat, OutputKind::Flac16,
                              OutputKind::Flac24};
  for (const OutputKind kind : kinds) {
    const std::string out = dir.file(std::string("out-") + outputKindName(kind) + "." + outputExtension(kind));
    ASSERT_EQ(writeSoundEdit(sound, edit, out, OutputFormat{kind, 44100}, EditControl{}, refusal), kResultOk)
        << refusal.text;
    const Decoded d = decode(out);
    ASSERT_EQ(d.info.frames, static_cast<sf_count_t>(left.size())) << outputKindName(kind);
    ASSERT_EQ(d.info.channels, 2);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
      const bool reached = i >= reach[0].first && i < reach[0].end;
      for (std::size_t c = 0; c < 2; ++c) {
        const double want = frames[2 * i + c] / 32768.0;
        const double got = d.samples[2 * i + c];
        if (!reached) {
          ASSERT_EQ(got, want) << outputKindName(kind) << " sample " << i << " channel " << c;
        } else if (got != want) {
          ++changed;
        }
      }
    }
    EXPECT_GT(changed, 2000u) << outputKindName(kind);
  }
}

TEST_F(EditSoundTest, ADecodedRecordingComesBackExactlyInFloatAnd24Bit) {
  // A 24-bit FLAC recording: decoded once, its samples kept exactly.
  const std::string recording = dir.file("take.flac");
  const std::vector<std::int16_t> speech = test::speechLike(60000, 12000);
  {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(recording.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<int> samples(speech.size());
    // Values below the 16-bit step, which only a deeper output keeps.
    for (std::size_t i = 0; i < speech.size(); ++i) samples[i] = (speech[i] * 256 + static_cast<int>(i % 97)) * 256;
    ASSERT_EQ(sf_write_int(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(file);
  }
  SoundForEditing sound;
  Refusal refusal;
  ASSERT_EQ(openSoundForEditing(recording, RenderSettings{}, 0, 0, EditControl{}, sound, refusal), kResultOk)
      << refusal.text;
  EXPECT_TRUE(sound.recording->floatSamples());
  const Decoded original = decode(recording);
  for (const OutputKind kind : {OutputKind::WavFloat, OutputKind::Wav24, OutputKind::Flac24}) {
    const std::string out = dir.file(std::string("same-") + outputKindName(kind) + "." + outputExtension(kind));
    ASSERT_EQ(writeSoundEdit(sound, *sound.original, out, OutputFormat{kind, 44100}, EditControl{}, refusal), kResultOk)
        << refusal.text;
    const Decoded d = decode(out);
    ASSERT_EQ(d.samples.size(), original.samples.size());
    for (std::size_t i = 0; i < d.samples.size(); ++i) {
      ASSERT_EQ(d.samples[i], original.samples[i]) << outputKindName(kind) << " sample " << i;
    }
  }
}

TEST_F(EditSoundTest, AnAbortedOrRefusedSaveLeavesTheEarlierFile) {
  const std::string recording = dir.file("take.wav");
  test::writeFile(recording, test::waveBytes(test::pcm16Bytes(test::speechLike(44100, 9000)), 1, 16, 44100));
  SoundForEditing sound;
  Refusal refusal;
  ASSERT_EQ(openSoundForEditing(recording, RenderSettings{}, 100, 50, EditControl{}, sound, refusal), kResultOk);
  const std::string out = dir.file("out.wav");
  const std::vector<std::uint8_t> earlier = {'k', 'e', 'e', 'p'};
  test::writeFile(out, earlier);
  std::atomic<bool> abort{true};
  EXPECT_EQ(writeSoundEdit(sound, *sound.original, out, OutputFormat{}, EditControl{&abort, nullptr, 1}, refusal),
            kResultAborted);
  EXPECT_EQ(test::readFile(out), earlier);
  // A picture of another size is refused before anything is written.
  PictureBitmap other = *sound.original;
  other.height -= 1;
  EXPECT_NE(writeSoundEdit(sound, other, out, OutputFormat{}, EditControl{}, refusal), kResultOk);
  EXPECT_NE(refusal.text.find("100 x 49"), std::string::npos) << refusal.text;
  EXPECT_EQ(test::readFile(out), earlier);
  // An aborted analysis says so.
  SoundForEditing none;
  EXPECT_EQ(openSoundForEditing(recording, RenderSettings{}, 100, 50, EditControl{&abort, nullptr, 1}, none, refusal),
            kResultAborted);
}

}  // namespace
}  // namespace vellomar

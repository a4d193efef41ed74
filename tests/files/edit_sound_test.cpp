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
#include "files/edit_setup.h"
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

// A 24-bit FLAC file at `rate` whose samples need all 24 bits.
std::string deepFlac(const test::TempDir& dir, const char* name, std::uint32_t rate, std::size_t frames) {
  const std::string path = dir.file(name);
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = 1;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return path;
  const std::vector<std::int16_t> speech = test::speechLike(frames, 12000);
  std::vector<int> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) samples[i] = (speech[i] * 256 + static_cast<int>(i % 89)) * 256;
  sf_write_int(file, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(file);
  return path;
}

TEST_F(EditSoundTest, RecordingsAreEditedAndSavedAtTheirOwnRate) {
  // A 16-bit WAV at 48 kHz is read where it lies; a 24-bit FLAC at 96 kHz
  // and 8-bit WAV at 8 kHz are decoded without being resampled.
  const std::string wav48 = dir.file("take48.wav");
  const std::vector<std::int16_t> speech = test::speechLike(48000 * 2, 12000);
  test::writeFile(wav48, test::waveBytes(test::pcm16Bytes(speech), 1, 16, 48000));
  const std::string flac96 = deepFlac(dir, "take96.flac", 96000, 96000 * 2);
  const std::string wav8 = dir.file("take8.wav");
  std::vector<std::uint8_t> bytes(16000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(128 + 60 * std::sin(i * 0.3));
  test::writeFile(wav8, test::waveBytes(bytes, 1, 8, 8000));
  struct Case {
    std::string path;
    std::uint32_t rate;
    std::int32_t blockLength;  // the default frame length at that rate
    OutputKind kind;           // an output that holds the samples exactly
  };
  for (const Case& c : {Case{wav48, 48000, 4096, OutputKind::Wav16}, Case{flac96, 96000, 8192, OutputKind::Flac24},
                        Case{wav8, 8000, 1024, OutputKind::Wav16}}) {
    RenderSettings grid;
    grid.blockLength = 0;
    SoundForEditing sound;
    Refusal refusal;
    ASSERT_EQ(openSoundForEditing(c.path, grid, 0, 0, EditControl{}, sound, refusal), kResultOk) << refusal.text;
    EXPECT_EQ(sound.record.sampleRate, c.rate) << c.path;
    EXPECT_EQ(sound.record.blockLength, c.blockLength) << c.path;
    // One row per hop of the recording's own samples.
    const std::uint64_t hop = static_cast<std::uint64_t>(c.blockLength / 4);
    EXPECT_EQ(sound.original->height, (sound.record.sampleCount + hop / 2) / hop) << c.path;
    const Decoded original = decode(c.path);
    const std::string out = dir.file("same-" + std::to_string(c.rate) + "." + outputExtension(c.kind));
    ASSERT_EQ(writeSoundEdit(sound, *sound.original, out, OutputFormat{c.kind, 0}, EditControl{}, refusal), kResultOk)
        << refusal.text;
    const Decoded d = decode(out);
    EXPECT_EQ(d.info.samplerate, static_cast<int>(c.rate));
    ASSERT_EQ(d.samples.size(), original.samples.size()) << c.path;
    for (std::size_t i = 0; i < d.samples.size(); ++i) ASSERT_EQ(d.samples[i], original.samples[i]) << c.path << " " << i;
  }

  // An edit of the 48 kHz recording changes only what it reaches, and
  // another rate asked for resamples the whole sound to it.
  SoundForEditing sound;
  Refusal refusal;
  ASSERT_EQ(openSoundForEditing(wav48, RenderSettings{}, 160, 0, EditControl{}, sound, refusal), kResultOk);
  const PictureBitmap edit = painted(*sound.original, 20, 20, 90, 30);
  std::vector<SampleRange> reach;
  ASSERT_EQ(editedSampleRanges(soundEditJob(sound, edit), reach), kResultOk);
  ASSERT_EQ(reach.size(), 1u);
  const std::string out = dir.file("edited48.wav");
  ASSERT_EQ(writeSoundEdit(sound, edit, out, OutputFormat{OutputKind::Wav16, 0}, EditControl{}, refusal), kResultOk);
  const Decoded d = decode(out);
  ASSERT_EQ(d.samples.size(), speech.size());
  std::size_t changed = 0;
  for (std::size_t i = 0; i < speech.size(); ++i) {
    if (i < reach[0].first || i >= reach[0].end) {
      ASSERT_EQ(d.samples[i], speech[i] / 32768.0) << i;
    }
    changed += d.samples[i] != speech[i] / 32768.0;
  }
  EXPECT_GT(changed, 1000u);
  const std::string at44 = dir.file("edited44.flac");
  ASSERT_EQ(writeSoundEdit(sound, edit, at44, OutputFormat{OutputKind::Flac16, 44100}, EditControl{}, refusal),
            kResultOk);
  const Decoded resampled = decode(at44);
  EXPECT_EQ(resampled.info.samplerate, 44100);
  EXPECT_EQ(resampled.info.frames, 44100 * 2);
}

TEST_F(EditSoundTest, APictureMadeFromTheRecordingResampledTo44100HzStillRendersBack) {
  // Pictures were once analysed from every recording at 44100 Hz: their
  // records say so, and the recording is read at that rate again.
  const std::string recording = dir.file("take48.wav");
  test::writeFile(recording, test::waveBytes(test::pcm16Bytes(test::speechLike(48000, 12000)), 1, 16, 48000));
  auto resampled = std::make_shared<EditRecording>();
  Refusal refusal;
  ASSERT_TRUE(resampled->open(recording, 44100, nullptr, refusal)) << refusal.text;
  EXPECT_EQ(resampled->info().sampleRate, 44100u);
  EXPECT_EQ(resampled->info().sampleCount, 44100u);
  SoundForEditing sound;
  ASSERT_EQ(analyseSoundForEditing(resampled, RenderSettings{}, 120, 0, EditControl{}, sound, refusal), kResultOk);
  ASSERT_EQ(sound.record.sampleRate, 44100u);
  const std::string png = dir.file("old.png");
  ASSERT_TRUE(savePictureForEditing(*sound.original, png, sound.record, refusal)) << refusal.text;
  const std::string expected = dir.file("expected.wav");
  ASSERT_EQ(writeSoundEdit(sound, *sound.original, expected, OutputFormat{OutputKind::WavFloat, 0}, EditControl{},
                           refusal),
            kResultOk);

  EditedPicture edited;
  ASSERT_TRUE(loadEditedPicture(png, edited, refusal)) << refusal.text;
  const std::string out = dir.file("out.wav");
  ASSERT_EQ(renderEditedPicture(recording, edited, out, OutputFormat{OutputKind::WavFloat, 0}, false, EditControl{},
                                refusal),
            kResultOk)
      << refusal.text;
  EXPECT_EQ(test::readFile(out), test::readFile(expected));
  EXPECT_EQ(decode(out).info.samplerate, 44100);
}

TEST_F(EditSoundTest, ABandBeyondTheRecordingsRateIsRefusedWithTheRate) {
  const std::string recording = dir.file("phone.wav");
  test::writeFile(recording, test::waveBytes(test::pcm16Bytes(test::speechLike(16000, 9000)), 1, 16, 8000));
  RenderSettings grid;
  grid.bandLowHz = 100.0f;
  grid.bandHighHz = 6000.0f;
  SoundForEditing sound;
  Refusal refusal;
  EXPECT_NE(openSoundForEditing(recording, grid, 0, 0, EditControl{}, sound, refusal), kResultOk);
  EXPECT_NE(refusal.text.find("4000 Hz"), std::string::npos) << refusal.text;
  EXPECT_NE(refusal.text.find("8000 Hz, 16-bit, mono"), std::string::npos) << refusal.text;
  grid.bandHighHz = 3400.0f;
  EXPECT_EQ(openSoundForEditing(recording, grid, 0, 0, EditControl{}, sound, refusal), kResultOk) << refusal.text;
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

// SPDX-License-Identifier: GPL-3.0-or-later
// The input reader on real sound files made by sox and libsndfile: rates,
// depths, channels and containers, from a file and from standard input,
// and the analysis of each.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/positional_read.h"
#include "files/analysis_setup.h"
#include "files/audio_input.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

constexpr double kSeconds = 0.5;
constexpr double kLeftHz = 1000.0;
constexpr double kRightHz = 1500.0;
constexpr double kAmplitude = 0.5;

struct Made {
  const char* name;  // file name; its extension tells sox the container
  const char* sox;   // sox's options for the file: rate, depth, encoding
  int channels;
  bool converted;  // read through the spool, not as it is
};

// Every file holds kSeconds of a kLeftHz sine in the left (or only)
// channel and a kRightHz sine in the right, at kAmplitude.
const Made kGrid[] = {
    {"classic.wav", "-r 44100 -b 16 -e signed-integer", 1, false},
    {"classic-stereo.wav", "-r 44100 -b 16 -e signed-integer", 2, false},
    {"eight.wav", "-r 44100 -b 8 -e unsigned-integer", 1, false},
    {"fast-24.wav", "-r 48000 -b 24 -e signed-integer", 2, true},
    {"float.wav", "-r 44100 -b 32 -e floating-point", 1, true},
    {"slow-32.wav", "-r 22050 -b 32 -e signed-integer", 1, true},
    {"hi.flac", "-r 96000 -b 24", 2, true},
    {"cd.flac", "-r 44100 -b 16", 1, true},
    {"talk.ogg", "-r 44100", 2, true},
    {"song.mp3", "-r 44100", 1, true},
    {"old.aiff", "-r 22050 -b 8", 1, true},
    {"rf.wav", "-r 8000 -b 16 -e signed-integer", 1, true},  // written as RF64 below
};

bool soxMakes(const std::string& path, const Made& m) {
  const std::string command = std::string("sox -q -n ") + m.sox + " -c " + std::to_string(m.channels) + " '" + path +
                              "' synth " + std::to_string(kSeconds) + " sine " + std::to_string(kLeftHz) +
                              (m.channels == 2 ? " sine " + std::to_string(kRightHz) : std::string()) + " vol " +
                              std::to_string(kAmplitude) + " 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

// The same sound written by libsndfile itself in `format`.
bool sndfileMakes(const std::string& path, int format, int rate, int channels) {
  SF_INFO info = {};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return false;
  const auto frames = static_cast<std::size_t>(kSeconds * rate);
  std::vector<float> samples(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    samples[i * channels] = static_cast<float>(kAmplitude * std::sin(2 * M_PI * kLeftHz * t));
    if (channels == 2) samples[i * 2 + 1] = static_cast<float>(kAmplitude * std::sin(2 * M_PI * kRightHz * t));
  }
  const bool ok = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frames)) ==
                  static_cast<sf_count_t>(frames);
  return sf_close(file) == 0 && ok;
}

// Channel `channel` of an opened input, in the engine's units.
std::vector<double> channelOf(const AudioInput& input, int channel) {
  SampleLayout layout;
  layout.eightBit = !input.floatSamples && input.info.bitsPerSample == 8;
  layout.float32 = input.floatSamples;
  layout.channels = static_cast<std::size_t>(input.info.channels);
  std::vector<unsigned char> raw(layout.frameBytes() * input.info.sampleCount);
  const off_t at = ftello(input.stream);
  EXPECT_TRUE(readAt(::fileno(input.stream), raw.data(), raw.size(), at));
  std::vector<double> out(input.info.sampleCount);
  samplesToDouble(raw.data(), out.size(), layout, static_cast<std::size_t>(channel), out.data());
  return out;
}

// The frequency of a steady sine from its rising zero crossings, and its
// RMS, over the middle of the sound (away from codec delays and fades).
void measure(const std::vector<double>& s, double& hz, double& rms) {
  const std::size_t from = s.size() / 5;
  const std::size_t to = s.size() * 4 / 5;
  std::size_t first = 0;
  std::size_t last = 0;
  int crossings = 0;
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    sum += s[i] * s[i];
    if (s[i - 1] < 0.0 && s[i] >= 0.0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  hz = crossings > 1 ? (crossings - 1) * 44100.0 / static_cast<double>(last - first) : 0.0;
  rms = std::sqrt(sum / static_cast<double>(to - from));
}

// Runs `body` with `bytes` arriving on standard input through a pipe.
template <typename F>
void withStandardInput(const std::vector<std::uint8_t>& bytes, F body) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const int saved = ::dup(STDIN_FILENO);
  ::dup2(ends[0], STDIN_FILENO);
  ::close(ends[0]);
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(ends[1], bytes.data() + done, bytes.size() - done);
      if (put <= 0) break;
      done += static_cast<std::size_t>(put);
    }
    ::close(ends[1]);
  });
  body();
  writer.join();
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
}

class AudioInputTest : public ::testing::Test {
 protected:
  AudioInputRules anyAudio() const {
    AudioInputRules rules;
    rules.anyAudio = true;
    return rules;
  }
  test::TempDir dir;
};

TEST_F(AudioInputTest, AGridOfFormatsIsReadAt44100HzFromAFileAndFromAPipe) {
  std::vector<std::pair<std::string, Made>> files;
  for (const Made& m : kGrid) {
    const std::string path = dir.file(m.name);
    if (std::string(m.name) == "rf.wav") {
      ASSERT_TRUE(sndfileMakes(path, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 8000, 1));
    } else {
      ASSERT_TRUE(soxMakes(path, m)) << m.name;
    }
    files.emplace_back(path, m);
  }
  const std::string opus = dir.file("voice.opus");
  ASSERT_TRUE(sndfileMakes(opus, SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1));
  files.emplace_back(opus, Made{"voice.opus", "", 1, true});

  for (const auto& [path, m] : files) {
    SCOPED_TRACE(m.name);
    AudioInput input;
    Refusal refusal;
    ASSERT_TRUE(openAudioInput(path, anyAudio(), input, refusal)) << refusal.text;
    EXPECT_EQ(input.info.channels, m.channels);
    EXPECT_EQ(input.spooled, m.converted);
    EXPECT_EQ(input.info.sampleRate, 44100u);
    // Codecs add a little delay and padding (MP3 up to two of its 1152-sample
    // frames); the length is otherwise the sound's.
    EXPECT_NEAR(static_cast<double>(input.info.sampleCount), kSeconds * 44100, 2 * 1152 + kSeconds * 44100 * 0.02);
    for (int c = 0; c < m.channels; ++c) {
      double hz = 0.0;
      double rms = 0.0;
      measure(channelOf(input, c), hz, rms);
      EXPECT_NEAR(hz, c == 0 ? kLeftHz : kRightHz, 3.0) << "channel " << c;
      // 8-bit and lossy files are coarser.
      EXPECT_NEAR(rms, kAmplitude / std::sqrt(2.0) * 32768.0, 0.04 * 32768.0 * kAmplitude) << "channel " << c;
    }
    const std::vector<double> fromFile = channelOf(input, 0);
    std::fclose(input.stream);

    // The same bytes through standard input give the same samples.
    withStandardInput(test::readFile(path), [&] {
      AudioInput piped;
      ASSERT_TRUE(openAudioInput(kStandardStream, anyAudio(), piped, refusal)) << refusal.text;
      EXPECT_EQ(piped.info.sampleCount, input.info.sampleCount);
      EXPECT_EQ(channelOf(piped, 0), fromFile);
      std::fclose(piped.stream);
    });
  }
}

// Each format analyses into a picture whose brightest column is the
// sine's: 1000 Hz on a linear scale of 512 columns is column 23.
TEST_F(AudioInputTest, EachFormatAnalysesToItsSpectrum) {
  RenderSettings settings;
  settings.frequencyScale = FrequencyScale::Linear;
  for (const Made& m : kGrid) {
    if (std::string(m.name) == "rf.wav") continue;
    SCOPED_TRACE(m.name);
    const std::string path = dir.file(m.name);
    ASSERT_TRUE(soxMakes(path, m));
    PreparedAnalysis prepared;
    Refusal refusal;
    ASSERT_TRUE(prepareAnalysis(path, settings, 512, 4, anyAudio(), prepared, refusal)) << refusal.text;
    ASSERT_EQ(finishAnalysis(prepared, analysePrepared(prepared), refusal), kResultOk);
    const PictureBitmap& picture = *prepared.picture;
    const std::vector<std::uint8_t>& left = m.channels == 2 ? picture.red : picture.pixels;
    const std::size_t row = static_cast<std::size_t>(picture.height / 2) * picture.stride;
    const auto brightest = [&](const std::vector<std::uint8_t>& plane) {
      return std::max_element(plane.begin() + row, plane.begin() + row + picture.width) - (plane.begin() + row);
    };
    EXPECT_NEAR(brightest(left), 1000.0 / 22050.0 * 511.0, 1.0);
    if (m.channels == 2) { EXPECT_NEAR(brightest(picture.green), 1500.0 / 22050.0 * 511.0, 1.0); }
  }
}

// The classic reader's refusals keep its words and add, on a line of their
// own, what the file is and how to read it anyway; files that no reader
// takes say why in the system's or the decoder's words.
TEST_F(AudioInputTest, RefusalsSayWhy) {
  const std::string flac = dir.file("take.flac");
  ASSERT_TRUE(soxMakes(flac, Made{"take.flac", "-r 48000 -b 24", 2, true}));
  AudioInputRules classic;
  classic.anyAudioHint = "leave out --strict-input";
  AudioInput input;
  Refusal refusal;
  EXPECT_FALSE(openAudioInput(flac, classic, input, refusal));
  EXPECT_EQ(refusal.caption, "Unsound soundfile");
  EXPECT_EQ(refusal.text,
            "The input wave file has unrecognized or wrong format.\nAcceptable format is Microsoft Wave with PCM data "
            "format (no compression), mono.\n" +
                flac +
                ": 48000 Hz, 24-bit, stereo, FLAC; the classic reader needs 44100 Hz, 8 or 16-bit, mono WAV "
                "\xE2\x80\x94 leave out --strict-input");

  const std::string fast = dir.file("fast.wav");
  ASSERT_TRUE(soxMakes(fast, Made{"fast.wav", "-r 48000 -b 16 -e signed-integer", 1, true}));
  EXPECT_FALSE(openAudioInput(fast, classic, input, refusal));
  EXPECT_EQ(refusal.text.substr(0, refusal.text.find('\n', refusal.text.find('\n') + 1)),
            "The input wave file has wrong sampling frequency.\nExpected: 44100, present: 48000");

  const std::string text = dir.file("notes.wav");
  test::writeFile(text, {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(openAudioInput(text, anyAudio(), input, refusal));
  EXPECT_EQ(refusal.text.substr(0, refusal.text.find('\n')), "Cannot read input sound file '" + text + "'");
  EXPECT_NE(refusal.text.find('\n'), std::string::npos) << "no reason given";

  EXPECT_FALSE(openAudioInput(dir.path(), anyAudio(), input, refusal));
  EXPECT_EQ(refusal.text, "Cannot open input wave file '" + dir.path() + "'\nIs a directory");
  EXPECT_EQ(input.stream, nullptr);
}

// A WAV through a pipe states a length its writer could not know: its data
// ends where the stream does. The same header on disk is a damaged file,
// and its render will say so.
TEST_F(AudioInputTest, AStreamedWaveEndsWhereThePipeEnds) {
  auto bytes = test::waveBytes(test::pcm16Bytes(test::speechLike(3000, 1000.0)), 1, 16, 44100);
  bytes[40] = bytes[41] = 0xF0;
  bytes[42] = 0xFF;
  bytes[43] = 0x7F;  // 0x7FFFF0F0 bytes of data, as a streaming writer states
  withStandardInput(bytes, [&] {
    AudioInput piped;
    Refusal refusal;
    ASSERT_TRUE(openAudioInput(kStandardStream, anyAudio(), piped, refusal)) << refusal.text;
    EXPECT_FALSE(piped.spooled);
    EXPECT_EQ(piped.info.sampleCount, 3000u);
    std::fclose(piped.stream);
  });
  const std::string onDisk = dir.file("cut.wav");
  test::writeFile(onDisk, bytes);
  AudioInput input;
  Refusal refusal;
  ASSERT_TRUE(openAudioInput(onDisk, anyAudio(), input, refusal));
  EXPECT_EQ(input.info.sampleCount, 0x7FFFF0F0u / 2);
  std::fclose(input.stream);
}

// An interrupt while standard input is copied stops the reading at once and
// leaves nothing open.
TEST_F(AudioInputTest, AnAbortStopsTheReading) {
  std::atomic<bool> abort{true};
  AudioInputRules rules = anyAudio();
  rules.abort = &abort;
  const std::string flac = dir.file("take.flac");
  ASSERT_TRUE(soxMakes(flac, Made{"take.flac", "-r 48000 -b 24", 1, true}));
  AudioInput input;
  Refusal refusal;
  bool aborted = false;
  EXPECT_FALSE(openAudioInput(flac, rules, input, refusal, &aborted));
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(refusal);
  EXPECT_EQ(input.stream, nullptr);
}

}  // namespace
}  // namespace vellomar

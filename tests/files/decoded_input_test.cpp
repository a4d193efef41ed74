// SPDX-License-Identifier: GPL-3.0-or-later
// The kept decode on real files: handed out again while the file is
// unchanged, decoded again when it changes, never kept after an abort or a
// refusal, and a classic file read in place with no decode at all.

#include "files/decoded_input.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/positional_read.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// A 16-bit mono wave of `frames` frames of a sine at `hz`, at `rate`.
void writeSine(const std::string& path, std::uint32_t rate, std::size_t frames, double hz) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(2.0 * M_PI * hz * i / rate)));
  }
  test::writeFile(path, test::waveBytes(test::pcm16Bytes(samples), 1, 16, rate));
}

AudioInputRules anyAudio(std::uint32_t rate = 44100) {
  AudioInputRules rules;
  rules.anyAudio = true;
  rules.rate = rate;
  return rules;
}

// Every float sample of an opened spool, read by position from its start.
std::vector<float> samplesOf(const AudioInput& input) {
  std::vector<float> samples(static_cast<std::size_t>(input.info.sampleCount) * input.info.channels);
  EXPECT_TRUE(readAt(::fileno(input.stream), samples.data(), samples.size() * sizeof(float), 0));
  return samples;
}

struct Opened {
  AudioInput input;
  ~Opened() {
    if (input.stream) std::fclose(input.stream);
  }
};

TEST(DecodedInputs, AnUnchangedFileIsDecodedOnceAndHandedOutAsStreamsOfTheirOwn) {
  test::TempDir dir;
  const std::string path = dir.file("fast.wav");
  writeSine(path, 48000, 24000, 440.0);
  DecodedInputs inputs;
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio()));
  Opened first;
  Opened second;
  Refusal refusal;
  ASSERT_TRUE(inputs.open(path, anyAudio(), first.input, refusal));
  EXPECT_FALSE(inputs.needsDecode(path, anyAudio()));
  // Through the reader's own entry, as the window opens it.
  AudioInputRules kept = anyAudio();
  kept.keep = &inputs;
  ASSERT_TRUE(openAudioInput(path, kept, second.input, refusal));
  EXPECT_EQ(inputs.decodes(), 1u);
  EXPECT_TRUE(second.input.spooled && second.input.floatSamples);
  EXPECT_EQ(second.input.info.sampleCount, 22050u);
  EXPECT_EQ(second.input.info.sampleRate, 44100u);
  EXPECT_EQ(second.input.description, first.input.description);
  EXPECT_EQ(samplesOf(second.input), samplesOf(first.input));

  // Each stream starts at the first sample whatever the other has read.
  float sample = 0.0f;
  ASSERT_EQ(std::fread(&sample, sizeof sample, 1, first.input.stream), 1u);
  EXPECT_EQ(ftello(second.input.stream), 0);
  // The spool outlives the keeper while a stream reads it.
  const std::vector<float> before = samplesOf(second.input);
  inputs.clear();
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio()));
  EXPECT_EQ(samplesOf(second.input), before);
}

TEST(DecodedInputs, AChangedFileOrOtherRulesDecodeAgainAndOnlyTheLatestIsKept) {
  test::TempDir dir;
  const std::string path = dir.file("fast.wav");
  writeSine(path, 48000, 24000, 440.0);
  DecodedInputs inputs;
  Refusal refusal;
  std::vector<float> old;
  {
    Opened a;
    ASSERT_TRUE(inputs.open(path, anyAudio(), a.input, refusal));
    old = samplesOf(a.input);
  }
  // Rewritten with another sound of another length.
  writeSine(path, 48000, 48000, 880.0);
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio()));
  {
    Opened b;
    ASSERT_TRUE(inputs.open(path, anyAudio(), b.input, refusal));
    EXPECT_EQ(inputs.decodes(), 2u);
    EXPECT_EQ(b.input.info.sampleCount, 44100u);
    EXPECT_NE(samplesOf(b.input), old);
  }
  // The same bytes written again: only the time it was written differs.
  struct stat st = {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  writeSine(path, 48000, 48000, 880.0);
  const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 5, st.st_mtim.tv_nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio()));
  {
    Opened c;
    ASSERT_TRUE(inputs.open(path, anyAudio(), c.input, refusal));
    EXPECT_EQ(inputs.decodes(), 3u);
  }
  // Another rate is another decode, and it takes the place of the first.
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio(22050)));
  {
    Opened d;
    ASSERT_TRUE(inputs.open(path, anyAudio(22050), d.input, refusal));
    EXPECT_EQ(d.input.info.sampleCount, 22050u);
  }
  EXPECT_EQ(inputs.decodes(), 4u);
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio()));
  EXPECT_FALSE(inputs.needsDecode(path, anyAudio(22050)));
}

TEST(DecodedInputs, AClassicFileIsReadInPlaceAndNothingIsKept) {
  test::TempDir dir;
  const std::string path = dir.file("classic.wav");
  writeSine(path, 44100, 4410, 440.0);
  DecodedInputs inputs;
  EXPECT_FALSE(inputs.needsDecode(path, anyAudio()));
  EXPECT_TRUE(readInPlace(path, anyAudio()));
  // The classic reader itself never decodes.
  AudioInputRules classic = anyAudio();
  classic.anyAudio = false;
  EXPECT_FALSE(inputs.needsDecode(path, classic));
  Opened opened;
  Refusal refusal;
  ASSERT_TRUE(inputs.open(path, anyAudio(), opened.input, refusal));
  EXPECT_FALSE(opened.input.spooled);
  EXPECT_EQ(opened.input.info.sampleCount, 4410u);
  EXPECT_EQ(inputs.decodes(), 0u);
  // Nor is a file that is not there: its open refuses it.
  EXPECT_FALSE(inputs.needsDecode(dir.file("missing.flac"), anyAudio()));
}

TEST(DecodedInputs, AnAbortOrARefusalKeepsNothingAndSaysWhatTheReaderSays) {
  test::TempDir dir;
  const std::string path = dir.file("fast.wav");
  writeSine(path, 48000, 24000, 440.0);
  DecodedInputs inputs;
  std::atomic<bool> stop{true};
  AudioInputRules stopped = anyAudio();
  stopped.abort = &stop;
  Opened opened;
  Refusal refusal;
  bool aborted = false;
  EXPECT_FALSE(inputs.open(path, stopped, opened.input, refusal, &aborted));
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(refusal);
  EXPECT_EQ(opened.input.stream, nullptr);
  EXPECT_EQ(inputs.decodes(), 0u);
  EXPECT_TRUE(inputs.needsDecode(path, anyAudio()));

  const std::string noise = dir.file("noise.mp3");
  test::writeFile(noise, std::vector<std::uint8_t>(3000, 0x5a));
  Refusal plain;
  AudioInput unused;
  ASSERT_FALSE(openAudioInput(noise, anyAudio(), unused, plain));
  EXPECT_TRUE(inputs.needsDecode(noise, anyAudio()));
  EXPECT_FALSE(inputs.open(noise, anyAudio(), opened.input, refusal, &aborted));
  EXPECT_FALSE(aborted);
  EXPECT_EQ(refusal.text, plain.text);
  EXPECT_NE(refusal.text.find("Cannot read input sound file"), std::string::npos);
  EXPECT_EQ(inputs.decodes(), 0u);
}

TEST(DecodedInputs, ADecodeReportsHowFarItIsInOrder) {
  test::TempDir dir;
  const std::string path = dir.file("long.wav");
  writeSine(path, 48000, 480000, 440.0);
  std::vector<int> heard;
  AudioInputRules rules = anyAudio();
  rules.progress = [&heard](int thousandths) { heard.push_back(thousandths); };
  Opened opened;
  Refusal refusal;
  ASSERT_TRUE(openAudioInput(path, rules, opened.input, refusal));
  ASSERT_GT(heard.size(), 10u);
  for (std::size_t i = 1; i < heard.size(); ++i) EXPECT_GT(heard[i], heard[i - 1]);
  EXPECT_GE(heard.back(), 990);
  EXPECT_LE(heard.back(), 999);
}

}  // namespace
}  // namespace vellomar

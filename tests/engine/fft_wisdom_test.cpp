// SPDX-License-Identifier: GPL-3.0-or-later
// Measured plans and the wisdom file that keeps them: what a render finds
// in the cache folder (nothing, a damaged, foreign or unreadable file, or
// the maker's file), and that measured plans render within one step of a
// 16-bit sample of estimated ones.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/context.h"
#include "engine/render.h"
#include "fft/fft.h"
#include "fft/wisdom.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

// Small sizes: measuring them takes milliseconds.
const FftTransform kSmall[] = {{FftDirection::Forward, 16}, {FftDirection::Inverse, 16}, {FftDirection::Inverse, 8}};

FftPlanSource measuredIn(const std::string& folder, bool makeMissing = false) {
  FftPlanSource source;
  source.planning = FftPlanning::Measured;
  source.wisdomFolder = folder;
  source.makeMissing = makeMissing;
  return source;
}

// Whether plans made from the folder's wisdom now are measured ones.
bool measuredFrom(const std::string& folder) {
  FftPlans plans;
  EXPECT_TRUE(plans.make(kSmall, measuredIn(folder)));
  return plans.measured();
}

std::string readText(const std::string& path) {
  const auto bytes = test::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

void writeText(const std::string& path, const std::string& text) {
  test::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// The file's checksum line for a body: FNV-1a, 64 bits, in hex.
std::string checksumLine(const std::string& body) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : body) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char text[40];
  std::snprintf(text, sizeof text, "checksum %016llx", static_cast<unsigned long long>(h));
  return text;
}

class WisdomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = dir.file("cache/vellomar");
    path = folder + "/" + wisdomFileName();
  }

  // A valid file for kSmall, made here.
  void makeFile() {
    std::string error;
    ASSERT_TRUE(makeWisdom(folder, kSmall, error)) << error;
    std::string wisdom;
    ASSERT_EQ(readWisdomFile(folder, wisdom), WisdomState::Valid);
    ASSERT_TRUE(measuredFrom(folder));
  }

  // The file with line `index` (0 ... 4 the header, 5 the start of the
  // wisdom) replaced.
  void replaceLine(std::size_t index, const std::string& line) {
    std::string text = readText(path);
    std::size_t from = 0;
    for (std::size_t i = 0; i < index; ++i) from = text.find('\n', from) + 1;
    const std::size_t to = text.find('\n', from);
    text.replace(from, to - from, line);
    writeText(path, text);
  }

  // The file is ignored, and making the wisdom replaces it.
  void expectIgnoredAndReplaced(WisdomState state) {
    std::string wisdom;
    EXPECT_EQ(readWisdomFile(folder, wisdom), state);
    EXPECT_TRUE(wisdom.empty());
    EXPECT_FALSE(measuredFrom(folder));
    std::string error;
    ASSERT_TRUE(makeWisdom(folder, kSmall, error)) << error;
    EXPECT_EQ(readWisdomFile(folder, wisdom), WisdomState::Valid);
    EXPECT_TRUE(measuredFrom(folder));
  }

  test::TempDir dir;
  std::string folder;
  std::string path;
};

TEST_F(WisdomTest, AMissingFileGivesEstimatedPlansAndTheMakerProcessMakesIt) {
  std::string wisdom;
  EXPECT_EQ(readWisdomFile(folder, wisdom), WisdomState::Missing);
  FftPlans plans;
  ASSERT_TRUE(plans.make(kSmall, measuredIn(folder, true)));
  EXPECT_FALSE(plans.measured());
  for (const FftTransform& t : kSmall) EXPECT_TRUE(plans.has(t.direction, t.n));

  // The maker runs in a process of its own, at idle priority: on a busy
  // machine it may take a while.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (readWisdomFile(folder, wisdom) != WisdomState::Valid && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(readWisdomFile(folder, wisdom), WisdomState::Valid);
  EXPECT_TRUE(measuredFrom(folder));
  // Wisdom for other sizes than the file holds: estimated again.
  FftPlans other;
  const FftTransform larger[] = {{FftDirection::Forward, 32}};
  ASSERT_TRUE(other.make(larger, measuredIn(folder)));
  EXPECT_FALSE(other.measured());
}

TEST_F(WisdomTest, ADamagedFileIsIgnoredAndReplaced) {
  makeFile();
  std::string text = readText(path);
  const std::size_t at = text.find("(fftw-3");
  ASSERT_NE(at, std::string::npos);
  text[at + 20] = text[at + 20] == '1' ? '2' : '1';
  writeText(path, text);
  expectIgnoredAndReplaced(WisdomState::Damaged);
}

TEST_F(WisdomTest, AFileCutShortOrOfAnotherFormatIsDamaged) {
  makeFile();
  const std::string text = readText(path);
  writeText(path, text.substr(0, 40));
  expectIgnoredAndReplaced(WisdomState::Damaged);
  replaceLine(0, "vellomar fftw wisdom 0");
  expectIgnoredAndReplaced(WisdomState::Damaged);
  writeText(path, std::string(2 << 20, '('));
  expectIgnoredAndReplaced(WisdomState::Damaged);
}

TEST_F(WisdomTest, WisdomTheLibraryRefusesIsIgnoredAndReplaced) {
  makeFile();
  // Whole as a file (its checksum holds) but not the library's wisdom.
  const std::string body = "(fftw-3.3.10 fftw_wisdom #x0 #x0 #x0 #x0\n  (garbage)\n)\n";
  std::string text = readText(path);
  text = text.substr(0, text.find("(fftw-3")) + body;
  writeText(path, text);
  replaceLine(4, checksumLine(body));
  std::string wisdom;
  EXPECT_EQ(readWisdomFile(folder, wisdom), WisdomState::Valid);
  EXPECT_FALSE(measuredFrom(folder));
  std::string error;
  ASSERT_TRUE(makeWisdom(folder, kSmall, error)) << error;
  EXPECT_TRUE(measuredFrom(folder));
}

TEST_F(WisdomTest, AFileOfAnotherLibraryOrCpuIsForeign) {
  makeFile();
  replaceLine(1, "library fftw-3.3.8-sse2");
  expectIgnoredAndReplaced(WisdomState::Foreign);
  replaceLine(2, "cpu Some Other Processor");
  expectIgnoredAndReplaced(WisdomState::Foreign);
  replaceLine(3, "flags 0000000000000000");
  expectIgnoredAndReplaced(WisdomState::Foreign);
}

TEST_F(WisdomTest, AnUnreadableFileIsIgnored) {
  // A folder where the file should be: it can neither be read nor replaced.
  ASSERT_EQ(::mkdir(dir.file("cache").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  std::string wisdom;
  EXPECT_EQ(readWisdomFile(folder, wisdom), WisdomState::Unreadable);
  EXPECT_FALSE(measuredFrom(folder));
  std::string error;
  EXPECT_FALSE(makeWisdom(folder, kSmall, error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

TEST_F(WisdomTest, AFolderThatCannotBeMadeGivesEstimatedPlans) {
  writeText(dir.file("cache"), "a file where the folder should be");
  FftPlans plans;
  ASSERT_TRUE(plans.make(kSmall, measuredIn(folder, true)));
  EXPECT_FALSE(plans.measured());
  std::string error;
  EXPECT_FALSE(makeWisdom(folder, kSmall, error));
  EXPECT_NE(error.find("cannot make the folder"), std::string::npos) << error;
}

// Measured plans differ from estimated ones by rounding only: a render with
// each differs by at most one step in any sample.
TEST_F(WisdomTest, MeasuredPlansRenderWithinOneStepOfEstimatedOnes) {
  const std::int32_t n = 2048;
  std::string error;
  ASSERT_TRUE(makeWisdom(folder, renderTransforms(n), error)) << error;
  FftPlans plans;
  ASSERT_TRUE(plans.make(renderTransforms(n), measuredIn(folder)));
  ASSERT_TRUE(plans.measured());

  test::TestPicture picture(96, 40, [](std::uint32_t x, std::uint32_t y) { return (x * 37 + y * 101) % 256; });
  test::writeFile(dir.file("in.wav"),
                  test::waveBytes(test::pcm16Bytes(test::speechLike(44100 * 4, 12000.0)), 1, 16, 44100));
  for (const InputSource source : {InputSource::PinkNoise, InputSource::WaveFile}) {
    SCOPED_TRACE(static_cast<int>(source));
    std::vector<std::int16_t> samples[2];
    for (int measured = 0; measured < 2; ++measured) {
      RenderJob job;
      job.settings.blockLength = n;
      job.settings.inputSource = source;
      job.picture = picture.data();
      job.sampleCount = 44100 * 4;
      job.threads = 2;
      if (measured) job.plans = measuredIn(folder);
      if (source == InputSource::WaveFile) {
        job.input = std::fopen(dir.file("in.wav").c_str(), "rb");
        ASSERT_NE(job.input, nullptr);
        ASSERT_EQ(std::fseek(job.input, 44, SEEK_SET), 0);
      }
      job.output = test::createTestOutput(dir.file("out.wav"), job.sampleCount);
      ASSERT_EQ(renderSound(job), kResultOk);
      samples[measured] = test::waveSamples(dir.file("out.wav"));
    }
    ASSERT_EQ(samples[0].size(), samples[1].size());
    int largest = 0;
    double energy = 0.0;
    for (std::size_t i = 0; i < samples[0].size(); ++i) {
      largest = std::max(largest, std::abs(samples[0][i] - samples[1][i]));
      energy += static_cast<double>(samples[0][i]) * samples[0][i];
    }
    EXPECT_LE(largest, 1);
    EXPECT_GT(energy, 1e6 * static_cast<double>(samples[0].size()));  // not silence
  }
}

}  // namespace
}  // namespace vellomar

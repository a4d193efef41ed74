// SPDX-License-Identifier: GPL-3.0-or-later
// The output of a render takes the user's name only when the render
// succeeds; an earlier file of that name survives every failure.
#include "files/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/render.h"
#include "files/render_setup.h"
#include "support/file_system_support.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

namespace fs = std::filesystem;

WaveInfo monoInfo(std::uint32_t count) { return WaveInfo{count, 1, 16, 44100, false}; }

// Names in `folder` other than those given.
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

// Writes `count` samples of value 7 after the header, as a render would.
void writeSamples(std::FILE* stream, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    std::fputc(7, stream);
    std::fputc(0, stream);
  }
  std::fclose(stream);
}

class OutputFileTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  Refusal refusal;
  const std::vector<std::uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

  void keepsTheEarlierFile(const std::string& folder);
};

TEST_F(OutputFileTest, ANewFileAppearsOnlyOnCommit) {
  // Unnamed while written where the file system allows it (here it does),
  // else under a hidden name beside the output.
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed);
    setUnnamedFilesEnabled(unnamed);
    const std::string path = dir.file(unnamed ? "new.wav" : "other.wav");
    OutputFile output;
    std::FILE* stream = output.open(path, monoInfo(3), refusal);
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(output.inPlace());
    EXPECT_EQ(output.unnamed(), unnamed);
    EXPECT_GE(output.descriptor(), 0);
    EXPECT_FALSE(test::fileExists(path));
    if (unnamed) {
      EXPECT_EQ(output.writtenPath(), "");
      EXPECT_TRUE(namesIn(dir.path()).empty());
    } else {
      EXPECT_EQ(fs::path(output.writtenPath()).parent_path(), fs::path(dir.path()));
      EXPECT_EQ(fs::path(output.writtenPath()).filename().string().substr(0, 10), ".vellomar-");
    }
    // The render closes its stream; the file lives on until the commit.
    writeSamples(stream, 3);
    ASSERT_TRUE(output.commit(refusal)) << refusal.text;
    EXPECT_EQ(output.descriptor(), -1);
    EXPECT_EQ(test::readFile(path).size(), 50u);
    EXPECT_EQ(test::waveSamples(path), (std::vector<std::int16_t>{7, 7, 7}));
    // A new file gets the usual permissions, not the temporary file's.
    struct stat st = {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  }
  setUnnamedFilesEnabled(true);
  auto names = namesIn(dir.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"new.wav", "other.wav"}));
}

TEST_F(OutputFileTest, AFailedRenderKeepsTheEarlierFileExactly) {
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed);
    setUnnamedFilesEnabled(unnamed);
    const std::string folder = dir.file(unnamed ? "unnamed" : "hidden");
    fs::create_directory(folder);
    keepsTheEarlierFile(folder);
  }
  setUnnamedFilesEnabled(true);
}

void OutputFileTest::keepsTheEarlierFile(const std::string& folder) {
  const std::string path = folder + "/song.wav";
  test::writeFile(path, earlier);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    OutputFile output;
    std::FILE* stream = output.open(path, monoInfo(100), refusal);
    ASSERT_NE(stream, nullptr);
    // Half the samples, then the render fails.
    writeSamples(stream, 50);
    output.discard();
  }
  EXPECT_EQ(test::readFile(path), earlier);
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"song.wav"});
  {
    // Never committed, never discarded: going away removes what it wrote.
    OutputFile output;
    ASSERT_NE(output.open(path, monoInfo(4), refusal), nullptr);
  }
  EXPECT_EQ(test::readFile(path), earlier);
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"song.wav"});

  // A successful render replaces it, keeping its permissions.
  OutputFile output;
  std::FILE* stream = output.open(path, monoInfo(2), refusal);
  ASSERT_NE(stream, nullptr);
  writeSamples(stream, 2);
  ASSERT_TRUE(output.commit(refusal));
  EXPECT_EQ(test::waveSamples(path), (std::vector<std::int16_t>{7, 7}));
  struct stat st = {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(OutputFileTest, ALinkIsWrittenThroughAndStaysALink) {
  fs::create_directory(dir.file("real"));
  const std::string target = dir.file("real/target.wav");
  const std::string link = dir.file("link.wav");
  test::writeFile(target, earlier);
  fs::create_symlink("real/target.wav", link);
  for (bool succeed : {false, true}) {
    SCOPED_TRACE(succeed);
    OutputFile output;
    std::FILE* stream = output.open(link, monoInfo(1), refusal);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(output.targetPath(), dir.file("link.wav").substr(0, dir.path().size()) + "/real/target.wav");
    writeSamples(stream, 1);
    if (succeed) {
      ASSERT_TRUE(output.commit(refusal));
    } else {
      output.discard();
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::readFile(target).size(), succeed ? 46u : earlier.size());
    EXPECT_EQ(namesIn(dir.file("real")), std::vector<std::string>{"target.wav"});
  }

  // A link to nothing yet: the file it names is made, the link stays.
  const std::string dangling = dir.file("dangling.wav");
  fs::create_symlink("real/later.wav", dangling);
  OutputFile output;
  std::FILE* stream = output.open(dangling, monoInfo(1), refusal);
  ASSERT_NE(stream, nullptr);
  writeSamples(stream, 1);
  ASSERT_TRUE(output.commit(refusal));
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(test::readFile(dir.file("real/later.wav")).size(), 46u);
}

TEST_F(OutputFileTest, ALongNameStillHasRoomForTheTemporaryFile) {
  const std::string path = dir.file(std::string(246, 'n') + ".wav");
  ASSERT_EQ(fs::path(path).filename().string().size(), 250u);
  test::writeFile(path, earlier);
  OutputFile output;
  std::FILE* stream = output.open(path, monoInfo(1), refusal);
  ASSERT_NE(stream, nullptr) << refusal.text;
  writeSamples(stream, 1);
  ASSERT_TRUE(output.commit(refusal));
  EXPECT_EQ(test::readFile(path).size(), 46u);
}

TEST_F(OutputFileTest, DevicesAreWrittenInPlaceAndNeverRemoved) {
  OutputFile output;
  std::FILE* stream = output.open("/dev/null", monoInfo(5), refusal);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(output.inPlace());
  writeSamples(stream, 5);
  output.discard();
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A link to a device is written through, and neither goes.
  const std::string link = dir.file("null.wav");
  fs::create_symlink("/dev/null", link);
  OutputFile linked;
  ASSERT_NE(linked.open(link, monoInfo(1), refusal), nullptr);
  EXPECT_TRUE(linked.inPlace());
  linked.discard();
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(OutputFileTest, RefusalsTouchNothing) {
  // A folder, a missing folder, and a sound too long for any header.
  fs::create_directory(dir.file("folder.wav"));
  OutputFile output;
  EXPECT_EQ(output.open(dir.file("folder.wav"), monoInfo(1), refusal), nullptr);
  EXPECT_EQ(refusal.text, "Cannot create output wave file '" + dir.file("folder.wav") + "'");
  EXPECT_EQ(output.open(dir.file("missing/out.wav"), monoInfo(1), refusal), nullptr);
  EXPECT_EQ(refusal.text, "Cannot create output wave file '" + dir.file("missing/out.wav") + "'");
  test::writeFile(dir.file("kept.wav"), earlier);
  EXPECT_EQ(output.open(dir.file("kept.wav"), monoInfo(4294967295u), refusal), nullptr);
  EXPECT_NE(refusal.text.find("too long"), std::string::npos);
  WaveInfo rejected = monoInfo(1);
  rejected.rejected = true;
  EXPECT_EQ(output.open(dir.file("kept.wav"), rejected, refusal), nullptr);
  EXPECT_EQ(refusal.text.substr(0, 19), "Internal error #05 ");
  // A full disk: the header cannot be written.
  EXPECT_EQ(output.open("/dev/full", monoInfo(1), refusal), nullptr);
  EXPECT_EQ(refusal.text, "Cannot write to output wave file. You may be running out of disk space");
  EXPECT_EQ(test::readFile(dir.file("kept.wav")), earlier);
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);
}

// Where no file can be made beside an earlier file, the earlier file is
// not written over in place (a failure or an interruption would lose it):
// the output is refused before anything is written.
TEST_F(OutputFileTest, AnEarlierFileInAFolderThatTakesNoNewFileIsRefusedAndKept) {
  const std::string folder = dir.file("locked");
  fs::create_directory(folder);
  const std::string path = folder + "/out.wav";
  test::writeFile(path, earlier);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  {
    const test::PermissionBitsHold bits;
    ASSERT_TRUE(bits.holds()) << bits.why();
    for (const bool unnamed : {true, false}) {
      SCOPED_TRACE(unnamed);
      setUnnamedFilesEnabled(unnamed);
      OutputFile output;
      EXPECT_EQ(output.open(path, monoInfo(1), refusal), nullptr);
      EXPECT_EQ(refusal.text, "Cannot create output wave file '" + path +
                                  "'\nNo new file can be made in its folder (Permission denied); the earlier file is "
                                  "left as it was, since writing over it in place could lose it.");
      EXPECT_EQ(output.openBlank(path, "picture file", refusal), nullptr);
      EXPECT_EQ(refusal.text.substr(0, 28), "Cannot create picture file '");
      // No new file can be made there at all.
      EXPECT_EQ(output.open(folder + "/other.wav", monoInfo(1), refusal), nullptr);
      EXPECT_EQ(refusal.text, "Cannot create output wave file '" + folder + "/other.wav'");
    }
    setUnnamedFilesEnabled(true);
  }
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(test::readFile(path), earlier);
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"out.wav"});
}

// A file system with no inode left takes no new file either: the earlier
// file is kept, and only a device (which needs no inode) is written.
TEST_F(OutputFileTest, AFileSystemWithoutFreeInodesKeepsTheEarlierFile) {
  const std::string folder = dir.file("full");
  fs::create_directory(folder);
  const test::TmpfsMount tmpfs(folder, "size=1m,nr_inodes=16");
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why();
  const std::string path = folder + "/out.wav";
  test::writeFile(path, earlier);
  ASSERT_GT(test::useUpInodes(folder), 0);
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed);
    setUnnamedFilesEnabled(unnamed);
    OutputFile output;
    EXPECT_EQ(output.open(path, monoInfo(1), refusal), nullptr);
    EXPECT_NE(refusal.text.find("(No space left on device); the earlier file is left as it was"), std::string::npos)
        << refusal.text;
    EXPECT_EQ(test::readFile(path), earlier);
  }
  setUnnamedFilesEnabled(true);
  for (const std::string& name : namesIn(folder)) EXPECT_NE(name.rfind(".vellomar-", 0), 0u) << name;
}

// Preparation and its end, as both front-ends use them.
TEST_F(OutputFileTest, PreparedRendersCommitOrKeepTheEarlierFile) {
  test::TestPicture picture(8, 4, [](auto x, auto) { return x * 30; });
  RenderSettings settings;
  settings.inputSource = InputSource::WhiteNoise;
  settings.durationSeconds = 0.5f;
  settings.outputPath = dir.file("out.wav");
  test::writeFile(settings.outputPath, earlier);

  for (ResultCode outcome : {kResultAborted, kResultNoMemory}) {
    PreparedRender prepared;
    ASSERT_TRUE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
    EXPECT_EQ(prepared.job.sampleCount, 22050u);
    EXPECT_EQ(prepared.job.input, nullptr);
    EXPECT_EQ(finishRender(prepared, outcome, refusal), outcome);
    EXPECT_EQ(refusal.text, outcome == kResultAborted ? "" : "Not enough memory");
    EXPECT_EQ(test::readFile(settings.outputPath), earlier);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.wav"});
  }

  PreparedRender prepared;
  ASSERT_TRUE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
  const ResultCode rendered = renderSound(prepared.job);
  EXPECT_EQ(finishRender(prepared, rendered, refusal), kResultOk);
  EXPECT_FALSE(refusal);
  EXPECT_EQ(test::waveSamples(settings.outputPath).size(), 22050u);

  // Refusals before any file is touched: the input's own words, and a
  // noise too long for a wave file.
  test::writeFile(settings.outputPath, earlier);
  settings.inputSource = InputSource::WaveFile;
  settings.inputPath = dir.file("stereo.wav");
  test::writeFile(settings.inputPath, test::waveBytes({0, 0, 0, 0}, 2, 16, 44100));
  EXPECT_FALSE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
  EXPECT_EQ(refusal.text.substr(0, refusal.text.find('\n')),
            "The input wave is stereo (or it has more channels). This is not supported in this version of Vellomar.");
  settings.inputSource = InputSource::PinkNoise;
  settings.durationSeconds = 60000.0f;
  EXPECT_FALSE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
  EXPECT_NE(refusal.text.find("too long"), std::string::npos);
  EXPECT_EQ(test::readFile(settings.outputPath), earlier);
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);
}

// A stereo render is prepared with a two-channel header; past 4 GB the
// header is RF64's, so stereo keeps the mono length limit.
TEST_F(OutputFileTest, PreparedStereoRenders) {
  test::TestPicture picture(8, 4, [](auto x, auto) { return x * 30; });
  RenderSettings settings;
  settings.durationSeconds = 0.25f;
  settings.stereo = true;
  settings.outputPath = dir.file("out.wav");
  PreparedRender prepared;
  ASSERT_TRUE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
  EXPECT_EQ(prepared.job.sampleCount, 11025u);
  EXPECT_TRUE(prepared.job.settings.stereo);
  EXPECT_EQ(finishRender(prepared, renderSound(prepared.job), refusal), kResultOk);
  const auto bytes = test::readFile(settings.outputPath);
  ASSERT_EQ(bytes.size(), 44u + 4u * 11025u);
  EXPECT_EQ(test::le16(bytes, 22), 2);
  EXPECT_EQ(test::le32(bytes, 28), 176400u);
  EXPECT_EQ(test::le16(bytes, 32), 4);
  EXPECT_EQ(test::le32(bytes, 40), 4u * 11025u);

  // 24348 s of stereo pass 4 GB: an RF64 header states the sizes.
  settings.durationSeconds = 24348.0f;
  ASSERT_TRUE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal)) << refusal.text;
  std::fflush(prepared.job.output);
  const std::string written = prepared.output.writtenPath().empty()
                                  ? "/proc/self/fd/" + std::to_string(prepared.output.descriptor())
                                  : prepared.output.writtenPath();
  const auto rf64 = test::readFile(written);
  ASSERT_GE(rf64.size(), 80u);
  EXPECT_EQ(std::string(rf64.begin(), rf64.begin() + 4), "RF64");
  EXPECT_EQ(std::string(rf64.begin() + 12, rf64.begin() + 16), "ds64");
  const std::uint64_t dataBytes = test::le32(rf64, 28) | std::uint64_t{test::le32(rf64, 32)} << 32;
  EXPECT_EQ(dataBytes, std::uint64_t{4} * 1073746800u);
  EXPECT_EQ(finishRender(prepared, kResultAborted, refusal), kResultAborted);
  // Past the mono limit nothing is written.
  settings.durationSeconds = 48696.0f;
  EXPECT_FALSE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
  EXPECT_NE(refusal.text.find("at most 2147483629"), std::string::npos) << refusal.text;
}

// A band the settings' scale or block length cannot take is refused, saying
// which bands can, before any file is touched.
TEST_F(OutputFileTest, BandsTheSettingsCannotTakeAreRefused) {
  test::TestPicture picture(8, 4, [](auto x, auto) { return x * 30; });
  RenderSettings settings;
  settings.durationSeconds = 0.25f;
  settings.outputPath = dir.file("out.wav");
  PreparedRender prepared;
  test::writeFile(settings.outputPath, earlier);
  struct Case {
    FrequencyScale scale;
    std::int32_t n;
    float low, high;
    const char* text;
  };
  const Case cases[] = {
      {FrequencyScale::Logarithmic, 8192, 5.0f, 0.0f,
       "The frequency band 5 ... 22050 Hz does not suit these settings: it must lie within 16 ... 22050 Hz on the "
       "Logarithmic scale, the lowest frequency at least 5.39 Hz below the highest."},
      {FrequencyScale::Linear, 2048, 1000.0f, 1020.0f,
       "The frequency band 1000 ... 1020 Hz does not suit these settings: it must lie within 0 ... 22050 Hz on the "
       "Linear scale, the lowest frequency at least 21.54 Hz below the highest."},
      {FrequencyScale::Mel, 8192, 0.0f, 30000.0f,
       "The frequency band 16 ... 30000 Hz does not suit these settings: it must lie within 16 ... 22050 Hz on the "
       "Mel scale, the lowest frequency at least 5.39 Hz below the highest."},
  };
  for (const Case& c : cases) {
    settings.frequencyScale = c.scale;
    settings.blockLength = c.n;
    settings.bandLowHz = c.low;
    settings.bandHighHz = c.high;
    EXPECT_FALSE(prepareRender(settings, picture.data(), kInitialRandomSeed, prepared, refusal));
    EXPECT_EQ(refusal.text, c.text);
    EXPECT_EQ(refusal.caption, "Vellomar: ERROR");
    EXPECT_EQ(prepared.job.output, nullptr);
    EXPECT_EQ(test::readFile(settings.outputPath), earlier);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.wav"});
  }
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/wav.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings.h"
#include "files/messages.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::chunkBytes;
using test::fmtBody;
using test::le16;
using test::le32;
using test::riffBytes;

const char kUnrecognized[] =
    "The input wave file has unrecognized or wrong format.\n"
    "Acceptable format is Microsoft Wave with PCM data format (no compression), mono.";

// A read-only stream over `bytes` in memory.
std::FILE* memoryStream(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return std::tmpfile();
  return fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb");
}

class WaveTest : public ::testing::Test {
 protected:
  // Reads the header of `bytes` from memory; the stream (at the first
  // sample on success) is closed by the fixture. `refusal` says why not.
  std::FILE* open(const std::vector<std::uint8_t>& bytes, std::uint32_t rate = 44100) {
    TearDownStream();
    held = bytes;
    stream = memoryStream(held);
    EXPECT_NE(stream, nullptr);
    info = WaveInfo{};
    refusal = readWaveHeader(stream, info, rate);
    if (refusal) TearDownStream();
    return stream;
  }

  void TearDownStream() {
    if (stream) std::fclose(stream);
    stream = nullptr;
  }
  ~WaveTest() override { TearDownStream(); }

  test::TempDir dir;
  WaveInfo info;
  Refusal refusal;
  std::vector<std::uint8_t> held;
  std::FILE* stream = nullptr;
};

WaveInfo outputInfo(std::uint32_t count) { return WaveInfo{count, 1, 16, 44100, false}; }

TEST_F(WaveTest, HeaderOfTheDefaultNoiseRender) {
  const std::string path = dir.file("out.wav");
  std::FILE* out = createOutputWave(path, outputInfo(661500), refusal);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::ftell(out), 44);
  std::fclose(out);
  const auto b = test::readFile(path);
  ASSERT_EQ(b.size(), 44u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(le32(b, 4), 1323036u);
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le32(b, 16), 16u);
  EXPECT_EQ(le16(b, 20), 1);
  EXPECT_EQ(le16(b, 22), 1);
  EXPECT_EQ(le32(b, 24), 44100u);
  EXPECT_EQ(le32(b, 28), 88200u);
  EXPECT_EQ(le16(b, 32), 2);
  EXPECT_EQ(le16(b, 34), 16);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(le32(b, 40), 1323000u);
}

// The writer works in place only where nothing can be lost: an existing
// file is left alone (the output commit replaces it when complete).
TEST_F(WaveTest, EmptySoundAndNeverOverAnExistingFile) {
  const std::string path = dir.file("out.wav");
  std::FILE* out = createOutputWave(path, outputInfo(0), refusal);
  ASSERT_NE(out, nullptr);
  std::fclose(out);
  const auto b = test::readFile(path);
  ASSERT_EQ(b.size(), 44u);
  EXPECT_EQ(le32(b, 4), 36u);
  EXPECT_EQ(le32(b, 40), 0u);

  const std::vector<std::uint8_t> mine(5000, 0xAB);
  test::writeFile(path, mine);
  EXPECT_EQ(createOutputWave(path, outputInfo(0), refusal), nullptr);
  EXPECT_EQ(refusal.text, "Cannot create output wave file '" + path + "'");
  EXPECT_EQ(test::readFile(path), mine);
  bool created = true;
  errno = 0;
  EXPECT_EQ(openInPlace(path, created), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(created);
  // Nor through a link to it.
  std::filesystem::create_symlink("out.wav", dir.file("link.wav"));
  EXPECT_EQ(openInPlace(dir.file("link.wav"), created), nullptr);
  EXPECT_EQ(test::readFile(path), mine);
  // A device is written where it is, and was not made here.
  std::FILE* device = openInPlace("/dev/null", created);
  ASSERT_NE(device, nullptr);
  EXPECT_FALSE(created);
  std::fclose(device);
}

TEST_F(WaveTest, LongestDescribableSoundIsWrittenOneMoreIsRefusedWithoutTouchingTheFile) {
  const std::string path = dir.file("out.wav");
  std::FILE* out = createOutputWave(path, outputInfo(static_cast<std::uint32_t>(kMaxOutputSamples)), refusal);
  ASSERT_NE(out, nullptr);
  std::fclose(out);
  EXPECT_FALSE(refusal);
  const auto b = test::readFile(path);
  EXPECT_EQ(le32(b, 4), 4294967294u);
  EXPECT_EQ(le32(b, 40), 4294967258u);

  const std::vector<std::uint8_t> before = {1, 2, 3};
  test::writeFile(path, before);
  for (std::uint32_t count : {static_cast<std::uint32_t>(kMaxOutputSamples + 1), 4294967295u}) {
    refusal = Refusal{};
    EXPECT_EQ(createOutputWave(path, outputInfo(count), refusal), nullptr);
    EXPECT_EQ(refusal.caption, "Vellomar: ERROR");
    EXPECT_NE(refusal.text.find("too long"), std::string::npos) << refusal.text;
    EXPECT_NE(refusal.text.find(std::to_string(count)), std::string::npos) << refusal.text;
    EXPECT_EQ(test::readFile(path), before);
  }
  EXPECT_EQ(createOutputWave(dir.file("new.wav"), outputInfo(4294967295u), refusal), nullptr);
  EXPECT_FALSE(test::fileExists(dir.file("new.wav")));
}

TEST_F(WaveTest, NoiseLengthsPastTheHeaderAreRefusedWithTheirTrueCount) {
  EXPECT_TRUE(noiseRenderFits(44100, 48695.0f, 1, refusal));
  EXPECT_FALSE(refusal);
  EXPECT_FALSE(noiseRenderFits(44100, 48696.0f, 1, refusal));
  EXPECT_EQ(refusal.text,
            "The sound would be too long for a wave file: 2147493600 samples, at most 2147483629, which is 48695.7 "
            "seconds (13:31:35).");
  EXPECT_FALSE(noiseRenderFits(44100, 1000000.0f, 1, refusal));  // 2^32 and more samples
  EXPECT_NE(refusal.text.find("44100000000 samples"), std::string::npos) << refusal.text;

  // Two channels take twice the bytes, written as RF64 past 4 GB: as many
  // frames fit.
  EXPECT_EQ(maxOutputFrames(1), kMaxOutputSamples);
  EXPECT_EQ(maxOutputFrames(2), kMaxOutputSamples);
  refusal = Refusal{};
  EXPECT_TRUE(noiseRenderFits(44100, 48695.0f, 2, refusal));
  EXPECT_FALSE(refusal);
  EXPECT_FALSE(noiseRenderFits(44100, 48696.0f, 2, refusal));
}

TEST_F(WaveTest, WriterRefusals) {
  WaveInfo rejected = outputInfo(10);
  rejected.rejected = true;
  EXPECT_EQ(createOutputWave(dir.file("r.wav"), rejected, refusal), nullptr);
  EXPECT_FALSE(test::fileExists(dir.file("r.wav")));
  EXPECT_EQ(refusal.text.substr(0, 19), "Internal error #05 ");

  const std::string path = dir.file("missing/out.wav");
  EXPECT_EQ(createOutputWave(path, outputInfo(10), refusal), nullptr);
  EXPECT_EQ(refusal.text, "Cannot create output wave file '" + path + "'");
  EXPECT_EQ(refusal.boxType, kBoxIconError | kBoxOk);

  EXPECT_EQ(createOutputWave("/dev/full", outputInfo(10), refusal), nullptr);
  EXPECT_EQ(refusal.text, "Cannot write to output wave file. You may be running out of disk space");
}

// A named pipe that no one reads cannot take the sound: refused at once.
TEST_F(WaveTest, APipeWithoutReaderIsRefusedAtOnce) {
  const std::string pipe = dir.file("pipe.wav");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // Should the writer wait for a reader, one comes after two seconds and
  // stays until the writer has returned, so that the test fails instead of
  // hanging.
  std::mutex mutex;
  std::condition_variable returned;
  bool done = false;
  std::thread reader([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (returned.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) return;
    lock.unlock();
    const int fd = ::open(pipe.c_str(), O_RDONLY);
    lock.lock();
    returned.wait(lock, [&] { return done; });
    if (fd >= 0) ::close(fd);
  });
  std::FILE* opened = createOutputWave(pipe, outputInfo(10), refusal);
  const bool refused = opened == nullptr;
  if (opened) std::fclose(opened);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  returned.notify_all();
  reader.join();
  EXPECT_TRUE(refused);
  EXPECT_EQ(refusal.text, "Cannot create output wave file '" + pipe + "'");
}

TEST_F(WaveTest, OpensAtTheFirstSampleAndCountsFrames) {
  const std::vector<std::uint8_t> data = {0x11, 0x22, 0x33, 0x44, 0x55};
  ASSERT_NE(open(test::waveBytes(data, 1, 16, 44100)), nullptr);
  EXPECT_EQ(info.sampleCount, 2u);  // 5 bytes: rounded down to whole frames
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.bitsPerSample, 16);
  EXPECT_EQ(info.sampleRate, 44100u);
  EXPECT_FALSE(info.rejected);
  unsigned char first[2];
  ASSERT_EQ(std::fread(first, 1, 2, stream), 2u);
  EXPECT_EQ(first[0], 0x11);
  EXPECT_EQ(first[1], 0x22);
}

TEST_F(WaveTest, ForeignChunksAreSkippedByTheirStatedSize) {
  const auto fmt = chunkBytes("fmt ", fmtBody(1, 1, 44100, 44100, 1, 8));
  const auto data = chunkBytes("data", {200, 201, 202});
  // LIST before "fmt " and between "fmt " and "data"; an odd-sized chunk
  // with no pad byte after it.
  ASSERT_NE(open(riffBytes({chunkBytes("LIST", std::vector<std::uint8_t>(26, 'x')), fmt, chunkBytes("odd ", {1, 2, 3}),
                            chunkBytes("LIST", {9, 9}), data})),
            nullptr);
  EXPECT_EQ(info.sampleCount, 3u);
  EXPECT_EQ(info.bitsPerSample, 8);
  EXPECT_EQ(std::fgetc(stream), 200);
  TearDownStream();

  // With a pad byte after the odd chunk, the walk lands one byte early and
  // finds no "data".
  auto padded = chunkBytes("odd ", {1, 2, 3});
  padded.push_back(0);
  EXPECT_EQ(open(riffBytes({fmt, padded, data})), nullptr);
  EXPECT_TRUE(info.rejected);
}

TEST_F(WaveTest, AHugeChunkBeforeTheSoughtOneEndsTheWalkAHugeDataChunkIsFine) {
  const auto fmt = chunkBytes("fmt ", fmtBody(1, 1, 44100, 88200, 2, 16));
  ASSERT_NE(open(riffBytes({fmt, chunkBytes("data", {1, 2, 3, 4}, 0xFFFFFFF0)})), nullptr);
  EXPECT_EQ(info.sampleCount, 0x7FFFFFF8u);
  TearDownStream();

  const auto justBelow =
      riffBytes({chunkBytes("junk", std::vector<std::uint8_t>(10000000, 0)), fmt, chunkBytes("data", {1, 2})});
  ASSERT_NE(open(justBelow), nullptr);
  EXPECT_EQ(info.sampleCount, 1u);
  TearDownStream();

  EXPECT_EQ(open(riffBytes({chunkBytes("junk", {}, 10000001), fmt, chunkBytes("data", {1, 2})})), nullptr);
  EXPECT_EQ(refusal.text, kUnrecognized);
  EXPECT_EQ(open(riffBytes({fmt, chunkBytes("junk", {}, 10000001), chunkBytes("data", {1, 2})})), nullptr);
  EXPECT_TRUE(info.rejected);
}

TEST_F(WaveTest, UnrecognizedFilesAreRefusedWithTheirOwnCaption) {
  const auto fmt16 = fmtBody(1, 1, 44100, 88200, 2, 16);
  const auto data = chunkBytes("data", {0, 0});
  auto withFmt = [&](const std::vector<std::uint8_t>& body) { return riffBytes({chunkBytes("fmt ", body), data}); };
  auto fmt18 = fmt16;
  fmt18.push_back(2);  // cbSize 2, and its two bytes
  fmt18.push_back(0);
  auto notRiff = withFmt(fmt16);
  std::memcpy(notRiff.data(), "RIFX", 4);
  auto smallRiff = withFmt(fmt16);
  smallRiff[4] = 35;
  smallRiff[5] = smallRiff[6] = smallRiff[7] = 0;
  auto notWave = withFmt(fmt16);
  std::memcpy(notWave.data() + 8, "AVI ", 4);
  auto truncated = withFmt(fmt16);
  truncated.resize(30);

  const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
      {"not RIFF", notRiff},
      {"RIFF size 35", smallRiff},
      {"not WAVE", notWave},
      {"no fmt chunk", riffBytes({chunkBytes("data", std::vector<std::uint8_t>(40, 0))})},
      {"fmt size 18 with an extension", withFmt(fmt18)},
      {"format tag 3", withFmt(fmtBody(3, 1, 44100, 88200, 2, 16))},
      {"byte rate", withFmt(fmtBody(1, 1, 44100, 88201, 2, 16))},
      {"block align", withFmt(fmtBody(1, 1, 44100, 132300, 3, 16))},
      {"no data chunk", riffBytes({chunkBytes("fmt ", fmt16), chunkBytes("LIST", std::vector<std::uint8_t>(40, 0))})},
      {"header cut short", truncated},
      {"empty file", {}},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(open(bytes), nullptr);
    EXPECT_TRUE(info.rejected);
    EXPECT_EQ(refusal.caption, "Unsound soundfile");
    EXPECT_EQ(refusal.text, kUnrecognized);
    EXPECT_EQ(refusal.boxType, kBoxIconError | kBoxOk);
  }
}

// PCM described by an 18-byte record with an empty extension, or by
// WAVE_FORMAT_EXTENSIBLE with the PCM subformat, is the PCM it is; an
// extensible record of another subformat is not.
TEST_F(WaveTest, EveryRecordThatDescribesPcmIsRead) {
  const std::vector<std::uint8_t> data = {0x11, 0x22, 0x33, 0x44};
  auto fmt18 = fmtBody(1, 1, 44100, 88200, 2, 16);
  fmt18.insert(fmt18.end(), {0, 0});
  // An extensible record: the 16 bytes, cbSize 22, valid bits, channel
  // mask, and the subformat GUID whose first two bytes are the tag.
  auto extensible = [](int subformat, int bits, int channels) {
    const int align = channels * bits / 8;
    auto body = fmtBody(0xFFFE, channels, 44100, 44100u * static_cast<std::uint32_t>(align), align, bits);
    const std::vector<std::uint8_t> tail = {22, 0, static_cast<std::uint8_t>(bits), 0, 4, 0, 0, 0,
                                            static_cast<std::uint8_t>(subformat), 0, 0, 0, 0, 0, 0x10, 0,
                                            0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    body.insert(body.end(), tail.begin(), tail.end());
    return body;
  };
  for (const auto& [name, body] : std::vector<std::pair<const char*, std::vector<std::uint8_t>>>{
           {"fmt 18, cbSize 0", fmt18}, {"extensible PCM", extensible(1, 16, 1)}}) {
    SCOPED_TRACE(name);
    ASSERT_NE(open(riffBytes({chunkBytes("fmt ", body), chunkBytes("data", data)})), nullptr) << refusal.text;
    EXPECT_EQ(info.sampleCount, 2u);
    EXPECT_EQ(info.bitsPerSample, 16);
    unsigned char first = 0;
    ASSERT_EQ(std::fread(&first, 1, 1, stream), 1u);
    EXPECT_EQ(first, 0x11);
  }
  EXPECT_EQ(open(riffBytes({chunkBytes("fmt ", extensible(3, 32, 1)), chunkBytes("data", data)})), nullptr);
  EXPECT_EQ(refusal.text, kUnrecognized);
  // Extensible 24-bit PCM is PCM of the wrong depth, not an unknown format.
  EXPECT_EQ(open(riffBytes({chunkBytes("fmt ", extensible(1, 24, 1)), chunkBytes("data", data)})), nullptr);
  EXPECT_EQ(refusal.text, "Input wave file must have 8 or 16 bit data format.");
}

// Every data length is counted in whole frames; every header cut short, and
// bytes that are no wave at all, are refused without reading past them.
TEST_F(WaveTest, LengthsTruncationsAndNonsense) {
  for (std::size_t length : {0u, 1u, 2u, 3u, 7u, 127u, 2049u}) {
    SCOPED_TRACE(length);
    const std::vector<std::uint8_t> data(length, 0x5A);
    ASSERT_NE(open(test::waveBytes(data, 1, 8, 44100)), nullptr);
    EXPECT_EQ(info.sampleCount, length);
    std::vector<std::uint8_t> read(length + 1);
    EXPECT_EQ(std::fread(read.data(), 1, read.size(), stream), length);
    ASSERT_NE(open(test::waveBytes(data, 1, 16, 44100)), nullptr);
    EXPECT_EQ(info.sampleCount, length / 2);
  }
  const auto whole = riffBytes({chunkBytes("LIST", {1, 2, 3}), chunkBytes("fmt ", fmtBody(1, 1, 44100, 88200, 2, 16)),
                                chunkBytes("data", {1, 2, 3, 4})});
  for (std::size_t cut = 0; cut + 4 < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(open(std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut))),
              nullptr);
    EXPECT_EQ(refusal.text, kUnrecognized);
  }
  std::uint32_t x = 12345;
  for (std::size_t length : {1u, 2u, 3u, 7u, 12u, 44u, 127u, 2049u}) {
    std::vector<std::uint8_t> nonsense(length);
    for (auto& b : nonsense) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    EXPECT_EQ(open(nonsense), nullptr) << length;
    EXPECT_EQ(refusal.text, kUnrecognized);
  }
}

TEST_F(WaveTest, ChannelsThenBitsThenRate) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> fmt;
    std::string text;
  };
  const std::string stereo =
      "The input wave is stereo (or it has more channels). This is not supported in this version of Vellomar.";
  const std::vector<Case> cases = {
      {"stereo 24-bit", fmtBody(1, 2, 44100, 264600, 6, 24), stereo},
      {"stereo 16-bit at 48000", fmtBody(1, 2, 48000, 192000, 4, 16), stereo},
      {"mono 24-bit at 48000", fmtBody(1, 1, 48000, 144000, 3, 24),
       "Input wave file must have 8 or 16 bit data format."},
      {"mono 16-bit at 48000", fmtBody(1, 1, 48000, 96000, 2, 16),
       "The input wave file has wrong sampling frequency.\nExpected: 44100, present: 48000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(open(riffBytes({chunkBytes("fmt ", c.fmt), chunkBytes("data", {0, 0, 0, 0, 0, 0})})), nullptr);
    EXPECT_TRUE(info.rejected);
    EXPECT_EQ(refusal.text, c.text);
    EXPECT_EQ(refusal.caption, "Vellomar: ERROR");
  }
  // Readers of the program's own stereo output take two channels, no more.
  const auto stereo16 = riffBytes({chunkBytes("fmt ", fmtBody(1, 2, 44100, 176400, 4, 16)),
                                   chunkBytes("data", {1, 2, 3, 4, 5, 6, 7, 8, 9})});
  TearDownStream();
  held = stereo16;
  stream = memoryStream(held);
  refusal = readWaveHeader(stream, info, 44100, 2);
  EXPECT_FALSE(refusal) << refusal.text;
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.sampleCount, 2u);  // frames
  EXPECT_EQ(std::fgetc(stream), 1);
  TearDownStream();
  held = riffBytes({chunkBytes("fmt ", fmtBody(1, 3, 44100, 264600, 6, 16)), chunkBytes("data", {0, 0, 0, 0, 0, 0})});
  stream = memoryStream(held);
  refusal = readWaveHeader(stream, info, 44100, 2);
  EXPECT_EQ(refusal.text,
            "The input wave is stereo (or it has more channels). This is not supported in this version of Vellomar.");
  TearDownStream();
  // Any rate is accepted when none is expected.
  ASSERT_NE(open(riffBytes({chunkBytes("fmt ", fmtBody(1, 1, 48000, 96000, 2, 16)), chunkBytes("data", {0, 0})}), 0),
            nullptr);
  EXPECT_EQ(info.sampleRate, 48000u);
}

TEST_F(WaveTest, AMissingFileIsReportedByNameAndNotMarkedRejected) {
  const std::string path = dir.file("nowhere.wav");
  info.rejected = true;
  EXPECT_EQ(openInputWave(path, info, 44100, refusal), nullptr);
  EXPECT_FALSE(info.rejected);
  EXPECT_EQ(refusal.text, "Cannot open input wave file '" + path + "'");

  // A file on disk is read as memory is.
  test::writeFile(dir.file("short.wav"), test::waveBytes({1, 2, 3}, 1, 8, 44100));
  std::FILE* opened = openInputWave(dir.file("short.wav"), info, 44100, refusal);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(info.sampleCount, 3u);
  EXPECT_EQ(std::fgetc(opened), 1);
  std::fclose(opened);
}

// A folder or a named pipe is no file to read: it is reported as one that
// cannot be opened, and a pipe with no writer does not hold the caller up.
TEST_F(WaveTest, FoldersAndPipesCannotBeOpened) {
  const std::string folder = dir.file("folder.wav");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(openInputWave(folder, info, 44100, refusal), nullptr);
  EXPECT_FALSE(info.rejected);
  EXPECT_EQ(refusal.text, "Cannot open input wave file '" + folder + "'");

  const std::string pipe = dir.file("pipe.wav");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // Should the open wait for a writer, one comes after two seconds and
  // hangs up at once, so that the test fails instead of hanging.
  std::mutex mutex;
  std::condition_variable returned;
  bool done = false;
  std::thread writer([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (returned.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) return;
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    if (fd >= 0) ::close(fd);
  });
  std::FILE* opened = openInputWave(pipe, info, 44100, refusal);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  returned.notify_one();
  writer.join();
  EXPECT_EQ(opened, nullptr);
  if (opened) std::fclose(opened);
  EXPECT_FALSE(info.rejected);
  EXPECT_EQ(refusal.text, "Cannot open input wave file '" + pipe + "'");
}

TEST_F(WaveTest, ProbeTellsTheDurationOfAnAcceptableFileOrWhyNot) {
  test::writeFile(dir.file("eight.wav"), test::waveBytes(std::vector<std::uint8_t>(22050, 128), 1, 8, 44100));
  WaveProbe probe = probeInputWave(dir.file("eight.wav"), 44100);
  EXPECT_TRUE(probe.usable);
  EXPECT_FLOAT_EQ(probe.durationSeconds, 0.5f);
  EXPECT_FALSE(probe.refusal);

  test::writeFile(dir.file("sixteen.wav"), test::waveBytes(std::vector<std::uint8_t>(88200, 0), 1, 16, 44100));
  probe = probeInputWave(dir.file("sixteen.wav"), 44100);
  EXPECT_TRUE(probe.usable);
  EXPECT_FLOAT_EQ(probe.durationSeconds, 1.0f);

  test::writeFile(dir.file("fast.wav"), test::waveBytes(std::vector<std::uint8_t>(96000, 0), 1, 16, 48000));
  probe = probeInputWave(dir.file("fast.wav"), 44100);
  EXPECT_FALSE(probe.usable);
  EXPECT_EQ(probe.durationSeconds, 0.0f);
  EXPECT_EQ(probe.refusal.text, "The input wave file has wrong sampling frequency.\nExpected: 44100, present: 48000");

  probe = probeInputWave("", 44100);
  EXPECT_FALSE(probe.usable);
  EXPECT_EQ(probe.durationSeconds, 0.0f);
  EXPECT_FALSE(probe.refusal);
}

}  // namespace
}  // namespace vellomar

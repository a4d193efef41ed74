// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the engine, files and command-line tests.
#pragma once

#include <QImage>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/settings.h"

namespace vellomar::test {

// A fresh directory under the system's temporary folder, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Bytes of a canonical PCM wave file: RIFF header, "fmt " (16 bytes), "data".
std::vector<std::uint8_t> waveBytes(const std::vector<std::uint8_t>& data, int channels, int bits,
                                    std::uint32_t rate);
// 16-bit mono samples as little-endian bytes.
std::vector<std::uint8_t> pcm16Bytes(const std::vector<std::int16_t>& samples);

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);
bool fileExists(const std::string& path);

// A RIFF chunk: 4-character id, little-endian size (the body's length
// unless `statedSize` is given) and the body, with no pad byte.
std::vector<std::uint8_t> chunkBytes(const char* id, const std::vector<std::uint8_t>& body,
                                     std::int64_t statedSize = -1);
// "RIFF", size, "WAVE" followed by the given chunks.
std::vector<std::uint8_t> riffBytes(const std::vector<std::vector<std::uint8_t>>& chunks);
// The 16-byte body of a "fmt " chunk.
std::vector<std::uint8_t> fmtBody(int formatTag, int channels, std::uint32_t rate, std::uint32_t byteRate,
                                  int blockAlign, int bits);
std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t offset);

// The 16-bit samples after the 44-byte header of a file we wrote.
std::vector<std::int16_t> waveSamples(const std::string& path);

// Voice-like test sound: a gliding fundamental near 150 Hz with harmonics
// up to about 5 kHz, under a slow syllable envelope; peaks near `peak`.
std::vector<std::int16_t> speechLike(std::size_t count, double peak);

// A picture for the engine: brightness(x, y) gives the byte of column x,
// row y (row 0 = top). data() points at the bytes while the object lives.
class TestPicture {
 public:
  template <typename F>
  TestPicture(std::uint32_t width, std::uint32_t height, F brightness) {
    fill(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) at(x, y) = static_cast<std::uint8_t>(brightness(x, y));
    }
  }
  TestPicture(const TestPicture&) = delete;
  TestPicture& operator=(const TestPicture&) = delete;
  const PictureData& data() const { return data_; }

 private:
  void fill(std::uint32_t width, std::uint32_t height);
  std::uint8_t& at(std::uint32_t x, std::uint32_t y);
  std::vector<std::uint8_t> bytes_;
  PictureData data_;
};

// Pearson's r between the grey values of two pictures of one size.
double pictureCorrelation(const QImage& a, const QImage& b);

// Energy of `samples` between lowHz and highHz (a plain DFT over bins).
double bandEnergy(const std::vector<std::int16_t>& samples, double lowHz, double highHz);

// Records every message shown while it lives instead of printing it.
struct ShownMessage {
  unsigned boxType;
  std::string caption;
  std::string text;
};
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;
  const std::vector<ShownMessage>& messages() const { return messages_; }
  // The only message shown, or an empty one (and a test failure) otherwise.
  ShownMessage only() const;
  // The button that Yes/No questions get (Yes unless changed).
  void answerQuestionsWith(int button) { questionAnswer_ = button; }
  // The button that questions about unsaved edits get (Cancel unless
  // changed: Yes saves, No discards).
  void answerUnsavedWith(int button) { unsavedAnswer_ = button; }
  void clear() { messages_.clear(); }

 private:
  std::vector<ShownMessage> messages_;
  int questionAnswer_ = 6;  // kButtonYes
  int unsavedAnswer_ = 2;   // kButtonCancel
};

// A wave file's 44-byte header for `count` 16-bit frames of `channels`
// channels, written to a new file at `path`; returns the stream positioned
// after it.
std::FILE* createTestOutput(const std::string& path, std::uint32_t count, int channels = 1);

// Channel `channel` of interleaved 16-bit frames of `channels` channels.
std::vector<std::int16_t> channelSamples(const std::vector<std::int16_t>& frames, int channels, int channel);

// Hashes of files, for comparing renders: FNV-1a over every byte.
std::uint64_t fileHash(const std::string& path);

}  // namespace vellomar::test

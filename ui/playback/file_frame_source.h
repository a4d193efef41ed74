// SPDX-License-Identifier: GPL-3.0-or-later
// A finished sound file as a frame source: every frame is there from the
// start and no block ever changes.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

#include "files/messages.h"
#include "ui/playback/frame_source.h"

namespace vellomar {

class FileFrameSource : public FrameSource {
 public:
  // Opens the sound file at `path`: a wave of 8 or 16 bits is read as it
  // is; every other file libsndfile reads (the 24-bit and float waves and
  // the FLAC files the program writes among them) is decoded by it as it
  // plays. One or two channels, any rate. Null, with the reason in
  // `refusal`, when it cannot be read. The file's samples are read from
  // the open file on demand, so a file replaced or deleted under the same
  // name meanwhile plays on as it was when opened.
  static std::unique_ptr<FileFrameSource> open(const std::string& path, Refusal& refusal);
  ~FileFrameSource() override;
  FileFrameSource(const FileFrameSource&) = delete;
  FileFrameSource& operator=(const FileFrameSource&) = delete;

  int channels() const override { return channels_; }
  std::uint32_t sampleRate() const override { return sampleRate_; }
  std::int64_t frameCount() const override { return frameCount_; }
  std::int64_t blockOf(std::int64_t frame) const override { return frame / kBlockFrames; }
  std::int64_t read(std::int64_t first, std::int64_t count, float* out) override;
  std::uint64_t generation(std::int64_t) const override { return 1; }
  std::string failure() const override { return failure_; }

 private:
  FileFrameSource() = default;
  static std::unique_ptr<FileFrameSource> openDecoded(const std::string& path, int fd, Refusal& refusal);
  std::int64_t readDecoded(std::int64_t first, std::int64_t count, float* out);
  static constexpr std::int64_t kBlockFrames = 4096;
  // Bytes read from the file at a time, a whole number of frames of any
  // layout (1, 2 or 4 bytes a frame).
  static constexpr std::int64_t kChunkBytes = 4096;

  int fd_ = -1;
  // Files other than 8 or 16-bit waves, decoded by libsndfile on the
  // audio thread (which alone reads them): where the decoder stands.
  SNDFILE* sound_ = nullptr;
  std::int64_t decoderFrame_ = 0;
  std::string path_;
  std::int64_t dataOffset_ = 0;
  int channels_ = 1;
  int bytesPerSample_ = 2;
  std::uint32_t sampleRate_ = 44100;
  std::int64_t frameCount_ = 0;
  unsigned char chunk_[kChunkBytes] = {};
  std::string failure_;
};

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/file_frame_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/wav.h"

namespace vellomar {

std::unique_ptr<FileFrameSource> FileFrameSource::open(const std::string& path, Refusal& refusal) {
  struct stat before = {};
  if (::stat(path.c_str(), &before) != 0 && errno == ENOENT) {
    refusal = errorRefusal("The sound '%s' is not there any more.\nGenerate it again to hear it.", path.c_str());
    return nullptr;
  }
  WaveInfo info;
  Refusal why;
  std::FILE* file = openInputWave(path, info, 0, why, 2);
  if (!file) {
    // Not a wave read as it is: one libsndfile decodes, or the reader's
    // reason.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      Refusal decoderWhy;
      if (auto decoded = openDecoded(path, fd, decoderWhy)) return decoded;
    }
    refusal = errorRefusal("Cannot play '%s':\n%s", path.c_str(),
                           why ? why.text.c_str() : "the file cannot be read.");
    return nullptr;
  }
  const long offset = std::ftell(file);
  // Our own descriptor, read by position: no stream's lock on the audio
  // thread.
  const int fd = ::dup(::fileno(file));
  std::fclose(file);
  struct stat st = {};
  if (offset < 0 || fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    refusal = errorRefusal("Cannot play '%s': the file cannot be read.", path.c_str());
    return nullptr;
  }
  std::unique_ptr<FileFrameSource> source(new FileFrameSource());
  source->fd_ = fd;
  source->path_ = path;
  source->dataOffset_ = offset;
  source->channels_ = info.channels;
  source->bytesPerSample_ = info.bitsPerSample / 8;
  source->sampleRate_ = info.sampleRate;
  const std::int64_t frameBytes = static_cast<std::int64_t>(info.channels) * source->bytesPerSample_;
  // A file shorter than its header says ends where its data does.
  const std::int64_t stored = std::max<std::int64_t>(0, (static_cast<std::int64_t>(st.st_size) - offset) / frameBytes);
  source->frameCount_ = std::min<std::int64_t>(info.sampleCount, stored);
  return source;
}

std::unique_ptr<FileFrameSource> FileFrameSource::openDecoded(const std::string& path, int fd, Refusal& refusal) {
  SF_INFO info = {};
  // libsndfile owns the descriptor from here on, failing or not.
  SNDFILE* sound = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  if (!sound) {
    refusal = errorRefusal("%s", sf_strerror(nullptr));
    return nullptr;
  }
  if (info.channels < 1 || info.channels > 2 || info.samplerate <= 0 || info.frames < 0 || !info.seekable) {
    sf_close(sound);
    refusal = errorRefusal("Only sounds of one or two channels can be played.");
    return nullptr;
  }
  // Full scale at +-1 for every depth.
  sf_command(sound, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  std::unique_ptr<FileFrameSource> source(new FileFrameSource());
  source->sound_ = sound;
  source->path_ = path;
  source->channels_ = info.channels;
  source->sampleRate_ = static_cast<std::uint32_t>(info.samplerate);
  source->frameCount_ = info.frames;
  return source;
}

FileFrameSource::~FileFrameSource() {
  if (sound_) sf_close(sound_);
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t FileFrameSource::readDecoded(std::int64_t first, std::int64_t count, float* out) {
  // Reading on from where the last read ended needs no seek (a seek in a
  // FLAC file decodes from a frame boundary).
  if (first != decoderFrame_ && sf_seek(sound_, first, SEEK_SET) != first) {
    failure_ = "The sound file '" + path_ + "' could not be read: " + sf_strerror(sound_);
    return -1;
  }
  decoderFrame_ = first;
  const sf_count_t got = sf_readf_float(sound_, out, count);
  decoderFrame_ += std::max<sf_count_t>(0, got);
  if (got < count) {
    failure_ = "The sound file '" + path_ + "' was cut short while it played.";
    if (got <= 0) return -1;
  }
  return got;
}

std::int64_t FileFrameSource::read(std::int64_t first, std::int64_t count, float* out) {
  if (!failure_.empty()) return -1;
  if (first < 0 || first >= frameCount_ || count <= 0) return 0;
  count = std::min(count, frameCount_ - first);
  if (sound_) return readDecoded(first, count, out);
  const std::int64_t frameBytes = static_cast<std::int64_t>(channels_) * bytesPerSample_;
  const std::int64_t framesPerChunk = kChunkBytes / frameBytes;
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t frames = std::min(framesPerChunk, count - done);
    const std::int64_t want = frames * frameBytes;
    const ssize_t got = ::pread(fd_, chunk_, static_cast<std::size_t>(want),
                                static_cast<off_t>(dataOffset_ + (first + done) * frameBytes));
    if (got < 0) {
      if (errno == EINTR) continue;
      failure_ = "The sound file '" + path_ + "' could not be read: " + std::strerror(errno) + ".";
      return -1;
    }
    const std::int64_t samples = (got / frameBytes) * channels_;
    float* to = out + done * channels_;
    if (bytesPerSample_ == 1) {
      for (std::int64_t i = 0; i < samples; ++i) to[i] = (static_cast<float>(chunk_[i]) - 128.0f) / 128.0f;
    } else {
      for (std::int64_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::int16_t>(chunk_[2 * i] | (chunk_[2 * i + 1] << 8));
        to[i] = static_cast<float>(v) / 32768.0f;
      }
    }
    done += got / frameBytes;
    if (got < want) {
      // Cut short by another program since it was opened: what is there
      // plays, then playing stops saying why.
      failure_ = "The sound file '" + path_ + "' was cut short while it played.";
      break;
    }
  }
  return done;
}

}  // namespace vellomar

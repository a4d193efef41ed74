// SPDX-License-Identifier: GPL-3.0-or-later
// The sound sink of files/audio_output.h: a stream made with fopencookie
// whose writes are the engine's samples, decoded, resampled when asked,
// encoded and written to the output file.

#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "files/audio_output.h"

namespace vellomar {
namespace {

static_assert(std::endian::native == std::endian::little, "samples are written as the host's little-endian bytes");

// Frames decoded (and resampled) at a time.
constexpr std::size_t kChunkFrames = 4096;
constexpr std::size_t kMaxFrameBytes = 8;  // two channels of 32 bits

// A value at full scale 1.0 as a `bits`-bit integer: rounded, held within
// the integer's range.
std::int32_t quantize(float value, int bits) {
  const double scale = bits == 16 ? 32768.0 : 8388608.0;
  const double x = static_cast<double>(value) * scale;
  if (!(x < scale - 1.0)) return static_cast<std::int32_t>(scale - 1.0);
  if (x <= -scale) return static_cast<std::int32_t>(-scale);
  return static_cast<std::int32_t>(std::floor(x + 0.5));
}

class SoundSink {
 public:
  SoundSink(std::FILE* target, const OutputFormat& format, SampleEncoding encoding, int channels,
            std::uint64_t frames, std::uint32_t fromRate)
      : target_(target),
        format_(format),
        encoding_(encoding),
        channels_(static_cast<std::size_t>(channels)),
        fromRate_(fromRate),
        inFrames_(frames),
        outFrames_(outputFrames(frames, format.rate, fromRate)) {}

  ~SoundSink() {
    if (flac_) sf_close(flac_);
    if (resampler_) soxr_delete(resampler_);
    if (target_) std::fclose(target_);
  }

  // Makes the buffers, the resampler and the header or encoder.
  bool start(Refusal& refusal) {
    try {
      in_.resize(kChunkFrames * channels_);
      if (resampled()) out_.resize(outCapacity() * channels_);
      bytes_.resize(std::max(kChunkFrames, outCapacity()) * channels_ * 4);
      ints_.resize(std::max(kChunkFrames, outCapacity()) * channels_);
    } catch (const std::bad_alloc&) {
      refusal = refusalForResult(kResultNoMemory);
      return false;
    }
    if (resampled()) {
      soxr_error_t error = nullptr;
      const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
      const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
      resampler_ = soxr_create(fromRate_, format_.rate, static_cast<unsigned>(channels_), &error, &io, &quality, nullptr);
      if (!resampler_ || error) {
        refusal = refusalForResult(kResultNoMemory);
        return false;
      }
    }
    if (isFlac(format_.kind)) return startFlac(refusal);
    return writeSoundHeader(target_, format_.kind, static_cast<int>(channels_), format_.rate, outFrames_, refusal);
  }

  ssize_t write(const char* buffer, std::size_t size) {
    if (failed_) {
      errno = EIO;
      return -1;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(bytesPerSample(encoding_)) * channels_;
    const auto* p = reinterpret_cast<const unsigned char*>(buffer);
    std::size_t left = size;
    // A frame split between two writes is put together first.
    if (carried_ > 0) {
      const std::size_t take = std::min(left, frameBytes - carried_);
      std::memcpy(carry_ + carried_, p, take);
      carried_ += take;
      p += take;
      left -= take;
      if (carried_ == frameBytes) {
        carried_ = 0;
        if (!takeFrames(carry_, 1)) return fail();
      }
    }
    while (left >= frameBytes) {
      const std::size_t count = std::min(left / frameBytes, kChunkFrames);
      if (!takeFrames(p, count)) return fail();
      p += count * frameBytes;
      left -= count * frameBytes;
    }
    std::memcpy(carry_ + carried_, p, left);
    carried_ += left;
    return static_cast<ssize_t>(size);
  }

  // Finishes the file: what the resampler holds, the frames a resampled
  // count rounds to, the pad byte, the encoder's end. Then closes the
  // target. False when any of it failed or the render delivered less than
  // it announced.
  bool finish() {
    bool ok = !failed_ && carried_ == 0 && received_ == inFrames_;
    if (ok && resampler_) {
      for (;;) {
        std::size_t used = 0;
        std::size_t made = 0;
        if (soxr_process(resampler_, nullptr, 0, &used, out_.data(), outCapacity(), &made) != nullptr) ok = false;
        if (!ok || made == 0) break;
        ok = emit(out_.data(), made);
      }
      // What the rounding of the count leaves: silence.
      std::fill(out_.begin(), out_.end(), 0.0f);
      while (ok && written_ < outFrames_) ok = emit(out_.data(), std::min<std::uint64_t>(outCapacity(), outFrames_ - written_));
    }
    ok = ok && written_ == outFrames_;
    if (flac_) {
      ok = sf_close(flac_) == 0 && ok;
      flac_ = nullptr;
    } else if (ok && !isFlac(format_.kind)) {
      const std::uint64_t dataBytes = outFrames_ * channels_ * (bitsOut() / 8);
      if (dataBytes & 1) ok = std::fputc(0, target_) != EOF;
    }
    ok = std::fflush(target_) == 0 && !std::ferror(target_) && ok;
    ok = std::fclose(target_) == 0 && ok;
    target_ = nullptr;
    return ok;
  }

 private:
  bool resampled() const { return format_.rate != fromRate_; }

  std::size_t outCapacity() const {
    // A chunk at the output's rate (up to eight times the input's; a
    // higher ratio takes a chunk in parts) and what the resampler keeps
    // back.
    if (!resampled()) return kChunkFrames;
    const double ratio = std::min(8.0, static_cast<double>(format_.rate) / static_cast<double>(fromRate_));
    return static_cast<std::size_t>(std::ceil(static_cast<double>(kChunkFrames) * ratio)) + 1024;
  }

  int bitsOut() const {
    switch (format_.kind) {
      case OutputKind::Wav16:
      case OutputKind::Flac16:
        return 16;
      case OutputKind::Wav24:
      case OutputKind::Flac24:
        return 24;
      case OutputKind::WavFloat:
        return 32;
    }
    return 16;
  }

  ssize_t fail() {
    failed_ = true;
    if (errno == 0) errno = EIO;
    return -1;
  }

  // Decodes `count` whole frames of the engine's bytes and passes them on.
  bool takeFrames(const unsigned char* p, std::size_t count) {
    float* in = in_.data();
    decodeSamples(p, count * channels_, encoding_, in);
    received_ += count;
    if (!resampler_) return emit(in, count);
    std::size_t offered = 0;
    while (offered < count) {
      std::size_t used = 0;
      std::size_t made = 0;
      if (soxr_process(resampler_, in + offered * channels_, count - offered, &used, out_.data(), outCapacity(),
                       &made) != nullptr) {
        return false;
      }
      offered += used;
      if (!emit(out_.data(), made)) return false;
    }
    return true;
  }

  // Encodes and writes `count` frames at the output rate, no more than the
  // file announces.
  bool emit(const float* frames, std::size_t count) {
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, outFrames_ - written_));
    if (count == 0) return true;
    const std::size_t samples = count * channels_;
    const int bits = bitsOut();
    if (flac_) {
      const int shift = 32 - bits;
      for (std::size_t i = 0; i < samples; ++i) {
        ints_[i] = static_cast<int>(static_cast<std::uint32_t>(quantize(frames[i], bits)) << shift);
      }
      if (sf_writef_int(flac_, ints_.data(), static_cast<sf_count_t>(count)) != static_cast<sf_count_t>(count)) {
        return false;
      }
    } else {
      unsigned char* b = bytes_.data();
      for (std::size_t i = 0; i < samples; ++i) {
        if (bits == 32) {
          std::memcpy(b, &frames[i], 4);
          b += 4;
          continue;
        }
        const std::int32_t v = quantize(frames[i], bits);
        *b++ = static_cast<unsigned char>(v);
        *b++ = static_cast<unsigned char>(v >> 8);
        if (bits == 24) *b++ = static_cast<unsigned char>(v >> 16);
      }
      const auto used = static_cast<std::size_t>(b - bytes_.data());
      if (std::fwrite(bytes_.data(), 1, used, target_) != used) return false;
    }
    written_ += count;
    return true;
  }

  // libsndfile writes FLAC through these, into the target stream. A
  // stream that cannot seek (a pipe) takes the frames in order; the
  // encoder's attempt to go back and state the length at the end is
  // dropped, leaving it unstated, as a streamed FLAC file has it.
  static sf_count_t length(void* self) { return static_cast<SoundSink*>(self)->position_; }
  static sf_count_t seek(sf_count_t offset, int whence, void* self) {
    auto* sink = static_cast<SoundSink*>(self);
    const sf_count_t to = whence == SEEK_SET ? offset : sink->position_ + offset;
    if (to == sink->position_ && !sink->lostPosition_) return to;
    if (!sink->seekable_ || fseeko(sink->target_, static_cast<off_t>(to), SEEK_SET) != 0) {
      sink->lostPosition_ = true;
      return -1;
    }
    sink->position_ = to;
    return to;
  }
  static sf_count_t read(void*, sf_count_t, void*) { return 0; }
  static sf_count_t put(const void* data, sf_count_t count, void* self) {
    auto* sink = static_cast<SoundSink*>(self);
    if (sink->lostPosition_) return count;
    const std::size_t done = std::fwrite(data, 1, static_cast<std::size_t>(count), sink->target_);
    sink->position_ += static_cast<sf_count_t>(done);
    return static_cast<sf_count_t>(done);
  }
  static sf_count_t tell(void* self) { return static_cast<SoundSink*>(self)->position_; }

  bool startFlac(Refusal& refusal) {
    struct stat st = {};
    seekable_ = ::fstat(::fileno(target_), &st) == 0 && S_ISREG(st.st_mode);
    position_ = seekable_ ? static_cast<sf_count_t>(ftello(target_)) : 0;
    SF_INFO info = {};
    info.samplerate = static_cast<int>(format_.rate);
    info.channels = static_cast<int>(channels_);
    info.format = SF_FORMAT_FLAC | (format_.kind == OutputKind::Flac24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    io_ = SF_VIRTUAL_IO{&SoundSink::length, &SoundSink::seek, &SoundSink::read, &SoundSink::put, &SoundSink::tell};
    flac_ = sf_open_virtual(&io_, SFM_WRITE, &info, this);
    if (!flac_) {
      refusal = refusalForResult(kResultWriteFailed);
      return false;
    }
    return true;
  }

  std::FILE* target_;
  const OutputFormat format_;
  const SampleEncoding encoding_;
  const std::size_t channels_;
  const std::uint32_t fromRate_;
  const std::uint64_t inFrames_;
  const std::uint64_t outFrames_;
  std::uint64_t received_ = 0;  // frames the engine has written
  std::uint64_t written_ = 0;   // frames at the output rate written to the file
  bool failed_ = false;
  unsigned char carry_[kMaxFrameBytes] = {};
  std::size_t carried_ = 0;
  std::vector<float> in_;
  std::vector<float> out_;
  std::vector<unsigned char> bytes_;
  std::vector<int> ints_;
  soxr_t resampler_ = nullptr;
  SNDFILE* flac_ = nullptr;
  SF_VIRTUAL_IO io_ = {};
  bool seekable_ = false;
  bool lostPosition_ = false;
  sf_count_t position_ = 0;
};

ssize_t sinkWrite(void* cookie, const char* buffer, std::size_t size) {
  return static_cast<SoundSink*>(cookie)->write(buffer, size);
}

int sinkClose(void* cookie) {
  auto* sink = static_cast<SoundSink*>(cookie);
  const bool ok = sink->finish();
  delete sink;
  return ok ? 0 : EOF;
}

}  // namespace

std::FILE* openSoundSink(std::FILE* target, const OutputFormat& format, SampleEncoding encoding, int channels,
                         std::uint64_t frames, Refusal& refusal, std::uint32_t fromRate) {
  if (channels < 1 || channels > 2 || fromRate == 0 || format.rate == 0) {
    std::fclose(target);
    refusal = internalErrorRefusal(5);
    return nullptr;
  }
  auto* sink = new (std::nothrow) SoundSink(target, format, encoding, channels, frames, fromRate);
  if (!sink) {
    std::fclose(target);
    refusal = refusalForResult(kResultNoMemory);
    return nullptr;
  }
  if (!sink->start(refusal)) {
    delete sink;  // closes the target
    return nullptr;
  }
  cookie_io_functions_t functions = {};
  functions.write = &sinkWrite;
  functions.close = &sinkClose;
  std::FILE* stream = ::fopencookie(sink, "wb", functions);
  if (!stream) {
    delete sink;
    refusal = refusalForResult(kResultNoMemory);
    return nullptr;
  }
  return stream;
}

}  // namespace vellomar

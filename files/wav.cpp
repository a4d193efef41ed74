// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/wav.h"

#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/settings.h"

namespace vellomar {
namespace {

// Largest chunk a walk skips; a bigger one before the sought chunk ends the walk.
constexpr std::uint32_t kMaxSkippedChunk = 10000000;
// WAVE_FORMAT_EXTENSIBLE, and the 14 bytes after the format tag in its
// subformat GUID (00000001-0000-0010-8000-00AA00389B71 for PCM).
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr unsigned char kPcmSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Largest value a 32-bit size field holds.
constexpr std::uint64_t kMaxSizeField = 0xFFFFFFFFu;

bool readExactly(std::FILE* stream, void* buffer, std::size_t size) {
  return std::fread(buffer, 1, size, stream) == size;
}

bool read32(std::FILE* stream, std::uint32_t& value) {
  unsigned char b[4];
  if (!readExactly(stream, b, 4)) return false;
  value = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
          static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  return true;
}

std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(get16(p)) | static_cast<std::uint32_t>(get16(p + 2)) << 16;
}

void put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

// A stream over `fd`, opened without blocking, that blocks from now on. On
// failure closes `fd` and returns nullptr.
std::FILE* blockingStream(int fd, const char* mode) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* stream = ::fdopen(fd, mode);
  if (!stream) ::close(fd);
  return stream;
}

// Opens `path` for reading raw bytes when it names a regular file. A pipe,
// a device or a folder holds no wave file, and opening a pipe the ordinary
// way would wait for a writer that may never come.
std::FILE* openRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return blockingStream(fd, "rb");
}

bool writeItem(std::FILE* stream, const void* data, std::size_t size) {
  return std::fwrite(data, 1, size, stream) == size;
}

Refusal unrecognized(WaveInfo& info) {
  info.rejected = true;
  Refusal refusal;
  refusal.boxType = kBoxIconError | kBoxOk;
  refusal.caption = "Unsound soundfile";
  refusal.text =
      "The input wave file has unrecognized or wrong format.\n"
      "Acceptable format is Microsoft Wave with PCM data format (no compression), mono.";
  return refusal;
}

}  // namespace

std::FILE* openInPlace(const std::string& path, bool& created) {
  created = false;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd >= 0) {
    created = true;
    return blockingStream(fd, "wb");
  }
  if (errno != EEXIST) return nullptr;
  // Opened without truncating, and given up unless it is a device or a
  // pipe, so that a regular file that took the name meanwhile is untouched.
  fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EEXIST;
    return nullptr;
  }
  return blockingStream(fd, "wb");
}

bool waveDataFits(const WaveInfo& info, Refusal& refusal) {
  const auto channels = static_cast<std::uint16_t>(info.channels);
  const auto bits = static_cast<std::uint16_t>(info.bitsPerSample);
  const std::uint64_t blockAlign = (static_cast<std::uint64_t>(channels) * bits) / 8;
  // Every size must fit its 32-bit field, the RIFF size (data + 36) included.
  if (blockAlign * info.sampleCount + 36 <= kMaxSizeField) return true;
  refusal = errorRefusal("The sound would be too long for a wave file: %u samples, at most %u.",
                         static_cast<unsigned>(info.sampleCount),
                         static_cast<unsigned>((kMaxSizeField - 36) / blockAlign));
  return false;
}

bool noiseRenderFits(std::uint32_t sampleRate, float durationSeconds, int channels, Refusal& refusal) {
  const double count = static_cast<double>(static_cast<float>(sampleRate)) * static_cast<double>(durationSeconds);
  const std::uint64_t most = maxOutputFrames(channels);
  if (!(count > static_cast<double>(most))) return true;
  // The limit in time too, as the duration field takes it.
  const double seconds = static_cast<double>(most) / static_cast<double>(sampleRate);
  const auto whole = static_cast<unsigned long>(seconds);
  refusal = errorRefusal(
      "The sound would be too long for a wave file: %.0f samples, at most %u, which is %.1f seconds (%lu:%02lu:%02lu).",
      std::trunc(count), static_cast<unsigned>(most), std::floor(seconds * 10.0) / 10.0, whole / 3600,
      whole / 60 % 60, whole % 60);
  return false;
}

bool writeWaveHeader(std::FILE* stream, const WaveInfo& info, Refusal& refusal) {
  const auto channels = static_cast<std::uint16_t>(info.channels);
  const auto bits = static_cast<std::uint16_t>(info.bitsPerSample);
  const std::uint32_t blockAlign = (static_cast<std::uint32_t>(channels) * bits) / 8;
  const std::uint32_t dataBytes = blockAlign * info.sampleCount;

  unsigned char riffSize[4], fmtSize[4], format[16], dataSize[4];
  put32(riffSize, dataBytes + 36);
  put32(fmtSize, 16);
  put16(format + 0, 1);
  put16(format + 2, channels);
  put32(format + 4, info.sampleRate);
  put32(format + 8, info.sampleRate * blockAlign);
  put16(format + 12, blockAlign);
  put16(format + 14, bits);
  put32(dataSize, dataBytes);

  // Every write is checked (the last one alone could pass while an earlier
  // one failed and leave a header with a hole).
  bool ok = writeItem(stream, "RIFF", 4);
  ok = writeItem(stream, riffSize, 4) && ok;
  ok = writeItem(stream, "WAVE", 4) && ok;
  ok = writeItem(stream, "fmt ", 4) && ok;
  ok = writeItem(stream, fmtSize, 4) && ok;
  ok = writeItem(stream, format, 16) && ok;
  ok = writeItem(stream, "data", 4) && ok;
  ok = writeItem(stream, dataSize, 4) && ok;
  // The header goes to the file now, so that a full disk shows here and not
  // only when the render closes the stream.
  ok = std::fflush(stream) == 0 && ok;
  if (ok && !std::ferror(stream)) return true;
  refusal = refusalForResult(kResultWriteFailed);
  return false;
}

std::FILE* createOutputWave(const std::string& path, const WaveInfo& info, Refusal& refusal) {
  if (info.rejected) {
    refusal = internalErrorRefusal(5);
    return nullptr;
  }
  if (!waveDataFits(info, refusal)) return nullptr;
  bool created = false;
  std::FILE* stream = openInPlace(path, created);
  if (!stream) {
    refusal = errorRefusal("Cannot create output wave file '%s'", path.c_str());
    return nullptr;
  }
  if (!writeWaveHeader(stream, info, refusal)) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

bool findChunk(std::FILE* stream, const char* tag) {
  char id[4];
  if (!readExactly(stream, id, 4)) return false;
  if (std::memcmp(id, tag, 4) == 0) return true;
  for (;;) {
    std::uint32_t size = 0;
    if (!read32(stream, size)) return false;
    if (size > kMaxSkippedChunk) return false;
    // Skip by the stated size alone: no pad byte after an odd size.
    if (fseeko(stream, static_cast<off_t>(size), SEEK_CUR) != 0) return false;
    if (!readExactly(stream, id, 4)) return false;
    if (std::memcmp(id, tag, 4) == 0) return true;
  }
}

Refusal readWaveHeader(std::FILE* stream, WaveInfo& info, std::uint32_t expectedRate, int maxChannels) {
  info.rejected = false;
  unsigned char head[12];
  if (!readExactly(stream, head, 12) || std::memcmp(head, "RIFF", 4) != 0 || get32(head + 4) < 36 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    return unrecognized(info);
  }
  std::uint32_t fmtSize = 0;
  if (!findChunk(stream, "fmt ") || !read32(stream, fmtSize)) return unrecognized(info);
  // The 16-byte record, or the same with an empty extension (18 bytes,
  // cbSize 0), or WAVE_FORMAT_EXTENSIBLE (40 bytes) whose subformat is PCM:
  // all three describe plain PCM.
  if (fmtSize != 16 && fmtSize != 18 && fmtSize != 40) return unrecognized(info);
  unsigned char fmt[40];
  if (!readExactly(stream, fmt, fmtSize)) return unrecognized(info);
  std::uint16_t formatTag = get16(fmt + 0);
  if (fmtSize == 18 && get16(fmt + 16) != 0) return unrecognized(info);
  if (fmtSize == 40) {
    if (formatTag != kFormatExtensible || get16(fmt + 16) != 22 ||
        std::memcmp(fmt + 26, kPcmSubformatTail, sizeof kPcmSubformatTail) != 0) {
      return unrecognized(info);
    }
    formatTag = get16(fmt + 24);
  }
  const std::uint16_t channels = get16(fmt + 2);
  const std::uint32_t rate = get32(fmt + 4);
  const std::uint32_t byteRate = get32(fmt + 8);
  const std::uint16_t blockAlign = get16(fmt + 12);
  const std::uint16_t bits = get16(fmt + 14);
  // The consistency checks are made in 64 bits, so no product wraps into a match.
  if (formatTag != 1 || static_cast<std::uint64_t>(byteRate) != static_cast<std::uint64_t>(blockAlign) * rate ||
      static_cast<std::uint32_t>(blockAlign) * 8 != static_cast<std::uint32_t>(channels) * bits) {
    return unrecognized(info);
  }

  if (channels < 1 || channels > maxChannels) {
    info.rejected = true;
    return errorRefusal(
        "The input wave is stereo (or it has more channels). This is not supported in this version of Vellomar.");
  }
  if (bits != 8 && bits != 16) {
    info.rejected = true;
    return errorRefusal("Input wave file must have 8 or 16 bit data format.");
  }
  if (expectedRate != 0 && expectedRate != rate) {
    info.rejected = true;
    return errorRefusal("The input wave file has wrong sampling frequency.\nExpected: %u, present: %u",
                        static_cast<unsigned>(expectedRate), static_cast<unsigned>(rate));
  }

  info.bitsPerSample = bits;
  info.channels = channels;
  info.sampleRate = rate;

  std::uint32_t dataSize = 0;
  if (!findChunk(stream, "data") || !read32(stream, dataSize)) return unrecognized(info);
  // One or more channels of 8 or 16 bits: block align is never 0 here.
  info.sampleCount = dataSize / blockAlign;
  return Refusal{};
}

std::FILE* openInputWave(const std::string& path, WaveInfo& info, std::uint32_t expectedRate, Refusal& refusal,
                         int maxChannels) {
  info.rejected = false;
  std::FILE* stream = openRegularFile(path);
  if (!stream) {
    refusal = errorRefusal("Cannot open input wave file '%s'", path.c_str());
    return nullptr;
  }
  refusal = readWaveHeader(stream, info, expectedRate, maxChannels);
  if (refusal) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

WaveProbe probeInputWave(const std::string& path, std::uint32_t sampleRate) {
  WaveProbe probe;
  if (path.empty()) return probe;
  WaveInfo info;
  std::FILE* stream = openInputWave(path, info, sampleRate, probe.refusal);
  if (!stream) return probe;
  std::fclose(stream);
  probe.usable = true;
  probe.durationSeconds = static_cast<float>(info.sampleCount) / static_cast<float>(sampleRate);
  return probe;
}

}  // namespace vellomar

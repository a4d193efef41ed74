// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target of the input wave reader: any bytes go through the reader as
// a wave file would, and when it accepts them the samples are read after
// the header the way a render reads them. Built with libFuzzer (clang,
// VELLOMAR_FUZZ) it is a fuzzer; otherwise replay_main.cpp runs files
// through the same entry point.
//
// Besides what the sanitizers catch, the target aborts when the reader
// breaks its own promises: every refusal comes with the program's words and
// marks the file rejected, an accepted file is 8 or 16-bit mono at the
// expected rate, and the stream stands inside the file and reads the file's
// own bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/messages.h"
#include "files/wav.h"

namespace {

using vellomar::WaveInfo;

constexpr std::uint32_t kExpectedRate = 44100;
// Samples per read, and the most samples read per input, so that a header
// stating billions of samples costs no more than a short file.
constexpr std::size_t kBlockSamples = 2048;
constexpr std::size_t kMaxSamples = 16 * kBlockSamples;
// RIFF header, "fmt " chunk of 16 bytes, "data" id and size: the least
// that stands before the first sample.
constexpr long kShortestHeader = 44;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "wave reader: %s\n", what);
  std::abort();
}

// The one call into the reader, on the bytes as a stream in memory.
std::FILE* openWaveBytes(const std::uint8_t* data, std::size_t size, WaveInfo& info, vellomar::Refusal& refusal) {
  static std::uint8_t none = 0;
  std::FILE* stream = fmemopen(size > 0 ? const_cast<std::uint8_t*>(data) : &none, size, "rb");
  if (!stream) broken("fmemopen failed");
  refusal = vellomar::readWaveHeader(stream, info, kExpectedRate);
  if (refusal) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

// Reads blocks of samples as the render's source does, until the stated
// count or the data runs out (or kMaxSamples), and checks that what the
// stream yields are the input's own bytes from the first sample on.
void readSamples(std::FILE* stream, const WaveInfo& info, const std::uint8_t* data, std::size_t size,
                 std::size_t firstSample) {
  const std::size_t width = info.bitsPerSample == 8 ? 1 : 2;
  std::size_t left = info.sampleCount < kMaxSamples ? info.sampleCount : kMaxSamples;
  std::size_t offset = firstSample;
  std::vector<std::uint8_t> raw(kBlockSamples * width);
  double sum = 0.0;
  while (left > 0) {
    const std::size_t want = left < kBlockSamples ? left : kBlockSamples;
    const std::size_t got = std::fread(raw.data(), width, want, stream);
    if (got > 0 && (offset + got * width > size || std::memcmp(raw.data(), data + offset, got * width) != 0)) {
      broken("the samples read are not the file's bytes after the header");
    }
    for (std::size_t i = 0; i < got; ++i) {
      sum += width == 1 ? (static_cast<double>(raw[i]) - 128.0) * 256.0
                        : static_cast<double>(static_cast<std::int16_t>(raw[2 * i] | raw[2 * i + 1] << 8));
    }
    if (got < want) break;  // the render stops here with a short read
    offset += got * width;
    left -= got;
  }
  // Keeps the widening from being optimised away.
  volatile double sink = sum;
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WaveInfo info;
  info.rejected = true;  // the reader must set it either way
  vellomar::Refusal refusal;
  std::FILE* stream = openWaveBytes(data, size, info, refusal);

  if (!stream) {
    if (refusal.text.empty() || refusal.caption.empty()) broken("a refusal came without its words");
    if (!info.rejected) broken("a refused file is not marked rejected");
    return 0;
  }
  if (refusal) broken("an accepted file came with a refusal");
  if (info.rejected) broken("an accepted file is marked rejected");
  if (info.channels != 1) broken("an accepted file is not mono");
  if (info.bitsPerSample != 8 && info.bitsPerSample != 16) broken("an accepted file is not 8 or 16 bit");
  if (info.sampleRate != kExpectedRate) broken("an accepted file has another rate");

  const long position = std::ftell(stream);
  if (position < kShortestHeader || static_cast<unsigned long>(position) > size) {
    broken("the stream does not stand inside the file after a header");
  }
  readSamples(stream, info, data, size, static_cast<std::size_t>(position));
  std::fclose(stream);
  return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/session_commit.h"

#include <cstdio>

#include "files/output_file.h"
#include "files/wav.h"

namespace vellomar {
namespace {

void put16(unsigned char* at, std::uint32_t v) {
  at[0] = static_cast<unsigned char>(v & 0xFF);
  at[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

void put32(unsigned char* at, std::uint32_t v) {
  put16(at, v & 0xFFFF);
  put16(at + 2, v >> 16);
}

// The 44-byte header of IEEE float samples (format 3), every size filled.
bool writeFloatHeader(std::FILE* stream, const WaveInfo& info) {
  const auto blockAlign = static_cast<std::uint32_t>(info.channels) * 4;
  const std::uint32_t dataBytes = blockAlign * info.sampleCount;
  unsigned char header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  put32(header + 4, dataBytes + 36);
  put32(header + 16, 16);
  put16(header + 20, 3);
  put16(header + 22, static_cast<std::uint32_t>(info.channels));
  put32(header + 24, info.sampleRate);
  put32(header + 28, info.sampleRate * blockAlign);
  put16(header + 32, blockAlign);
  put16(header + 34, 32);
  header[36] = 'd';
  header[37] = 'a';
  header[38] = 't';
  header[39] = 'a';
  put32(header + 40, dataBytes);
  return std::fwrite(header, 1, sizeof header, stream) == sizeof header && std::fflush(stream) == 0;
}

// Opens the output for `info` with its header written.
std::FILE* openOutput(OutputFile& output, const std::string& path, const WaveInfo& info, bool floating,
                      Refusal& refusal) {
  if (!floating) return output.open(path, info, refusal);
  if (!waveDataFits(info, refusal)) return nullptr;
  std::FILE* stream = output.openBlank(path, "output wave file", refusal);
  if (stream && !writeFloatHeader(stream, info)) {
    std::fclose(stream);
    output.discard();
    refusal = refusalForResult(kResultWriteFailed);
    return nullptr;
  }
  return stream;
}

}  // namespace

ResultCode commitSession(const RenderSession& session, const std::string& path, std::uint32_t sampleRate,
                         Refusal& refusal) {
  refusal = Refusal{};
  if (session.rendering()) return kResultAborted;
  WaveInfo info;
  info.sampleCount = static_cast<std::uint32_t>(session.frames());
  info.channels = session.channels();
  info.bitsPerSample = 8 * bytesPerSample(session.encoding());
  info.sampleRate = sampleRate;
  const bool floating = session.encoding() == SampleEncoding::Float32;

  OutputFile output;
  std::FILE* stream = openOutput(output, path, info, floating, refusal);
  if (!stream) return kResultWriteFailed;
  ResultCode result = session.writeSound([stream](const unsigned char* bytes, std::size_t size) {
    return std::fwrite(bytes, 1, size, stream) == size && !std::ferror(stream);
  });
  const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
  if (std::fclose(stream) != 0 || !flushed) {
    if (result == kResultOk) result = kResultWriteFailed;
  }
  if (result != kResultOk) {
    output.discard();
    if (result != kResultAborted) refusal = refusalForResult(result);
    return result;
  }
  return output.commit(refusal) ? kResultOk : kResultWriteFailed;
}

}  // namespace vellomar

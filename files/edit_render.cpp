// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/edit_render.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "engine/positional_read.h"
#include "engine/spectral_edit.h"
#include "files/output_file.h"

namespace vellomar {
namespace {

// A rendered sample as the 16-bit writer stores it: rounded to the nearest
// and held within range. A sample no edit reached is an integer already.
inline std::int16_t toPcm16(double v) {
  return static_cast<std::int16_t>(std::lrint(std::clamp(v, -32768.0, 32767.0)));
}

}  // namespace

ResultCode renderEditToWave(std::FILE* input, const WaveInfo& info, const RenderSettings& settings,
                            const PictureBitmap& picture, const std::uint8_t* const original[2],
                            const std::uint8_t* const painted[2], const std::string& outputPath,
                            const EditControl& control, Refusal& refusal) {
  const std::int64_t offset = ::ftello(input);
  if (offset < 0 || !streamReadableByPosition(input)) {
    refusal = refusalForResult(kResultShortRead);
    return kResultShortRead;
  }
  WaveInfo out;
  out.sampleCount = info.sampleCount;
  out.channels = info.channels;
  out.bitsPerSample = 16;
  out.sampleRate = info.sampleRate;
  OutputFile output;
  std::FILE* stream = output.open(outputPath, out, refusal);
  if (!stream) return kResultWriteFailed;

  SpectralEditJob job;
  job.settings = settings;
  job.width = picture.width;
  job.stride = picture.stride;
  job.height = picture.height;
  job.channels = info.channels;
  for (std::int32_t c = 0; c < info.channels; ++c) {
    job.planes[c].original = original[c];
    job.planes[c].edited = painted[c];
  }
  job.sampleCount = info.sampleCount;
  job.abort = control.abort;
  job.progress = control.progress;
  job.threads = control.threads;

  const int fd = ::fileno(input);
  const bool eightBit = info.bitsPerSample == 8;
  const std::size_t width = eightBit ? 1 : 2;
  const auto channels = static_cast<std::size_t>(info.channels);
  const std::size_t frameBytes = width * channels;
  job.read = [=](std::int32_t channel, std::uint64_t from, std::size_t count, double* to) {
    // Each thread's own buffer, grown to the largest read once.
    thread_local std::vector<unsigned char> raw;
    try {
      if (raw.size() < count * frameBytes) raw.resize(count * frameBytes);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    if (!readAt(fd, raw.data(), count * frameBytes, offset + static_cast<std::int64_t>(from * frameBytes))) {
      return kResultShortRead;
    }
    const unsigned char* p = raw.data() + static_cast<std::size_t>(channel) * width;
    for (std::size_t i = 0; i < count; ++i, p += frameBytes) {
      to[i] = eightBit ? (static_cast<double>(p[0]) - 128.0) * 256.0
                       : static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8))));
    }
    return kResultOk;
  };
  std::vector<unsigned char> bytes;
  job.write = [&](std::uint64_t, std::size_t count, const double* y) {
    const std::size_t values = count * channels;
    try {
      if (bytes.size() < values * 2) bytes.resize(values * 2);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    for (std::size_t i = 0; i < values; ++i) {
      const auto v = static_cast<std::uint16_t>(toPcm16(y[i]));
      bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
      bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    return std::fwrite(bytes.data(), 1, values * 2, stream) == values * 2 ? kResultOk : kResultWriteFailed;
  };

  ResultCode result = renderSpectralEdit(job);
  const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
  const bool closed = std::fclose(stream) == 0;
  if (result == kResultOk && !(flushed && closed)) result = kResultWriteFailed;
  if (result != kResultOk) {
    output.discard();
    refusal = refusalForResult(result);
    return result;
  }
  if (!output.commit(refusal)) return kResultWriteFailed;
  return kResultOk;
}

}  // namespace vellomar

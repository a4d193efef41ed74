// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/positional_read.h"

#include <sys/stat.h>

#include <cstring>
#include <unistd.h>

namespace vellomar {

bool streamReadableByPosition(std::FILE* stream) {
  if (!stream) return false;
  const int fd = ::fileno(stream);
  if (fd < 0) return false;
  struct stat st = {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftello(stream) >= 0;
}

bool readAt(int fd, void* buffer, std::size_t size, std::int64_t offset) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    p += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

void samplesToDouble(const unsigned char* raw, std::size_t count, const SampleLayout& layout, std::size_t channel,
                     double* out) {
  if (count == 0) return;  // `raw` may then be null
  const std::size_t frame = layout.frameBytes();
  const unsigned char* in = raw + channel * layout.sampleBytes();
  // memcpy in and out: `out` may overlap the frames still to be read.
  if (layout.float32) {
    for (std::size_t i = 0; i < count; ++i, in += frame) {
      const std::uint32_t bits = static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
                                 static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
      float f = 0.0f;
      std::memcpy(&f, &bits, sizeof f);
      const double v = static_cast<double>(f) * 32768.0;
      std::memcpy(out + i, &v, sizeof v);
    }
  } else if (layout.eightBit) {
    for (std::size_t i = 0; i < count; ++i, in += frame) {
      const double v = (static_cast<double>(in[0]) - 128.0) * 256.0;
      std::memcpy(out + i, &v, sizeof v);
    }
  } else {
    for (std::size_t i = 0; i < count; ++i, in += frame) {
      const auto bits = static_cast<std::uint16_t>(in[0] | (in[1] << 8));
      const double v = static_cast<double>(static_cast<std::int16_t>(bits));
      std::memcpy(out + i, &v, sizeof v);
    }
  }
}

}  // namespace vellomar

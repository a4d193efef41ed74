#include "engine/positional_read.h"

#include <sys/stat.h>
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

}  // namespace vellomar

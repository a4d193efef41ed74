// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/standard_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "files/audio_input.h"
#include "files/spool.h"

namespace vellomar::cli {

int checkStandardStreams(const std::string& first, const std::string& input, const std::string& output) {
  if (first == kStandardStream && input == kStandardStream) {
    return usageError("only one of the first argument and --input can be - (standard input)");
  }
  if (first == kStandardStream && isatty(STDIN_FILENO)) {
    return usageError("- reads standard input, which is a terminal: pipe the file in or name it");
  }
  if (input == kStandardStream && isatty(STDIN_FILENO)) {
    return usageError("--input - reads standard input, which is a terminal: pipe the sound in or name the file");
  }
  if (output == kStandardStream && isatty(STDOUT_FILENO)) {
    return usageError("- writes to standard output, which is a terminal: redirect it or name an output file");
  }
  return 0;
}

std::shared_ptr<const PictureBitmap> loadPictureArgument(const std::string& path, std::string& reason) {
  if (path != kStandardStream) {
    // What the system says of a file that cannot be read at all.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      reason = std::strerror(errno);
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    ::close(fd);
    if (S_ISDIR(st.st_mode)) {
      reason = std::strerror(EISDIR);
      return nullptr;
    }
    return loadPicture(path, &reason);
  }
  // Told by its first bytes, and read no further than a picture a render
  // can hold may take.
  return loadPictureStream(STDIN_FILENO, &reason);
}

}  // namespace vellomar::cli

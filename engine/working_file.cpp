// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/working_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vellomar {
namespace {

bool makeFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) {
    struct stat st = {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

}  // namespace

int openUnnamedFile(const std::string& folder) {
  if (folder.empty()) return -1;
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  std::string name = folder + "/.vellomar-session-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named < 0) return -1;
  ::unlink(name.c_str());
  return named;
}

std::string cacheFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    base = std::string(home) + "/.cache";
    if (!makeFolder(base)) return std::string();
  } else {
    return std::string();
  }
  const std::string folder = base + "/vellomar";
  return makeFolder(folder) ? folder : std::string();
}

int openWorkingFile(const std::string& folder) {
  if (!folder.empty()) return openUnnamedFile(folder);
  int fd = openUnnamedFile(cacheFolder());
  if (fd >= 0) return fd;
  if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/') fd = openUnnamedFile(tmp);
  if (fd >= 0) return fd;
  return openUnnamedFile("/tmp");
}

}  // namespace vellomar

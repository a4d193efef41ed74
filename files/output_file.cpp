// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <utility>

namespace vellomar {
namespace {

constexpr int kMaxLinkDepth = 40;
constexpr const char* kHiddenPrefix = ".vellomar-";
constexpr int kHiddenNameTries = 100;

std::atomic<bool> gUnnamedFiles{true};

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The name that writing to `path` ends at: a chain of links followed to
// its last name, which may not exist yet. Empty for a loop of links.
std::string followLinks(const std::string& path) {
  std::string name = path;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    struct stat st = {};
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
    std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
    const ssize_t length = ::readlink(name.c_str(), to.data(), to.size());
    if (length <= 0) return std::string();
    to.resize(static_cast<std::size_t>(length));
    name = !to.empty() && to[0] == '/' ? to : folderOf(name) + "/" + to;
  }
  return std::string();
}

// The mode bits a new file gets from the process's file-creation mask,
// read without changing the mask.
mode_t newFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      const auto mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
      return 0666 & ~mask;
    }
  }
  return 0644;
}

// Whether `path` still names a plain file (not a link, device or pipe).
bool plainFile(const std::string& path) {
  struct stat st = {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// An unnamed file in `folder`, which can be given a name later through
// /proc (see linkUnder); -1, with errno, where the file system or the
// system cannot do both.
int openUnnamed(const std::string& folder, mode_t mode) {
  if (!gUnnamedFiles.load()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st = {};
  if (::stat(procPath(fd).c_str(), &st) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// A new file under a hidden name in `folder`; -1, with errno, when none
// can be made.
int openHidden(const std::string& folder, std::string& name) {
  name = folder + "/" + kHiddenPrefix + "XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) name.clear();
  return fd;
}

std::string randomHiddenName(const std::string& folder) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string name = folder + "/" + kHiddenPrefix;
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

// Gives the unnamed file `fd` a hidden name in `folder`. False, with
// errno, when it cannot.
bool linkUnder(int fd, const std::string& folder, std::string& name) {
  const std::string from = procPath(fd);
  for (int attempt = 0; attempt < kHiddenNameTries; ++attempt) {
    name = randomHiddenName(folder);
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) break;
  }
  name.clear();
  return false;
}

// The new file takes the earlier file's permissions (and, where we may,
// its owner); a file with no earlier one those of any new file.
void takeAttributes(int fd, bool exists, const struct stat& existing) {
  ::fchmod(fd, exists ? (existing.st_mode & 07777) : newFileMode());
  if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
    // Keep the owner where we may (as root); otherwise the file is ours.
    const bool keptOwner = ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
    static_cast<void>(keptOwner);
  }
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

void setUnnamedFilesEnabled(bool enabled) { gUnnamedFiles.store(enabled); }

OutputFile::~OutputFile() { discard(); }

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    name_ = std::move(other.name_);
    target_ = std::move(other.target_);
    written_ = std::move(other.written_);
    kind_ = other.kind_;
    mode_ = other.mode_;
    fd_ = other.fd_;
    removable_ = other.removable_;
    other.target_.clear();
    other.written_.clear();
    other.mode_ = Mode::None;
    other.fd_ = -1;
    other.removable_ = false;
  }
  return *this;
}

Refusal OutputFile::cannotCreate(int error) const {
  if (error == 0) return errorRefusal("Cannot create %s '%s'", kind_, name_.c_str());
  return errorRefusal("Cannot create %s '%s'\n%s", kind_, name_.c_str(), std::strerror(error));
}

std::FILE* OutputFile::open(const std::string& path, const WaveInfo& info, Refusal& refusal) {
  discard();
  // Data that no header can describe is refused before any file is touched.
  if (info.rejected) {
    refusal = internalErrorRefusal(5);
    return nullptr;
  }
  if (!waveDataFits(info, refusal)) return nullptr;
  std::FILE* stream = openBlank(path, "output wave file", refusal);
  if (!stream) return nullptr;
  if (!writeWaveHeader(stream, info, refusal)) {
    std::fclose(stream);
    discard();
    return nullptr;
  }
  return stream;
}

std::FILE* OutputFile::openBlank(const std::string& path, const char* kind, Refusal& refusal) {
  discard();
  name_ = path;
  kind_ = kind;
  target_.clear();

  const std::string target = followLinks(path);
  if (target.empty()) {
    refusal = cannotCreate();
    return nullptr;
  }
  struct stat existing = {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    refusal = cannotCreate();
    return nullptr;
  }
  const bool regular = !exists || S_ISREG(existing.st_mode);
  // An existing file that this process could not write itself is not
  // replaced behind its back.
  if (exists && regular && ::access(target.c_str(), W_OK) != 0) {
    refusal = cannotCreate(errno);
    return nullptr;
  }

  int fd = -1;
  std::string hidden;
  if (regular) {
    const std::string folder = folderOf(target);
    fd = openUnnamed(folder, 0600);
    mode_ = Mode::Unnamed;
    if (fd < 0) {
      fd = openHidden(folder, hidden);
      mode_ = Mode::Hidden;
    }
    if (fd < 0 && exists) {
      // Writing over the earlier file itself would lose it to any failure
      // or interruption: it is left as it was.
      refusal = errorRefusal(
          "Cannot create %s '%s'\nNo new file can be made in its folder (%s); the earlier file is left as it was, "
          "since writing over it in place could lose it.",
          kind_, name_.c_str(), std::strerror(errno));
      mode_ = Mode::None;
      return nullptr;
    }
  }
  if (fd < 0) {
    // A device, a pipe, or a new name in a folder that takes no file
    // beside it: nothing of the user's is there to lose.
    bool created = false;
    std::FILE* stream = openInPlace(target, created);
    if (!stream) {
      mode_ = Mode::None;
      refusal = cannotCreate();
      return nullptr;
    }
    target_ = target;
    written_ = target;
    mode_ = Mode::InPlace;
    removable_ = created;
    return stream;
  }

  takeAttributes(fd, exists, existing);
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  std::FILE* stream = own >= 0 ? ::fdopen(fd, "w+b") : nullptr;
  if (!stream) {
    const int error = errno;
    ::close(fd);
    if (own >= 0) ::close(own);
    if (!hidden.empty()) ::unlink(hidden.c_str());
    mode_ = Mode::None;
    refusal = cannotCreate(error);
    return nullptr;
  }
  fd_ = own;
  target_ = target;
  written_ = hidden;
  removable_ = !hidden.empty();
  return stream;
}

bool OutputFile::commit(Refusal& refusal) {
  if (mode_ == Mode::None) return false;
  if (mode_ == Mode::InPlace) {
    removable_ = false;
    written_.clear();
    mode_ = Mode::None;
    return true;
  }
  // The data reaches the disk before the name does, so that a power cut
  // cannot leave the new name on an empty file.
  bool ok = ::fsync(fd_) == 0;
  if (ok && mode_ == Mode::Unnamed) {
    ok = linkUnder(fd_, folderOf(target_), written_);
    removable_ = ok;
  }
  ok = ok && std::rename(written_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    const int error = errno;
    discard();
    refusal = cannotCreate(error);
    return false;
  }
  syncFolder(folderOf(target_));
  ::close(fd_);
  fd_ = -1;
  removable_ = false;
  written_.clear();
  mode_ = Mode::None;
  return true;
}

void OutputFile::discard() {
  if (removable_ && !written_.empty() && plainFile(written_)) ::unlink(written_.c_str());
  // An unnamed file goes with its last descriptor.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  removable_ = false;
  written_.clear();
  mode_ = Mode::None;
}

}  // namespace vellomar

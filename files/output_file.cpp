#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

namespace vellomar {
namespace {

constexpr int kMaxLinkDepth = 40;
constexpr const char* kTemporaryName = ".vellomar-XXXXXX";

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

}  // namespace

OutputFile::~OutputFile() { discard(); }

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    name_ = std::move(other.name_);
    target_ = std::move(other.target_);
    written_ = std::move(other.written_);
    kind_ = other.kind_;
    inPlace_ = other.inPlace_;
    removable_ = other.removable_;
    other.target_.clear();
    other.written_.clear();
    other.removable_ = false;
  }
  return *this;
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
  written_.clear();
  inPlace_ = false;
  removable_ = false;

  auto cannotCreate = [&] {
    refusal = errorRefusal("Cannot create %s '%s'", kind_, path.c_str());
    return nullptr;
  };
  const std::string target = followLinks(path);
  if (target.empty()) return cannotCreate();
  struct stat existing = {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return cannotCreate();

  std::FILE* stream = nullptr;
  if (!exists || S_ISREG(existing.st_mode)) {
    // An existing file that this process could not write itself is not
    // replaced behind its back.
    if (exists && ::access(target.c_str(), W_OK) != 0) return cannotCreate();
    std::string temporary = folderOf(target) + "/" + kTemporaryName;
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd >= 0) {
      ::fchmod(fd, exists ? (existing.st_mode & 07777) : newFileMode());
      if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // Keep the owner where we may (as root); otherwise the file is ours.
        const bool keptOwner = ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
        static_cast<void>(keptOwner);
      }
      stream = ::fdopen(fd, "wb");
      if (!stream) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return cannotCreate();
      }
      target_ = target;
      written_ = temporary;
      removable_ = true;
    }
  }
  if (!stream) {
    // No temporary file here (a device, a pipe, a folder we cannot write):
    // the output is written where it is.
    bool created = false;
    stream = createOrTruncate(path, created);
    if (!stream) return cannotCreate();
    target_ = path;
    written_ = path;
    inPlace_ = true;
    removable_ = created;
  }
  return stream;
}

bool OutputFile::commit(Refusal& refusal) {
  if (written_.empty()) return false;
  if (inPlace_) {
    removable_ = false;
    written_.clear();
    return true;
  }
  // The data reaches the disk before the name does, so that a power cut
  // cannot leave the new name on an empty file.
  const int fd = ::open(written_.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  ok = ok && std::rename(written_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    refusal = errorRefusal("Cannot create %s '%s'", kind_, name_.c_str());
    discard();
    return false;
  }
  const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  removable_ = false;
  written_.clear();
  return true;
}

void OutputFile::discard() {
  if (removable_ && !written_.empty() && plainFile(written_)) ::unlink(written_.c_str());
  removable_ = false;
  written_.clear();
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "fft/wisdom.h"

#include <fcntl.h>
#include <fftw3.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fft/planner.h"

namespace vellomar {
namespace {

constexpr const char* kFormatLine = "vellomar fftw wisdom 1";
// A wisdom file for every size the program uses holds a few kilobytes; a
// much larger one is not ours.
constexpr off_t kMaxFileBytes = off_t{1} << 20;

std::uint64_t fnv1a(const std::string& text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string hex(std::uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

// The first value of each of `keys` in /proc/cpuinfo ("key<tabs>: value").
std::string cpuInfoValue(const std::string& info, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    std::size_t at = 0;
    while (at < info.size()) {
      const std::size_t end = info.find('\n', at);
      const std::string line = info.substr(at, end == std::string::npos ? std::string::npos : end - at);
      at = end == std::string::npos ? info.size() : end + 1;
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
      if (name != key) continue;
      std::size_t from = colon + 1;
      while (from < line.size() && line[from] == ' ') ++from;
      return line.substr(from);
    }
  }
  return {};
}

// Reads a whole file of at most kMaxFileBytes. Sets errno on failure
// (EFBIG for a larger file, EINVAL for one that is not a regular file).
bool readSmallFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    ok = false;
  }
  if (ok && st.st_size > kMaxFileBytes) {
    errno = EFBIG;
    ok = false;
  }
  text.clear();
  char buffer[16384];
  while (ok) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > static_cast<std::size_t>(kMaxFileBytes)) {
      errno = EFBIG;
      ok = false;
    }
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

struct Machine {
  std::string library;  // the library's version
  std::string cpu;      // model name
  std::string flags;    // hash of the CPU's flags
};

const Machine& thisMachine() {
  static const Machine machine = [] {
    std::string info;
    if (!readSmallFile("/proc/cpuinfo", info)) info.clear();
    // Newlines would break the file's header lines.
    auto oneLine = [](std::string s) {
      for (char& c : s) {
        if (c == '\n' || c == '\r') c = ' ';
      }
      return s;
    };
    Machine m;
    m.library = oneLine(fftw_version);
    m.cpu = oneLine(cpuInfoValue(info, {"model name", "Model", "cpu model", "CPU part"}));
    m.flags = hex(fnv1a(cpuInfoValue(info, {"flags", "Features"})));
    return m;
  }();
  return machine;
}

std::string header(const Machine& m, const std::string& wisdom) {
  return std::string(kFormatLine) + "\nlibrary " + m.library + "\ncpu " + m.cpu + "\nflags " + m.flags +
         "\nchecksum " + hex(fnv1a(wisdom)) + "\n";
}

std::string wisdomPath(const std::string& folder) { return folder + "/" + wisdomFileName(); }
std::string lockPath(const std::string& folder) { return wisdomPath(folder) + ".lock"; }

// Makes the folder and the folders above it (private to the user).
bool makeFolder(const std::string& folder) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the file whole under a temporary name and renames it into place.
bool writeWisdomFile(const std::string& folder, const std::string& wisdom, std::string& error) {
  std::string temporary = folder + "/." + wisdomFileName() + "-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file in " + folder + ": " + std::strerror(errno);
    return false;
  }
  const bool written = writeAll(fd, header(thisMachine(), wisdom) + wisdom) && ::fsync(fd) == 0;
  const int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), wisdomPath(folder).c_str()) != 0) {
    error = "cannot write " + wisdomPath(folder) + ": " + std::strerror(written && closed ? errno : saved);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// makeWisdom with the planner's lock held (or, in the maker, never taken
// by anyone else). `waitForLock`: wait for a running maker instead of
// leaving the work to it.
bool makeWisdomLocked(const std::string& folder, std::span<const FftTransform> transforms, bool waitForLock,
                      std::string& error) {
  if (!makeFolder(folder)) {
    error = "cannot make the folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  const int lock = ::open(lockPath(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) {
    error = "cannot write in " + folder + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(lock, LOCK_EX | (waitForLock ? 0 : LOCK_NB)) != 0) {
    error = "another process is making the plans";
    ::close(lock);
    return false;
  }

  std::string wisdom;
  if (readWisdomFile(folder, wisdom) != WisdomState::Valid) wisdom.clear();
  // Before the library is called at all (its first call allocates too).
  if (!planner::headroom(planner::planningHeadroom(transforms) + 4 * wisdom.size())) {
    error = "not enough memory to measure the plans";
    ::close(lock);
    return false;
  }
  planner::forgetWisdom();
  if (!wisdom.empty() && !planner::importWisdom(wisdom)) planner::forgetWisdom();
  for (const FftTransform& t : transforms) {
    if (planner::log2Of(t.n) < 0) continue;
    // Measured anew, or made at once from what the file holds already.
    FftPlans::Plan plan = planner::make(t.direction, t.n, planner::Kind::Measure);
    planner::destroy(plan);
  }
  wisdom = planner::exportWisdom();
  const bool ok = !wisdom.empty() && writeWisdomFile(folder, wisdom, error);
  if (wisdom.empty()) error = "not enough memory to record the plans";
  // What this process learnt must not steer its estimated plans.
  planner::forgetWisdom();
  ::close(lock);
  return ok;
}

// The maker, in the forked process: detached from everything of the
// program's, at idle priority.
[[noreturn]] void runMaker(const std::string& folder, const std::vector<FftTransform>& transforms) {
  ::setsid();
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
  }
  // Nothing of the program's stays open here: a pipe the program writes
  // to must see its end when the program exits.
  if (::close_range(3, ~0u, 0) != 0) {
    const long most = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (most > 0 && most < 65536 ? most : 65536); ++fd) ::close(fd);
  }
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, SIG_DFL);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  sched_param param{};
  if (::sched_setscheduler(0, SCHED_IDLE, &param) != 0) ::setpriority(PRIO_PROCESS, 0, 19);
  bool ok = false;
  try {
    std::string error;
    ok = makeWisdomLocked(folder, transforms, false, error);
  } catch (const std::bad_alloc&) {
  }
  ::_exit(ok ? 0 : 1);
}

bool startMaker(const std::string& folder, std::span<const FftTransform> transforms) {
  if (folder.empty() || !makeFolder(folder) || ::access(folder.c_str(), W_OK) != 0) return false;
  // A maker at work holds the lock file.
  const int lock = ::open(lockPath(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return false;
  const bool running = ::flock(lock, LOCK_EX | LOCK_NB) != 0;
  ::close(lock);
  if (running) return false;

  std::vector<FftTransform> list;
  try {
    list.assign(transforms.begin(), transforms.end());
  } catch (const std::bad_alloc&) {
    return false;
  }
  pid_t child = -1;
  {
    // No thread of this process is inside the library while it forks: the
    // copy's planner is whole.
    std::lock_guard<std::mutex> planning(planner::mutex());
    child = ::fork();
    if (child == 0) {
      const pid_t maker = ::fork();
      if (maker == 0) runMaker(folder, list);
      ::_exit(maker > 0 ? 0 : 1);
    }
  }
  if (child < 0) return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string userWisdomFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/vellomar";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/vellomar";
  return {};
}

std::string wisdomFileName() {
  const Machine& m = thisMachine();
  return "fftw-wisdom-" + hex(fnv1a(m.library + "\n" + m.cpu + "\n" + m.flags));
}

WisdomState readWisdomFile(const std::string& folder, std::string& wisdom) {
  wisdom.clear();
  std::string text;
  if (!readSmallFile(wisdomPath(folder), text)) {
    return errno == ENOENT ? WisdomState::Missing : errno == EFBIG ? WisdomState::Damaged : WisdomState::Unreadable;
  }
  // Five header lines, then the wisdom.
  std::string lines[5];
  std::size_t at = 0;
  for (std::string& line : lines) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return WisdomState::Damaged;
    line = text.substr(at, end - at);
    at = end + 1;
  }
  if (lines[0] != kFormatLine || lines[1].rfind("library ", 0) != 0 || lines[2].rfind("cpu ", 0) != 0 ||
      lines[3].rfind("flags ", 0) != 0 || lines[4].rfind("checksum ", 0) != 0) {
    return WisdomState::Damaged;
  }
  const Machine& m = thisMachine();
  if (lines[1] != "library " + m.library || lines[2] != "cpu " + m.cpu || lines[3] != "flags " + m.flags) {
    return WisdomState::Foreign;
  }
  std::string body = text.substr(at);
  if (lines[4] != "checksum " + hex(fnv1a(body))) return WisdomState::Damaged;
  wisdom = std::move(body);
  return WisdomState::Valid;
}

bool makeWisdom(const std::string& folder, std::span<const FftTransform> transforms, std::string& error) {
  std::lock_guard<std::mutex> lock(planner::mutex());
  try {
    return makeWisdomLocked(folder, transforms, true, error);
  } catch (const std::bad_alloc&) {
    planner::forgetWisdom();
    error = "not enough memory";
    return false;
  }
}

bool startWisdomMaker(const std::string& folder, std::span<const FftTransform> transforms) {
  try {
    return startMaker(folder, transforms);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace vellomar

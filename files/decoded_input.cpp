// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/decoded_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace vellomar {
namespace {

using Key = DecodedInputs::Key;

// The key of a regular file under `rules`; false for anything else.
bool keyOf(const std::string& path, const AudioInputRules& rules, Key& key) {
  if (!rules.anyAudio || path.empty() || path == kStandardStream) return false;
  struct stat st = {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  key.path = path;
  key.device = st.st_dev;
  key.inode = st.st_ino;
  key.size = st.st_size;
  key.modified = st.st_mtim;
  key.rate = rules.rate;
  // Any audio takes mono and stereo whatever the classic limit is, but the
  // rules are kept whole: a different limit is a different open.
  key.maxChannels = rules.maxChannels;
  return true;
}

bool sameKey(const Key& a, const Key& b) {
  return a.path == b.path && a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec && a.rate == b.rate &&
         a.maxChannels == b.maxChannels;
}

// A descriptor of the spool behind `fd` with its own offset, at 0: the
// file reopened through /proc, else a duplicate (which shares the offset;
// the engine reads by position).
int independentCopy(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  int copy = ::open(link.c_str(), O_RDONLY | O_CLOEXEC);
  if (copy < 0) copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy >= 0 && ::lseek(copy, 0, SEEK_SET) != 0) {
    ::close(copy);
    return -1;
  }
  return copy;
}

}  // namespace

DecodedInputs::~DecodedInputs() { clear(); }

bool DecodedInputs::open(const std::string& path, const AudioInputRules& rules, AudioInput& input, Refusal& refusal,
                         bool* aborted) {
  AudioInputRules plain = rules;
  plain.keep = nullptr;
  Key before;
  if (!keyOf(path, plain, before)) return openAudioInput(path, plain, input, refusal, aborted);
  if (handOut(before, input)) {
    refusal = Refusal{};
    if (aborted) *aborted = false;
    return true;
  }
  if (!openAudioInput(path, plain, input, refusal, aborted)) return false;
  if (!input.spooled) return true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++decodes_;
  }
  // A file written to while it was decoded is not kept: what was read may
  // be neither the old sound nor the new one.
  Key after;
  if (keyOf(path, plain, after) && sameKey(before, after)) keep(before, input);
  return true;
}

bool DecodedInputs::needsDecode(const std::string& path, const AudioInputRules& rules) const {
  Key key;
  if (!keyOf(path, rules, key)) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0 && sameKey(key_, key)) return false;
  }
  return !readInPlace(path, rules);
}

std::uint64_t DecodedInputs::decodes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return decodes_;
}

void DecodedInputs::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  key_ = Key{};
  kept_ = AudioInput{};
}

bool DecodedInputs::handOut(const Key& key, AudioInput& input) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0 || !sameKey(key_, key)) return false;
  const int copy = independentCopy(fd_);
  if (copy < 0) return false;
  std::FILE* stream = ::fdopen(copy, "rb");
  if (!stream) {
    ::close(copy);
    return false;
  }
  input = kept_;
  input.stream = stream;
  return true;
}

void DecodedInputs::keep(const Key& key, const AudioInput& input) {
  const int copy = ::fcntl(::fileno(input.stream), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = copy;
  key_ = key;
  kept_ = input;
  kept_.stream = nullptr;
}

}  // namespace vellomar

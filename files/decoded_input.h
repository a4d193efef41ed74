// SPDX-License-Identifier: GPL-3.0-or-later
// A decoded input kept for reuse. Decoding an hour of compressed sound
// takes many seconds and writes a spool of hundreds of megabytes: the
// window's renders, its background render and the editor's audition of the
// same input share one decode while the file stays as it was.
//
// One input is kept, the most recently decoded: the spool stays while it is
// kept or any stream handed out reads it, and goes with the last of them
// (it is an unnamed file). A file read in place, standard input and a pipe
// are never kept. The key is the file (path, device and inode, size and
// modification time, to the nanosecond) and the rules that shape the
// decode (its rate and the channels taken): a file rewritten, replaced or
// touched is decoded again.
//
// Safe to use from several threads; a decode runs outside the lock.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "files/audio_input.h"

namespace vellomar {

class DecodedInputs {
 public:
  DecodedInputs() = default;
  ~DecodedInputs();
  DecodedInputs(const DecodedInputs&) = delete;
  DecodedInputs& operator=(const DecodedInputs&) = delete;

  // Opens `path` as openAudioInput does. An input kept for this file and
  // these rules is handed out as a stream of its own at its first sample,
  // with no decode; a file decoded now is kept (unless it changed while it
  // was read). Refusals and aborts are openAudioInput's, and an abort keeps
  // nothing.
  bool open(const std::string& path, const AudioInputRules& rules, AudioInput& input, Refusal& refusal,
            bool* aborted = nullptr);

  // True when open would decode `path` now: any audio, a regular file
  // that is not read in place and not kept. Reads at most its header.
  bool needsDecode(const std::string& path, const AudioInputRules& rules) const;

  // Decodes made by open so far.
  std::uint64_t decodes() const;

  // Lets the kept input go (streams handed out still read it).
  void clear();

  // The file and the rules a decode is kept under.
  struct Key {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {};
    std::uint32_t rate = 0;
    int maxChannels = 0;
  };

 private:
  bool handOut(const Key& key, AudioInput& input) const;
  void keep(const Key& key, const AudioInput& input);

  mutable std::mutex mutex_;
  Key key_;
  int fd_ = -1;  // the kept spool, or -1
  AudioInput kept_;  // its description, with no stream
  std::uint64_t decodes_ = 0;
};

}  // namespace vellomar

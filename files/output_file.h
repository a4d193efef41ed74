// SPDX-License-Identifier: GPL-3.0-or-later
// How an output file takes the user's name.
//
// The file is written beside its final name, in the folder of the output
// (or of the file an output link points at), and commit() gives it that
// name once it is complete; until then any earlier file of that name stays
// exactly as it was. Where the file system allows it, the file being
// written has no name at all (an unnamed file in that folder), so that
// nothing is left behind by a crash, a kill or a power cut: on commit it is
// flushed to the disk, linked under a short hidden name (".vellomar-XXXXXX")
// and renamed onto the output. Where it cannot, the file is written under
// such a hidden name from the start, and a crash may leave that file (never
// a short file under the user's name). discard(), or the object going away
// uncommitted, removes what this run made. A link stays a link: the file it
// points at is what is replaced.
//
// Only where nothing of the user's can be lost is the output written in
// place: an output that is not a regular file (a device such as /dev/null,
// a pipe), and a name with no earlier file behind it when its folder takes
// no file beside it. An earlier file in a folder that takes no new file (a
// folder the user may not write, a file system out of space or inodes) is
// refused before anything is written, with the reason.
#pragma once

#include <cstdio>
#include <string>

#include "files/messages.h"
#include "files/wav.h"

namespace vellomar {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;

  // Opens the file the render writes for `path`, with the complete header
  // of `info` written. Returns the stream (the render closes it), or nullptr
  // with `refusal` (the writer's own words); then nothing of the user's has
  // changed and nothing is left behind.
  std::FILE* open(const std::string& path, const WaveInfo& info, Refusal& refusal);

  // Opens the file written for `path` in the same way, with nothing in it:
  // for a file of another kind. `kind` names it in the refusal ("Cannot
  // create %s '%s'", e.g. "picture file"). The stream reads as well as
  // writes, and may seek, except where the output is written in place.
  std::FILE* openBlank(const std::string& path, const char* kind, Refusal& refusal);

  // After the stream has been closed (or at least flushed): makes the
  // written file the output. False, with `refusal`, when it cannot (what
  // was written is then removed, and the earlier file kept).
  bool commit(Refusal& refusal);

  // After a failed or aborted render: removes what this run made; the
  // earlier file of the output's name stays as it was.
  void discard();

  // The descriptor of the file being written, open until commit() or
  // discard() whether or not the stream has been closed (-1 when nothing is
  // open, and for an output written in place). It is this object's; for a
  // writer that takes a descriptor, dup() it.
  int descriptor() const { return fd_; }
  // The file being written by name: the hidden file, or the output itself
  // when written in place; empty for an unnamed file (see descriptor())
  // and when nothing is open.
  const std::string& writtenPath() const { return written_; }
  // The name the file gets on commit (a link's target, not the link).
  const std::string& targetPath() const { return target_; }
  bool inPlace() const { return mode_ == Mode::InPlace; }
  // Whether the file being written has no name until commit().
  bool unnamed() const { return mode_ == Mode::Unnamed; }

 private:
  enum class Mode { None, Unnamed, Hidden, InPlace };

  Refusal cannotCreate(int error = 0) const;

  std::string name_;  // the output as the user named it
  std::string target_;
  std::string written_;
  const char* kind_ = "output wave file";
  Mode mode_ = Mode::None;
  int fd_ = -1;             // the written file, beside the output
  bool removable_ = false;  // discard() may remove written_
};

// Whether output files may be unnamed while written, where the file system
// allows it (the default). When off they are written under a hidden name
// from the start, as on file systems that cannot do otherwise; the tests
// reach that path this way.
void setUnnamedFilesEnabled(bool enabled);

}  // namespace vellomar

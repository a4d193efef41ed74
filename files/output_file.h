// How a render's wave file takes the user's name.
//
// The render writes to a temporary file with a short hidden name
// (".vellomar-XXXXXX") in the folder of the output, or of the file an
// output link points at, and commit() renames it onto that name once the
// render has succeeded. Until then any earlier file of that name stays
// exactly as it was; discard(), or the object going away uncommitted,
// removes the temporary file. A crash or a power cut leaves at most the
// hidden file, never a short wave under the user's name. A link stays a
// link: the file it points at is what is replaced.
//
// An output that is not a regular file (a device such as /dev/null, a
// pipe) is written in place, and so is one whose folder cannot take the
// temporary file: it is then created or truncated at once, and discard()
// removes it only when this run created or truncated it and it is a plain
// file (never a link, a device or a pipe).
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
  // create %s '%s'", e.g. "picture file").
  std::FILE* openBlank(const std::string& path, const char* kind, Refusal& refusal);

  // After a successful render has closed the stream: makes the written
  // file the output. False, with `refusal`, when it cannot be renamed (the
  // temporary file is then removed, and the earlier file kept).
  bool commit(Refusal& refusal);

  // After a failed or aborted render: removes what this run made; the
  // earlier file of the output's name stays as it was.
  void discard();

  // The file being written: the temporary file, or the output itself when
  // written in place. Empty when nothing is open.
  const std::string& writtenPath() const { return written_; }
  // The name the file gets on commit (a link's target, not the link).
  const std::string& targetPath() const { return target_; }
  bool inPlace() const { return inPlace_; }

 private:
  std::string name_;  // the output as the user named it
  std::string target_;
  std::string written_;
  const char* kind_ = "output wave file";
  bool inPlace_ = false;
  bool removable_ = false;  // discard() may remove written_
};

}  // namespace vellomar

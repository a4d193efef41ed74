// SPDX-License-Identifier: GPL-3.0-or-later
// File-system situations for the tests of what an output may overwrite:
// permission bits that hold even for root, and small file systems mounted
// for a test.
#pragma once

#include <string>

namespace vellomar::test {

// While it lives, the calling thread is held to the files' permission bits
// even when it runs as root: its capabilities to override them are lowered
// from the effective set, and raised again at the end. (Capabilities are
// per thread, so other threads keep theirs.)
class PermissionBitsHold {
 public:
  PermissionBitsHold();
  ~PermissionBitsHold();
  PermissionBitsHold(const PermissionBitsHold&) = delete;
  PermissionBitsHold& operator=(const PermissionBitsHold&) = delete;
  // Whether the bits hold now (false only where capabilities could not be
  // lowered; `why` then says so).
  bool holds() const { return holds_; }
  const std::string& why() const { return why_; }

 private:
  bool lowered_ = false;
  bool holds_ = false;
  std::string why_;
  unsigned savedEffective_[2] = {0, 0};
};

// A child process started from a program run by a test drops the same
// capabilities from its bounding set before it runs its program, so that
// a program started as root is held to the permission bits too. Call it in
// the child between fork and exec (it is async-signal-safe).
void dropPermissionOverridesForExec();

// A tmpfs mounted at `folder` (which must exist) with `options` (such as
// "size=1m,nr_inodes=8") while it lives. Mounting needs root; where it is
// not permitted, mounted() is false and why() says why.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& folder, const std::string& options);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string folder_;
  bool mounted_ = false;
  std::string why_;
};

// Creates empty files in `folder` until the file system takes no more;
// returns how many it made.
int useUpInodes(const std::string& folder);

}  // namespace vellomar::test

// SPDX-License-Identifier: GPL-3.0-or-later
// The working file of a render session: an unnamed file that the system
// removes when it is closed, whatever way the program ends.
#pragma once

#include <string>

namespace vellomar {

// Opens a new unnamed file for reading and writing in `folder`: O_TMPFILE
// where the file system has it, otherwise a file whose name is removed at
// once. Returns the descriptor, or -1.
int openUnnamedFile(const std::string& folder);

// The folder working files go in when none is named: the user's cache
// folder ($XDG_CACHE_HOME/vellomar, else ~/.cache/vellomar, made when
// missing), which lies on a disk where the temporary folder may lie in
// memory.
std::string cacheFolder();

// Opens a working file in `folder` if it is not empty, else in the cache
// folder, else in $TMPDIR, else in /tmp. Returns the descriptor, or -1.
int openWorkingFile(const std::string& folder);

}  // namespace vellomar

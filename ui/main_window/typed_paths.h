// SPDX-License-Identifier: GPL-3.0-or-later
// File names typed into the window's file fields, made into the names the
// file choosers would have given: a relative name is taken from the folder
// the user last chose a file in (not from wherever the program happened to
// be started), "~" is the home folder, and an output name without an
// extension gets the chosen format's.
#pragma once

#include <string>

namespace vellomar {

// The folder of a chosen file's path (its parent), as the choosers
// remember it.
std::string folderOf(const std::string& path);

// `typed` as an absolute name: "~" or "~/..." from $HOME, a relative name
// from `folder` (the working folder when `folder` is empty). An empty text
// stays empty; the bytes are kept as they are.
std::string resolveTypedPath(const std::string& typed, const std::string& folder);

// `path` with ".<extension>" added when its file name has none (a name
// ending in a point takes the extension after it), as a save dialog adds
// its default extension. A folder that exists is left as it is.
std::string withDefaultExtension(const std::string& path, const std::string& extension);

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Questions about file names that both front-ends ask.
#pragma once

#include <string>

namespace vellomar {

// Whether two names denote the same file: the same path ignoring letter
// case (after making both absolute and dropping "." and ".." parts), or two
// names of one existing file (links and hard links included).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace vellomar

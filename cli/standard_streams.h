// SPDX-License-Identifier: GPL-3.0-or-later
// "-" on the command line: standard input for the picture (or, with
// --analyse, the sound) or the input sound, standard output for the output.
#pragma once

#include <memory>
#include <string>

#include "files/picture.h"

namespace vellomar::cli {

// A usage error (after saying why) when two inputs name standard input, or
// when the output is standard output on a terminal; else 0.
int checkStandardStreams(const std::string& first, const std::string& input, const std::string& output);

// Loads the picture argument: a file, or "-" read from standard input to
// its end. Nothing with `reason` when it cannot be loaded.
std::shared_ptr<const PictureBitmap> loadPictureArgument(const std::string& path, std::string& reason);

}  // namespace vellomar::cli

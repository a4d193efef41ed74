// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render --analyse --for-editing and --edit: a recording becomes a
// picture to paint on, and the painted picture becomes the recording again,
// unchanged wherever it was not painted.
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>

namespace vellomar {

// Whether the command line asks for editing (--for-editing or --edit).
bool editCommandRequested(int argc, char** argv);

// Lists the editing options in the renderer's own --help (an editing
// command line never reaches that parser: runEditCommand takes it).
void addEditOptionsToHelp(CLI::App& app);

// Parses and runs an editing command line. Returns the exit code: 0 done,
// 1 a file failure, a refusal or an interruption, 2 a usage error. Says why
// on stderr.
int runEditCommand(int argc, char** argv, const std::atomic<bool>* interrupted);

}  // namespace vellomar

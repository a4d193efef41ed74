// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render --make-plans: measures the transforms' plans now, in the
// foreground, and keeps them in the user's cache folder, where every
// render then finds them.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/options.h"

namespace vellomar::cli {

// Measures the plans of renders of the block length of o.blockLength when
// --block-length was given, else of every block length. Returns the exit
// code: 0 kept, 1 when they cannot be made or kept, 2 for a usage error.
// Says what it did on stdout (unless o.quiet) and why it failed on stderr.
int makePlans(const Options& o, const CLI::App& app);

}  // namespace vellomar::cli

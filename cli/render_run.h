// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render's render run: a picture into a sound file.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/options.h"
#include "engine/settings.h"

namespace vellomar::cli {

// Renders o.picture with `settings` into o.output. Returns the exit code
// after saying why on stderr.
int runRender(const Options& o, const CLI::App& app, const RenderSettings& settings);

}  // namespace vellomar::cli

// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render --help and --version: the help wrapped to the terminal's
// width, with what goes where each placeholder stands, and examples.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace vellomar::cli {

// Columns of the terminal standard output is on; 80 when it is none.
int terminalColumns();

// `text` broken into lines of at most `width` characters at blanks (a
// word longer than that stands alone); lines after the first start with
// `indent` blanks.
std::string wrapText(const std::string& text, std::size_t width, std::size_t indent);

// Gives `app` the description, the wrapping formatter, the examples and
// the --version text.
void describeProgram(CLI::App& app);

}  // namespace vellomar::cli

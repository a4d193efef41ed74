// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render's musical options: --notes LOW:HIGH puts the picture's
// columns on the Logarithmic scale between two notes, --a4 tunes them and
// --columns-per-semitone says how many columns each semitone takes.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "engine/settings.h"

namespace vellomar::cli {

struct NoteOptions {
  std::string notes;  // "A1:A8"; empty when not given
  int columnsPerSemitone = 1;
  double a4Hz = 440.0;
};

// Declares the options of `o` to `app`.
void addNoteOptions(CLI::App& app, NoteOptions& o);

// After the scale, the block length and the band options are known: sets
// the Logarithmic scale and the band of --notes. Returns 0, or kExitUsage
// after saying what is wrong (with the notes allowed).
int applyNoteOptions(const NoteOptions& o, const CLI::App& app, RenderSettings& settings);

// With --notes, when a picture `width` columns wide does not put its
// columns on the notes: the width that would. Empty otherwise.
std::string noteWidthAdvice(const NoteOptions& o, std::uint32_t width);

}  // namespace vellomar::cli

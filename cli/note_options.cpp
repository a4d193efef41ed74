// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/note_options.h"

#include <cmath>
#include <cstdio>

#include "cli/terminal.h"
#include "engine/notes.h"

namespace vellomar::cli {

void addNoteOptions(CLI::App& app, NoteOptions& o) {
  auto* notes = app.add_option("--notes", o.notes,
                               "Put the columns on notes: LOW:HIGH in scientific pitch notation, such as A1:A8 "
                               "(the Logarithmic scale from the lowest note to the highest)");
  app.add_option("--columns-per-semitone", o.columnsPerSemitone,
                 "With --notes: columns a semitone takes, 1 ... 100 (default 1); a picture (HIGH - LOW) * K + 1 "
                 "columns wide then has a column on every note")
      ->needs(notes);
  app.add_option("--a4", o.a4Hz, "With --notes: the frequency of A4 in Hz, 380 ... 500 (default 440)")->needs(notes);
}

int applyNoteOptions(const NoteOptions& o, const CLI::App& app, RenderSettings& settings) {
  if (app.count("--notes") == 0) return 0;
  if (app.count("--low-hz") > 0 || app.count("--high-hz") > 0) {
    return usageError("--notes sets the band: --low-hz and --high-hz do not apply");
  }
  if (app.count("--scale") > 0 && settings.frequencyScale != FrequencyScale::Logarithmic) {
    return usageError("--notes needs the log scale");
  }
  if (o.columnsPerSemitone < 1 || o.columnsPerSemitone > kMaxColumnsPerSemitone) {
    return usageError("--columns-per-semitone must be from 1 to 100");
  }
  if (!(o.a4Hz >= kMinA4Hz && o.a4Hz <= kMaxA4Hz)) return usageError("--a4 must be from 380 to 500 (Hz)");
  const NoteLimits limits = noteLimits(o.a4Hz, settings.sampleRate, settings.blockLength);
  const std::optional<NoteRange> range = parseNoteRange(o.notes);
  if (!range || !noteRangeFits(*range, o.a4Hz, limits)) {
    const std::string allowed = noteLimitsText(limits, o.a4Hz);
    char text[400];
    std::snprintf(text, sizeof text, "--notes must be two notes such as A1:A8 within %s (one bin at block length %d)",
                  allowed.c_str(), static_cast<int>(settings.blockLength));
    return usageError(text);
  }
  applyNoteRange(settings, *range, o.a4Hz);
  return 0;
}

std::string noteWidthAdvice(const NoteOptions& o, std::uint32_t width) {
  const std::optional<NoteRange> range = parseNoteRange(o.notes);
  if (o.notes.empty() || !range) return std::string();
  const std::uint64_t needed = noteColumns(*range, o.columnsPerSemitone);
  if (needed == width) return std::string();
  char text[300];
  std::snprintf(text, sizeof text,
                "the picture is %u columns wide; for a column on every note of %s at %d per semitone it must be "
                "%llu columns wide",
                static_cast<unsigned>(width), o.notes.c_str(), o.columnsPerSemitone,
                static_cast<unsigned long long>(needed));
  return text;
}

}  // namespace vellomar::cli

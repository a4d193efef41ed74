// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render's options: what the command line holds, how it is
// declared to the parser, and the checks that turn it into settings.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "cli/note_options.h"
#include "engine/settings.h"
#include "files/render_setup.h"

namespace vellomar::cli {

struct Options {
  std::string picture;
  std::string output;
  std::string source = "pink";
  std::string input;
  std::string scale = "mel";
  std::string brightness = "lin";
  std::int32_t blockLength = 8192;
  std::int32_t subBlocks = 4;
  float freqGranularity = 0.0f;
  float timeGranularity = 0.0f;
  int rangeDb = 60;
  int gainDb = 6;
  float duration = 15.0f;
  int threads = 0;
  float lowHz = 0.0f;
  float highHz = 0.0f;
  bool stereo = false;
  bool quiet = false;
  bool analyse = false;
  std::string size;  // --analyse: WIDTHxHEIGHT, empty for the default
  NoteOptions notes;
  bool strictInput = false;
  std::string format;  // empty: from the output's extension
  std::uint32_t rate = 44100;
  std::string plans = "measured";
  bool makePlans = false;
};

// Declares every option of `o` to `app`.
void addOptions(CLI::App& app, Options& o);

// Checks the parsed options (`app` tells which were given) and fills
// `settings` from them. Returns 0, or kExitUsage after saying what is wrong.
int settingsFromOptions(const Options& o, const CLI::App& app, RenderSettings& settings);

// The input's reading and the output's format from the options and the
// output's name. Returns 0, or kExitUsage after saying what is wrong.
int soundFileOptionsFrom(const Options& o, const CLI::App& app, SoundFileOptions& files);

}  // namespace vellomar::cli

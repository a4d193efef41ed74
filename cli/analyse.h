// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render --analyse: a wave file becomes a PNG picture whose render
// on the same settings sounds like it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/settings.h"

namespace vellomar {

struct AnalyseRequest {
  std::string input;   // the sound file, "-" for standard input
  std::string output;  // the PNG file, "-" for standard output
  std::string size;    // "WIDTHxHEIGHT", or empty for the default
  std::int32_t threads = 0;
  bool quiet = false;
  bool strictInput = false;  // the classic reader only
  const std::atomic<bool>* interrupted = nullptr;  // set by a signal
};

// Reads "WIDTHxHEIGHT" (each side a whole number, the sizes the picture
// loader reads back). An empty text when it is fine, else what is wrong.
std::string parsePictureSize(const std::string& text, std::uint32_t& width, std::uint32_t& height);

// Analyses request.input with `settings` into request.output. Returns the
// exit code: 0 written, 1 a file failure or an interruption, 2 a usage
// error. Says why on stderr.
int runAnalyse(const RenderSettings& settings, const AnalyseRequest& request);

}  // namespace vellomar

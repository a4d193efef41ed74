// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/analyse.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/standard_streams.h"
#include "cli/terminal.h"
#include "engine/analysis.h"
#include "files/analysis_setup.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/picture_writer.h"

namespace vellomar {
namespace {

// A whole number of at most nine digits (no sign, no blanks), or -1.
long long sideOf(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string parsePictureSize(const std::string& text, std::uint32_t& width, std::uint32_t& height) {
  const std::string limits = analysisSizeLimits();
  const std::size_t x = text.find_first_of("xX");
  const long long w = x == std::string::npos ? -1 : sideOf(text.substr(0, x));
  const long long h = x == std::string::npos ? -1 : sideOf(text.substr(x + 1));
  if (w < 0 || h < 0) return "--size must be WIDTHxHEIGHT in pixels, such as 512x300 (" + limits + ")";
  if (std::string wrong = analysisSizeRefusal(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h),
                                              "--size " + text);
      !wrong.empty()) {
    return wrong;
  }
  width = static_cast<std::uint32_t>(w);
  height = static_cast<std::uint32_t>(h);
  return std::string();
}

int runAnalyse(const RenderSettings& settings, const AnalyseRequest& request) {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!request.size.empty()) {
    const std::string wrong = parsePictureSize(request.size, width, height);
    if (!wrong.empty()) return cli::usageError(wrong);
  }
  if (const int code = cli::checkStandardStreams(request.input, std::string(), request.output); code != 0) {
    return code;
  }
  // Nothing is touched before the names are known to be apart.
  if (request.input != kStandardStream && request.output != kStandardStream &&
      sameFile(request.output, request.input)) {
    return cli::usageError("The output picture cannot be the input wave file '" + request.input + "'.");
  }

  PreparedAnalysis prepared;
  Refusal refusal;
  AudioInputRules rules;
  rules.anyAudio = !request.strictInput;
  rules.anyAudioHint = "leave out --strict-input";
  rules.abort = request.interrupted;
  bool aborted = false;
  if (!prepareAnalysis(request.input, settings, width, height, rules, prepared, refusal, &aborted)) {
    if (aborted) return cli::reportInterrupted();
    showRefusal(nullptr, refusal);
    return cli::kExitFailed;
  }
  AnalysisJob& job = prepared.job;
  job.abort = request.interrupted;
  job.threads = request.threads;
  cli::ProgressBar bar(!request.quiet && isatty(STDERR_FILENO), "Analysing");
  job.progress = [&bar](int thousandths) { bar.update(thousandths); };
  const bool interrupted = request.interrupted && request.interrupted->load();
  ResultCode result = interrupted ? kResultAborted : analysePrepared(prepared);
  bar.finish();
  result = finishAnalysis(prepared, result, refusal);
  if (result == kResultAborted) return cli::reportInterrupted();
  if (result != kResultOk) {
    showRefusal(nullptr, refusal);
    return cli::kExitFailed;
  }
  if (request.interrupted && request.interrupted->load()) return cli::reportInterrupted();
  if (!savePicturePng(*prepared.picture, request.output, refusal)) {
    showRefusal(nullptr, refusal);
    return cli::kExitFailed;
  }
  return cli::kExitOk;
}

}  // namespace vellomar

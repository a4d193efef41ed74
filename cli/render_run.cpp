// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/render_run.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/interrupt.h"
#include "cli/standard_streams.h"
#include "cli/terminal.h"
#include "engine/render.h"
#include "files/levels_report.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/picture.h"
#include "files/render_setup.h"

namespace vellomar::cli {

int runRender(const Options& o, const CLI::App& app, const RenderSettings& settings) {
  SoundFileOptions files;
  if (const int code = soundFileOptionsFrom(o, app, files); code != 0) return code;
  const bool wave = settings.inputSource == InputSource::WaveFile;
  if (const int code = checkStandardStreams(o.picture, wave ? o.input : std::string(), o.output); code != 0) {
    return code;
  }
  // Nothing is touched before the names are known to be apart.
  if (wave && o.input != kStandardStream && o.output != kStandardStream && sameFile(o.output, o.input)) {
    return usageError("Input and output wave cannot be the same file.\nPlease change your selection.");
  }
  if (o.picture != kStandardStream && o.output != kStandardStream && sameFile(o.output, o.picture)) {
    return usageError("The output wave cannot be the picture file '" + o.picture + "'.");
  }

  std::string reason;
  std::shared_ptr<const PictureBitmap> picture;
  {
    const PictureLoading loading;
    picture = loadPictureArgument(o.picture, reason);
  }
  if (interruptFlag().load()) return reportInterrupted();
  if (!picture) {
    showRefusal(nullptr, pictureRefusal(inputName(o.picture), reason));
    return kExitFailed;
  }

  const std::string advice = noteWidthAdvice(o.notes, picture->width);
  if (!advice.empty()) std::fprintf(stderr, "Note: %s.\n", advice.c_str());

  PreparedRender prepared;
  Refusal refusal;
  bool aborted = false;
  if (!prepareRender(settings, pictureDataOf(*picture), kInitialRandomSeed, files, prepared, refusal, &aborted)) {
    if (aborted) return reportInterrupted();
    showRefusal(nullptr, refusal);
    return kExitFailed;
  }
  RenderJob& job = prepared.job;
  job.abort = &interruptFlag();
  job.threads = app.count("--threads") > 0 ? o.threads : 0;
  if (o.plans == "estimated") job.plans.planning = FftPlanning::Estimated;

  ProgressBar bar(!o.quiet && isatty(STDERR_FILENO), "Rendering");
  job.progress = [&bar](int thousandths) { bar.update(thousandths); };
  // A signal that came while the files were being opened stops the render
  // before it starts.
  ResultCode result = interruptFlag().load() ? kResultAborted : renderSound(job);
  if (result == kResultOk) bar.update(1000);
  bar.finish();
  job.progress = nullptr;

  result = finishRender(prepared, result, refusal);
  if (result == kResultAborted) return reportInterrupted();
  if (result != kResultOk) {
    showRefusal(nullptr, refusal);
    return kExitFailed;
  }
  // Said even with --quiet: the file is not what the picture asked for.
  const std::string clipping = clippingReport(job.levels, settings.masterGainDb);
  if (!clipping.empty()) std::fprintf(stderr, "Warning: %s.\n", clipping.c_str());
  return kExitOk;
}

}  // namespace vellomar::cli

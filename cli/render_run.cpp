#include "cli/render_run.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "engine/render.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/picture.h"
#include "files/render_setup.h"

namespace vellomar::cli {

int runRender(const Options& o, const CLI::App& app, const RenderSettings& settings) {
  const bool wave = settings.inputSource == InputSource::WaveFile;
  // Nothing is touched before the names are known to be apart.
  if (wave && sameFile(o.output, o.input)) {
    std::fprintf(stderr, "Input and output wave cannot be the same file.\nPlease change your selection.\n");
    return kExitUsage;
  }
  if (sameFile(o.output, o.picture)) {
    std::fprintf(stderr, "The output wave cannot be the picture file '%s'.\n", o.picture.c_str());
    return kExitUsage;
  }

  std::string reason;
  const std::shared_ptr<const PictureBitmap> picture = loadPicture(o.picture, &reason);
  if (!picture) {
    showRefusal(nullptr, pictureRefusal(o.picture, reason));
    return kExitFailed;
  }

  PreparedRender prepared;
  Refusal refusal;
  if (!prepareRender(settings, pictureDataOf(*picture), kInitialRandomSeed, prepared, refusal)) {
    showRefusal(nullptr, refusal);
    return kExitFailed;
  }
  RenderJob& job = prepared.job;
  job.abort = &interruptFlag();
  job.threads = app.count("--threads") > 0 ? o.threads : 0;

  cli::ProgressBar bar(!o.quiet && isatty(STDERR_FILENO), "Rendering");
  job.progress = [&bar](int thousandths) { bar.update(thousandths); };
  // A signal that came while the files were being opened stops the render
  // before it starts.
  ResultCode result = interruptFlag().load() ? kResultAborted : renderSound(job);
  if (result == kResultOk) bar.update(1000);
  bar.finish();
  job.progress = nullptr;

  result = finishRender(prepared, result, refusal);
  if (result == kResultAborted) {
    cli::reportInterrupted();
    return kExitFailed;
  }
  if (result != kResultOk) {
    showRefusal(nullptr, refusal);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace vellomar::cli

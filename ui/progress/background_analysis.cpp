// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress/background_analysis.h"

#include "files/audio_input.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "ui/progress/task_progress.h"

namespace vellomar {

ResultCode analyseInBackground(QWidget* owner, const std::string& path, const RenderSettings& settings,
                               std::uint32_t width, std::uint32_t height, const AnalysisSteps& steps,
                               PreparedAnalysis& prepared, Refusal& refusal) {
  refusal = Refusal{};
  // One at a time: a call made while the dialog is up (a timer's, a signal
  // the nested event loop delivers) is cancelled at once.
  static bool running = false;
  if (running) return kResultAborted;
  running = true;
  struct Done {
    ~Done() { running = false; }
  } done;
  AudioInputRules rules = fileOptions.input;
  rules.anyAudioHint = "turn on \"Read any audio file\" in Options";
  rules.keep = &windowInputs();
  // The worker reads its own copies: the window may change its settings
  // while the dialog is up.
  const RenderSettings fixed = settings;
  const std::string file = path;
  ResultCode result = runWithProgress(owner, QStringLiteral("Reading '%1'...").arg(steps.name),
                                      [&](const EditControl& control) {
                                        AudioInputRules reading = rules;
                                        reading.abort = control.abort;
                                        reading.progress = control.progress;
                                        bool aborted = false;
                                        if (prepareAnalysis(file, fixed, width, height, reading, prepared, refusal,
                                                            &aborted)) {
                                          return kResultOk;
                                        }
                                        return aborted ? kResultAborted : kResultInternal;
                                      });
  if (result != kResultOk) return result;
  if (steps.chooseSize) {
    std::uint32_t w = prepared.picture->width;
    std::uint32_t h = prepared.picture->height;
    if (!steps.chooseSize(w, h)) return kResultAborted;
    if ((w != prepared.picture->width || h != prepared.picture->height) &&
        !resizeAnalysisPicture(prepared, w, h, refusal)) {
      return kResultNoMemory;
    }
  }
  result = runWithProgress(owner, QStringLiteral("Analysing '%1'...").arg(steps.name),
                           [&prepared](const EditControl& control) {
                             prepared.job.abort = control.abort;
                             prepared.job.progress = control.progress;
                             return analysePrepared(prepared);
                           });
  prepared.job.abort = nullptr;
  return finishAnalysis(prepared, result, refusal);
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// The window's analyses of sound files (Picture from wave file, the
// spectrogram window, the editor's spectrogram underneath) off the user
// interface thread: the file is opened (decoded when it must be, the decode
// kept for the window's other readers) and analysed on a thread of its own
// behind a progress dialog with Cancel, the window still drawn meanwhile.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "files/analysis_setup.h"
#include "files/messages.h"

class QWidget;

namespace vellomar {

struct AnalysisSteps {
  QString name;  // the file's name, for the dialog
  // Asked with the default size once the file is open, before it is
  // analysed; false stops there, as Cancel does.
  std::function<bool(std::uint32_t& width, std::uint32_t& height)> chooseSize;
};

// Analyses the sound file at `path` with `settings` into a width x height
// picture (either 0: the default size), read as the Options say. Returns
// 0 with `prepared` analysed (its picture complete, the file closed), 111
// when cancelled (nothing to tell; also at once for a call made while
// another runs), or another result with the refusal.
ResultCode analyseInBackground(QWidget* owner, const std::string& path, const RenderSettings& settings,
                               std::uint32_t width, std::uint32_t height, const AnalysisSteps& steps,
                               PreparedAnalysis& prepared, Refusal& refusal);

}  // namespace vellomar

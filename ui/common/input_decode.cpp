// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/input_decode.h"

#include <QString>
#include <cstdio>

#include "ui/progress/task_progress.h"

namespace vellomar {

DecodedInputs& windowInputs() {
  static DecodedInputs inputs;
  return inputs;
}

InputReady decodeInputFirst(QWidget* owner, const std::string& path, const AudioInputRules& rules,
                            Refusal& refusal) {
  static bool decoding = false;
  refusal = Refusal{};
  if (decoding) return InputReady::Cancelled;
  DecodedInputs& inputs = windowInputs();
  if (!inputs.needsDecode(path, rules)) return InputReady::Ready;
  decoding = true;
  Refusal found;
  const ResultCode result =
      runWithProgress(owner, QStringLiteral("Reading the input sound file..."), [&](const EditControl& control) {
        AudioInputRules reading = rules;
        reading.abort = control.abort;
        reading.progress = control.progress;
        AudioInput input;
        bool aborted = false;
        if (!inputs.open(path, reading, input, found, &aborted)) return aborted ? kResultAborted : kResultInternal;
        std::fclose(input.stream);
        return kResultOk;
      });
  decoding = false;
  if (result == kResultOk) return InputReady::Ready;
  if (result == kResultAborted) return InputReady::Cancelled;
  refusal = found ? found : refusalForResult(result);
  return InputReady::Refused;
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// The window's input, decoded once: its renders, its background render
// and the editor's audition share one decode of an input file while the
// file stays as it was, and a decode runs on a thread of its own behind a
// progress dialog with Cancel, the window still drawn meanwhile.
#pragma once

#include <string>

#include "files/audio_input.h"
#include "files/decoded_input.h"
#include "files/messages.h"

class QWidget;

namespace vellomar {

// The decoded input the window keeps.
DecodedInputs& windowInputs();

enum class InputReady {
  Ready,      // nothing to decode, or decoded and kept: open it now
  Refused,    // the input cannot be read; the refusal says why
  Cancelled,  // Cancel stopped the decode; nothing is kept
};

// Before the window opens `path` under `rules` (their rate set): when the
// file needs a decode that is not kept yet, decodes it with a progress
// dialog over `owner`. Refused carries the reader's own words, as opening
// the file would have given them. A call made while a decode runs (a
// timer's, say) is Cancelled at once.
InputReady decodeInputFirst(QWidget* owner, const std::string& path, const AudioInputRules& rules,
                            Refusal& refusal);

}  // namespace vellomar

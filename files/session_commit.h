// SPDX-License-Identifier: GPL-3.0-or-later
// A render session's sound as the user's file: the session's stored
// samples in the output's format (files/audio_output.h: the WAV header of
// its depth, or the sink that encodes FLAC or resamples), written through
// the output commit (files/output_file.h), so that the file takes the
// user's name only when complete and an earlier file of that name stays as
// it was until then.
#pragma once

#include <string>

#include "engine/result_code.h"
#include "engine/session.h"
#include "files/audio_output.h"
#include "files/messages.h"

namespace vellomar {

// Writes `session`'s finished sound to `path` in `format`; the session must
// store encodingFor(format). Returns 0; 111 (with an empty refusal) when a
// revision runs, waits or started while it wrote: nothing of the user's
// has changed then, and the caller commits again after the revision ends;
// otherwise the failure with `refusal` (the writer's words), nothing left
// behind.
ResultCode commitSession(const RenderSession& session, const std::string& path, const OutputFormat& format,
                         Refusal& refusal);

}  // namespace vellomar

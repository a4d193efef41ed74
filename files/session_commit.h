// SPDX-License-Identifier: GPL-3.0-or-later
// A render session's sound as the user's wave file: the session's stored
// samples behind a wave header of its encoding and channels, written
// through the output commit (files/output_file.h), so that the file takes
// the user's name only when complete and an earlier file of that name
// stays as it was until then.
#pragma once

#include <string>

#include "engine/result_code.h"
#include "engine/session.h"
#include "files/messages.h"

namespace vellomar {

// Writes `session`'s finished sound to `path` at `sampleRate`. Returns 0;
// 111 (with an empty refusal) when a revision runs, waits or started while
// it wrote: nothing of the user's has changed then, and the caller commits
// again after the revision ends; otherwise the failure with `refusal`
// (the writer's words), nothing left behind.
ResultCode commitSession(const RenderSession& session, const std::string& path, std::uint32_t sampleRate,
                         Refusal& refusal);

}  // namespace vellomar

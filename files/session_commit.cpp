// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/session_commit.h"

#include <cstdio>

#include "files/output_file.h"
#include "files/render_setup.h"

namespace vellomar {
namespace {

// The output's stream with its header written, or the sink that encodes
// it; nullptr with `refusal`.
std::FILE* openOutput(OutputFile& output, const RenderSession& session, const std::string& path,
                      const OutputFormat& format, Refusal& refusal) {
  std::FILE* target = output.openBlank(path, outputFileKind(format), refusal);
  if (!target) return nullptr;
  const auto frames = static_cast<std::uint64_t>(session.frames());
  if (!isFlac(format.kind) && format.rate == 44100) {
    if (writeSoundHeader(target, format.kind, session.channels(), format.rate, frames, refusal)) return target;
    std::fclose(target);
    return nullptr;
  }
  return openSoundSink(target, format, session.encoding(), session.channels(), frames, refusal);
}

}  // namespace

ResultCode commitSession(const RenderSession& session, const std::string& path, const OutputFormat& format,
                         Refusal& refusal) {
  refusal = Refusal{};
  if (session.encoding() != encodingFor(format)) {
    refusal = refusalForResult(kResultInternal);
    return kResultInternal;
  }
  if (session.rendering()) return kResultAborted;
  OutputFile output;
  std::FILE* stream = openOutput(output, session, path, format, refusal);
  if (!stream) {
    output.discard();
    return kResultWriteFailed;
  }
  ResultCode result = session.writeSound([stream](const unsigned char* bytes, std::size_t size) {
    return std::fwrite(bytes, 1, size, stream) == size && !std::ferror(stream);
  });
  // Closing finishes the file (a sink encodes its last samples then).
  if (std::fclose(stream) != 0 && result == kResultOk) result = kResultWriteFailed;
  if (result != kResultOk) {
    output.discard();
    if (result != kResultAborted) refusal = refusalForResult(result);
    return result;
  }
  return output.commit(refusal) ? kResultOk : kResultWriteFailed;
}

}  // namespace vellomar

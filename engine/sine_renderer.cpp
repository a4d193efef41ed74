// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/sine_renderer.h"

#include <algorithm>

namespace vellomar {

ResultCode SineBlockRenderer::prepare(const RenderInputs& inputs) {
  inputs_ = inputs;
  if (!inputs.job || inputs.channels < 1 || inputs.channels > kMaxChannels) return kResultInternal;
  layout_ = BlockLayout::of(*inputs.job);
  ResultCode result = prepareSineTables(tables_, *inputs.job);
  for (int c = 0; c < inputs.channels && result == kResultOk; ++c) {
    result = configureSineVoice(voices_[c], *inputs.job, tables_);
  }
  return result;
}

void SineBlockRenderer::forget() {
  for (SineVoice& voice : voices_) voice.heldColumn[0] = voice.heldColumn[1] = -1;
}

ResultCode SineBlockRenderer::renderBlock(std::int64_t b, double* values, const StopFlags& stop,
                                          std::int64_t& framesDone) {
  const int channels = inputs_.channels;
  const auto stride = static_cast<std::size_t>(channels);
  framesDone = 0;
  std::int64_t least = layout_.frameCount(b);
  for (int c = 0; c < channels; ++c) {
    std::int64_t done = 0;
    const ResultCode result = renderSineFrames(voices_[c], inputs_.gains[c], layout_.firstFrame(b),
                                               layout_.frameCount(b), values + c, stride, &stop, &done);
    least = std::min(least, done);
    if (result != kResultOk) {
      // Channels after this one have nothing of the block.
      framesDone = c + 1 < channels ? 0 : least;
      return result;
    }
  }
  framesDone = least;
  return kResultOk;
}

}  // namespace vellomar

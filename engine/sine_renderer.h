// SPDX-License-Identifier: GPL-3.0-or-later
// The block renderer of the sine source: every channel's tones (see
// engine/sine.h), block by block.
#pragma once

#include "engine/block_renderer.h"
#include "engine/sine.h"

namespace vellomar {

class SineBlockRenderer final : public BlockRenderer {
 public:
  ResultCode prepare(const RenderInputs& inputs) override;
  void forget() override;
  ResultCode renderBlock(std::int64_t b, double* values, const StopFlags& stop, std::int64_t& framesDone) override;

 private:
  RenderInputs inputs_;
  BlockLayout layout_;
  SineTables tables_;
  // One synthesiser per channel, each keeping its own channel's sums.
  SineVoice voices_[kMaxChannels];
};

}  // namespace vellomar

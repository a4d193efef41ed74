// SPDX-License-Identifier: GPL-3.0-or-later
// The block renderer of the noise and wave sources: the source filtered,
// hop by hop, by the column filters the picture defines (fast convolution
// with time-varying filters, neighbouring filters cross-faded across every
// hop).
#pragma once

#include "engine/block_renderer.h"
#include "engine/context.h"

namespace vellomar {

class FilterBlockRenderer final : public BlockRenderer {
 public:
  ResultCode prepare(const RenderInputs& inputs) override;
  void forget() override;
  ResultCode renderBlock(std::int64_t b, double* values, const StopFlags& stop, std::int64_t& framesDone) override;

 private:
  // Block b of channel c into values[frame * stride].
  ResultCode renderChannel(int c, std::int64_t b, double* values, std::size_t stride, const StopFlags& stop,
                           std::int64_t& framesDone);

  RenderInputs inputs_;
  BlockLayout layout_;
  // One context per channel, each with its own cache, so that blocks in
  // order read each source block once per channel.
  RenderContext contexts_[kMaxChannels];
  // The block each context renders next without reading the one before
  // it again; -1 when it must start afresh.
  std::int64_t next_[kMaxChannels] = {-1, -1};
};

}  // namespace vellomar

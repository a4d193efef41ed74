// SPDX-License-Identifier: GPL-3.0-or-later
// The block renderers of one render and the buffers each works in, all
// made before any worker thread starts: when memory is short, a render
// gets fewer renderers (and so fewer threads) instead of failing, and fails
// with 3 only when not even one can be made.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/block_renderer.h"
#include "engine/result_code.h"

namespace vellomar {

struct RenderCrew {
  std::vector<std::unique_ptr<BlockRenderer>> renderers;
  // Per renderer: one block's values, every channel.
  std::vector<std::vector<double>> values;

  std::size_t size() const { return renderers.size(); }
  // Keeps the first `count` renderers.
  void shrink(std::size_t count);
};

// Makes up to `wanted` renderers for `inputs`, each prepared, with its
// value buffer. Returns 0 with at least one renderer; the first one's
// failure (3, or 110 for inputs no renderer can render) when none can be
// made.
ResultCode makeRenderCrew(const RenderInputs& inputs, std::size_t wanted, RenderCrew& crew);

}  // namespace vellomar

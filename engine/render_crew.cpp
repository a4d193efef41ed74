// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render_crew.h"

#include <new>

namespace vellomar {

void RenderCrew::shrink(std::size_t count) {
  if (count >= renderers.size()) return;
  renderers.resize(count);
  values.resize(count);
}

ResultCode makeRenderCrew(const RenderInputs& inputs, std::size_t wanted, RenderCrew& crew) {
  crew = RenderCrew{};
  if (!inputs.job) return kResultInternal;
  const std::size_t blockValues = BlockLayout::of(*inputs.job).blockValues();
  try {
    crew.renderers.reserve(wanted);
    crew.values.reserve(wanted);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  for (std::size_t i = 0; i < wanted; ++i) {
    std::unique_ptr<BlockRenderer> renderer = makeBlockRenderer(inputs.job->settings);
    ResultCode result = renderer ? renderer->prepare(inputs) : kResultNoMemory;
    std::vector<double> values;
    if (result == kResultOk) {
      try {
        values.resize(blockValues);
      } catch (const std::bad_alloc&) {
        result = kResultNoMemory;
      }
    }
    if (result != kResultOk) {
      // Fewer renderers when memory is short; the inputs' own fault ends
      // the render.
      if (crew.renderers.empty() || result != kResultNoMemory) {
        crew = RenderCrew{};
        return result;
      }
      break;
    }
    crew.renderers.push_back(std::move(renderer));
    crew.values.push_back(std::move(values));
  }
  return kResultOk;
}

}  // namespace vellomar

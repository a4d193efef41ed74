// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/block_renderer.h"

#include <algorithm>
#include <new>

#include "engine/filter_renderer.h"
#include "engine/sine_renderer.h"

namespace vellomar {

BlockLayout BlockLayout::of(const RenderJob& job) {
  BlockLayout layout;
  layout.frames = job.sampleCount;
  layout.blockLength = job.settings.blockLength;
  layout.blocks = layout.blockLength > 0 ? static_cast<std::int64_t>(blockCount(job.sampleCount, layout.blockLength)) : 0;
  layout.channels = renderChannels(job);
  return layout;
}

std::int64_t BlockLayout::frameCount(std::int64_t b) const {
  if (b < 0 || b >= blocks) return 0;
  const std::int64_t first = firstFrame(b);
  const std::int64_t end = std::min<std::int64_t>(frames, b * blockLength + blockLength / 2);
  return std::max<std::int64_t>(0, end - first);
}

std::unique_ptr<BlockRenderer> makeBlockRenderer(const RenderSettings& settings) {
  switch (settings.inputSource) {
    case InputSource::PinkNoise:
    case InputSource::WhiteNoise:
    case InputSource::WaveFile:
      return std::unique_ptr<BlockRenderer>(new (std::nothrow) FilterBlockRenderer);
    case InputSource::SineTones:
      return std::unique_ptr<BlockRenderer>(new (std::nothrow) SineBlockRenderer);
  }
  return nullptr;
}

}  // namespace vellomar

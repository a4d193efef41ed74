// SPDX-License-Identifier: GPL-3.0-or-later
// The gain matrices a render reads: one per output channel. Mono reads the
// picture's brightness; stereo reads its red for the left channel and its
// green for the right, each as the brightness of a grey picture (a picture
// without colour is grey in both).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/block_renderer.h"
#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

class ChannelGains {
 public:
  // Makes the matrices for `job`'s picture and channels (nothing is filled
  // yet). Returns 0, 3, or 110 without a picture.
  ResultCode make(const RenderJob& job);
  // Fills rows first ... last (row 0 the top one) of every channel from the
  // job's picture and brightness mapping, on up to `threads` threads (see
  // buildGainMatrix).
  void fill(const RenderJob& job, std::int32_t firstRow, std::int32_t lastRow, std::int32_t threads = 1);
  // Fills every row, on the job's threads.
  void fillAll(const RenderJob& job);

  int channels() const { return channels_; }
  const float* channel(int c) const { return values_.data() + pixels_ * static_cast<std::size_t>(c); }
  // Whether the matrices were made for this picture size and channel count.
  bool fits(const RenderJob& job) const;
  // The inputs of a render of `job` over these gains.
  RenderInputs inputs(const RenderJob& job) const;

 private:
  std::vector<float> values_;
  std::size_t pixels_ = 0;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  int channels_ = 0;
};

}  // namespace vellomar

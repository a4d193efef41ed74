// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/channel_gains.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "engine/design.h"

namespace vellomar {

ResultCode ChannelGains::make(const RenderJob& job) {
  const PictureData& picture = job.picture;
  if (picture.width == 0 || picture.height == 0 || !picture.pixels) return kResultInternal;
  const int channels = renderChannels(job);
  if (fits(job)) return kResultOk;
  const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;
  try {
    values_.assign(pixels * static_cast<std::size_t>(channels), 0.0f);
  } catch (const std::bad_alloc&) {
    *this = ChannelGains{};
    return kResultNoMemory;
  } catch (const std::length_error&) {
    *this = ChannelGains{};
    return kResultNoMemory;
  }
  pixels_ = pixels;
  width_ = picture.width;
  height_ = picture.height;
  channels_ = channels;
  return kResultOk;
}

bool ChannelGains::fits(const RenderJob& job) const {
  return channels_ == renderChannels(job) && width_ == job.picture.width && height_ == job.picture.height &&
         pixels_ > 0;
}

void ChannelGains::fill(const RenderJob& job, std::int32_t firstRow, std::int32_t lastRow, std::int32_t threads) {
  if (!fits(job)) return;
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, static_cast<std::int32_t>(height_) - 1);
  if (lastRow < firstRow) return;
  const PictureData& picture = job.picture;
  const std::uint8_t* planes[kMaxChannels] = {picture.red, picture.green};
  for (int c = 0; c < channels_; ++c) {
    // Rows first ... last as a picture of their own: rows are stored
    // bottom-up, so its bytes start at the stored row of `last`.
    PictureData rows = picture;
    // The colour planes make a stereo render's channels; a stereo input
    // without stereo renders both through the grey.
    if (channels_ > 1 && job.settings.stereo && planes[c]) rows.pixels = planes[c];
    rows.pixels += static_cast<std::size_t>(height_ - 1 - static_cast<std::uint32_t>(lastRow)) * picture.stride;
    rows.height = static_cast<std::uint32_t>(lastRow - firstRow + 1);
    float* out = values_.data() + pixels_ * static_cast<std::size_t>(c) +
                 static_cast<std::size_t>(firstRow) * width_;
    buildGainMatrix(rows, job.settings, out, threads);
  }
}

void ChannelGains::fillAll(const RenderJob& job) {
  fill(job, 0, static_cast<std::int32_t>(height_) - 1, job.threads);
}

RenderInputs ChannelGains::inputs(const RenderJob& job) const {
  RenderInputs inputs;
  inputs.job = &job;
  inputs.channels = channels_;
  for (int c = 0; c < channels_; ++c) inputs.gains[c] = channel(c);
  return inputs;
}

}  // namespace vellomar

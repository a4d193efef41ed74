// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/row_span.h"

#include <algorithm>
#include <cmath>

#include "engine/span.h"

namespace vellomar {
namespace {

void keepInside(float rows, float& lo, float& hi) {
  if (!(lo > 0.001f)) lo = 0.001f;
  if (!(lo < rows - 1.002f)) lo = rows - 1.002f;
  if (!(hi > 0.002f)) hi = 0.002f;
  if (!(hi < rows - 1.001f)) hi = rows - 1.001f;
}

}  // namespace

ResultCode columnSlot(const RenderSettings& s, std::uint32_t sampleCount, std::uint32_t height, std::int32_t u,
                      float& lo, float& hi) {
  const std::int32_t n = s.blockLength;
  const float rows = static_cast<float>(height);
  // The slot's span in fractional rows: row 0 at time 0, row H-1 at the
  // end of the output.
  const float total = static_cast<float>(sampleCount) / static_cast<float>(n) * static_cast<float>(s.subBlocksPerBlock);
  const float mid = static_cast<float>(u) - static_cast<float>(s.subBlocksPerBlock) * 0.5f;
  const float last = static_cast<float>(height - 1);
  lo = ((mid - 0.5f) / total) * last;
  hi = ((mid + 0.5f) / total) * last;
  keepInside(rows, lo, hi);
  if (hi > lo) return kResultOk;
  // Far into a long sound with a fine time granularity the slot's two
  // ends, formed in single precision, round to one position. Formed in
  // double they come apart; where even that is too fine for a float, the
  // slot reads the rows at its start.
  const double totalHops =
      static_cast<double>(sampleCount) / static_cast<double>(n) * static_cast<double>(s.subBlocksPerBlock);
  const double middle = static_cast<double>(u) - static_cast<double>(s.subBlocksPerBlock) * 0.5;
  lo = static_cast<float>((middle - 0.5) / totalHops * static_cast<double>(last));
  hi = static_cast<float>((middle + 0.5) / totalHops * static_cast<double>(last));
  keepInside(rows, lo, hi);
  if (!(hi > lo)) hi = std::nextafter(lo, rows);
  if (!(hi > lo)) return kResultEmptyTimeSpan;
  return kResultOk;
}

RowSpan columnRows(const RenderJob& job, std::int32_t u) {
  const std::uint32_t height = job.picture.height;
  const auto all = RowSpan{0, static_cast<std::int32_t>(height) - 1};
  if (height <= 1) return all;
  float lo = 0.0f;
  float hi = 0.0f;
  if (columnSlot(job.settings, job.sampleCount, height, u, lo, hi) != kResultOk) return all;
  // The mean reads the cells between the span's weights' ends.
  const SpanWeights w = spanWeights(lo, hi);
  const auto lastRow = static_cast<std::int32_t>(height) - 1;
  return RowSpan{std::clamp(w.h, 0, lastRow), std::clamp(std::max(w.h, w.g), 0, lastRow)};
}

RowSpan blockRows(const RenderJob& job, std::int64_t b) {
  const std::int64_t s = job.settings.subBlocksPerBlock;
  RowSpan rows = columnRows(job, static_cast<std::int32_t>(b * s));
  for (std::int64_t u = b * s + 1; u <= b * s + s; ++u) {
    const RowSpan more = columnRows(job, static_cast<std::int32_t>(u));
    rows.first = std::min(rows.first, more.first);
    rows.last = std::max(rows.last, more.last);
  }
  return rows;
}

}  // namespace vellomar

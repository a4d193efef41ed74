// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/row_spans.h"

#include <algorithm>

namespace vellomar {

void RowSpans::add(std::uint32_t begin, std::uint32_t end) {
  if (end <= begin) return;
  // The first span that ends at or after `begin` (touching counts: spans
  // that meet are joined) and the first that starts after `end`.
  auto first = std::lower_bound(spans_.begin(), spans_.end(), begin,
                                [](const RowSpan& s, std::uint32_t row) { return s.end < row; });
  auto last = std::upper_bound(first, spans_.end(), end, [](std::uint32_t row, const RowSpan& s) { return row < s.begin; });
  if (first == last) {
    spans_.insert(first, RowSpan{begin, end});
    return;
  }
  const RowSpan joined{std::min(begin, first->begin), std::max(end, std::prev(last)->end)};
  *first = joined;
  spans_.erase(std::next(first), last);
}

void RowSpans::add(const RowSpans& other) {
  for (const RowSpan& s : other.spans_) add(s.begin, s.end);
}

bool RowSpans::contains(std::uint32_t row) const {
  auto it = std::upper_bound(spans_.begin(), spans_.end(), row, [](std::uint32_t r, const RowSpan& s) { return r < s.begin; });
  return it != spans_.begin() && row < std::prev(it)->end;
}

std::uint64_t RowSpans::rowCount() const {
  std::uint64_t n = 0;
  for (const RowSpan& s : spans_) n += s.end - s.begin;
  return n;
}

RowSpan RowSpans::bounds() const {
  if (spans_.empty()) return {};
  return {spans_.front().begin, spans_.back().end};
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Sets of picture rows (0 = the top row, the start of the sound), kept as
// sorted, disjoint, non-adjacent half-open spans: what an edit touched,
// and so which stretch of the sound has to be rendered again.
#pragma once

#include <cstdint>
#include <vector>

namespace vellomar {

struct RowSpan {
  std::uint32_t begin = 0;  // first row
  std::uint32_t end = 0;    // one past the last row
  bool operator==(const RowSpan&) const = default;
};

class RowSpans {
 public:
  RowSpans() = default;
  RowSpans(std::uint32_t begin, std::uint32_t end) { add(begin, end); }
  // Every row of a picture `height` rows high.
  static RowSpans all(std::uint32_t height) { return RowSpans(0, height); }

  // Adds rows begin ... end - 1 (nothing when end <= begin).
  void add(std::uint32_t begin, std::uint32_t end);
  void add(const RowSpans& other);
  void clear() { spans_.clear(); }

  bool empty() const { return spans_.empty(); }
  bool contains(std::uint32_t row) const;
  // How many rows the set holds.
  std::uint64_t rowCount() const;
  // The first row and one past the last (0, 0 when empty).
  RowSpan bounds() const;
  const std::vector<RowSpan>& spans() const { return spans_; }

  bool operator==(const RowSpans&) const = default;

 private:
  std::vector<RowSpan> spans_;
};

}  // namespace vellomar

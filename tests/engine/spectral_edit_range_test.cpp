// SPDX-License-Identifier: GPL-3.0-or-later
// A part of an edit's output rendered alone gives the samples the whole
// render gives there, and writes nothing outside it.
#include <gtest/gtest.h>

#include <vector>

#include "engine/spectral_edit.h"
#include "spectral_edit_fixture.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::EditCase;

struct RangeOutcome {
  ResultCode result = -1;
  std::vector<double> written;  // interleaved, from `first`
  std::uint64_t lowest = ~0ull, highest = 0;
  bool inOrder = true;
};

RangeOutcome renderRange(const EditCase& e, std::uint64_t first, std::uint64_t end, std::int32_t threads) {
  std::vector<double> unused;
  SpectralEditJob job = e.job(unused);
  job.outputFirst = first;
  job.outputEnd = end;
  job.threads = threads;
  RangeOutcome o;
  const auto channels = static_cast<std::size_t>(e.channels);
  std::uint64_t next = first;
  job.write = [&](std::uint64_t from, std::size_t count, const double* y) {
    if (from != next) o.inOrder = false;
    next = from + count;
    o.lowest = std::min(o.lowest, from);
    o.highest = std::max<std::uint64_t>(o.highest, from + count);
    o.written.insert(o.written.end(), y, y + count * channels);
    return kResultOk;
  };
  o.result = renderSpectralEdit(job);
  return o;
}

TEST(SpectralEditRangeTest, RangesGiveTheWholeRendersSamples) {
  std::vector<std::int16_t> sound = test::speechLike(44100 * 3, 12000);
  for (std::size_t i = 60000; i < 80000; ++i) sound[i] = 0;
  EditCase e(RenderSettings{}, sound, 1, 180, 200);
  ASSERT_EQ(e.analysisResult, kResultOk);
  e.paint(20, 30, 90, 60, [](int b) { return b / 3; });
  e.paint(30, 95, 60, 110, [](int) { return 170; });  // over silence: synthesised
  e.moves.push_back(SpectralMove{-1, 100, 110, 40, 120, -60, 10});
  ResultCode result = -1;
  const std::vector<double> whole = e.render(2, &result);
  ASSERT_EQ(result, kResultOk);

  std::vector<double> scratch;
  std::vector<SampleRange> edited;
  ASSERT_EQ(editedSampleRanges(e.job(scratch), edited), kResultOk);
  // The synthesised cells over the silence are told as one run's reach,
  // within the edited samples and around the painted rows 95 ... 109.
  {
    std::vector<SampleRange> reach;
    SpectralEditJob job = e.job(scratch);
    job.synthesisReach = &reach;
    job.outputFirst = 1;
    job.outputEnd = 2;
    ASSERT_EQ(renderSpectralEdit(job), kResultOk);
    ASSERT_EQ(reach.size(), 1u);
    const double spacing = static_cast<double>(e.count) / (e.height - 1);
    EXPECT_LE(static_cast<double>(reach[0].first), 96 * spacing);
    EXPECT_GE(static_cast<double>(reach[0].end), 108 * spacing);
    bool inside = false;
    for (const SampleRange& r : edited) inside |= r.first <= reach[0].first && reach[0].end <= r.end;
    EXPECT_TRUE(inside);
  }
  ASSERT_FALSE(edited.empty());
  std::vector<SampleRange> ranges = edited;
  // Ranges on no chunk's edge, one sample, the last sample, and the end
  // given as 0 (to the end).
  ranges.push_back({12345, 54321});
  ranges.push_back({70001, 70002});
  ranges.push_back({e.count - 1, e.count});
  ranges.push_back({100000, 0});
  for (const SampleRange& r : ranges) {
    for (const std::int32_t threads : {1, 3}) {
      const RangeOutcome o = renderRange(e, r.first, r.end, threads);
      ASSERT_EQ(o.result, kResultOk);
      const std::uint64_t end = r.end == 0 ? e.count : r.end;
      EXPECT_TRUE(o.inOrder);
      EXPECT_EQ(o.lowest, r.first);
      EXPECT_EQ(o.highest, end);
      ASSERT_EQ(o.written.size(), end - r.first);
      for (std::uint64_t i = r.first; i < end; ++i) {
        ASSERT_EQ(o.written[i - r.first], whole[i]) << "sample " << i << " of " << r.first << " ... " << end;
      }
    }
  }
}

TEST(SpectralEditRangeTest, StereoRangeAndEmptyRange) {
  const std::vector<std::int16_t> sound = test::speechLike(2 * 50000, 9000);
  EditCase e(RenderSettings{}, sound, 2, 128, 100);
  ASSERT_EQ(e.analysisResult, kResultOk);
  for (std::uint32_t y = 20; y < 40; ++y) {
    for (std::uint32_t x = 10; x < 50; ++x) e.pixel(1, x, y) = 0;  // the right channel only
  }
  ResultCode result = -1;
  const std::vector<double> whole = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  const RangeOutcome o = renderRange(e, 9000, 31000, 2);
  ASSERT_EQ(o.result, kResultOk);
  ASSERT_EQ(o.written.size(), 2u * 22000u);
  for (std::size_t i = 0; i < o.written.size(); ++i) ASSERT_EQ(o.written[i], whole[2 * 9000 + i]) << i;
  // A range past the end, or empty, writes nothing and succeeds.
  for (const auto& [first, end] : {std::pair<std::uint64_t, std::uint64_t>{60000, 70000}, {500, 500}}) {
    const RangeOutcome none = renderRange(e, first, end, 1);
    EXPECT_EQ(none.result, kResultOk);
    EXPECT_TRUE(none.written.empty());
  }
}

}  // namespace
}  // namespace vellomar

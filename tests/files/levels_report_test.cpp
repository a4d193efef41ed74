// SPDX-License-Identifier: GPL-3.0-or-later
// The clipping report: the gain that would have avoided the clips, or the
// advice to darken the picture where no allowed gain would.

#include "files/levels_report.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vellomar {
namespace {

TEST(LevelsReport, NamesTheLargestGainThatAvoidsTheClips) {
  // 40000 at 6 dB: 4 dB brings it to 31600, 5 dB to 35500.
  EXPECT_EQ(gainAvoidingClips(40000.0, 6), 4);
  EXPECT_LE(40000.0 / masterGainFactor(6) * masterGainFactor(4), 32767.0);
  EXPECT_GT(40000.0 / masterGainFactor(6) * masterGainFactor(5), 32767.0);
  // Just over the top at 48 dB: 47 dB.
  EXPECT_EQ(gainAvoidingClips(32768.0, 48), 47);
  // Far below the top: 30 dB more; silence takes any gain.
  EXPECT_EQ(gainAvoidingClips(1000.0, 6), 36);
  EXPECT_EQ(gainAvoidingClips(0.0, 6), kMaxGainDb);

  RenderLevels levels;
  EXPECT_EQ(clippingReport(levels, 6), "");
  levels.clippedSamples = 1234;
  levels.peak = 40000.0;
  EXPECT_EQ(clippingReport(levels, 6), "1234 samples clipped; a master gain of 4 dB would avoid it");
  levels.clippedSamples = 1;
  levels.peak = 32767.6;
  EXPECT_EQ(clippingReport(levels, 0), "1 sample clipped; darken the picture to avoid it");
  levels.peak = 100000.0;
  EXPECT_EQ(clippingReport(levels, 6), "1 sample clipped; darken the picture to avoid it");
  levels.peak = INFINITY;
  EXPECT_EQ(clippingReport(levels, 6), "1 sample clipped; darken the picture to avoid it");
}

}  // namespace
}  // namespace vellomar

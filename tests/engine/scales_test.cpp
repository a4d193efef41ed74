// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/scales.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vellomar {
namespace {

TEST(FrequencyScales, WarpsRoundToFloat) {
  EXPECT_EQ(logWarp(16.0f), static_cast<float>(std::log(16.0)));
  EXPECT_EQ(melWarp(1000.0f), static_cast<float>(std::log(1700.0)));
  // The sum f + 700 is formed in float before the logarithm.
  const float f = 0.1f;
  EXPECT_EQ(melWarp(f), static_cast<float>(std::log(static_cast<double>(f + 700.0f))));
}

TEST(FrequencyScales, PositionTable) {
  struct Row {
    float hz;
    double linear, logarithmic, mel;
  };
  const Row table[] = {
      {16.0f, 0.00073, 0.0, 0.0},
      {100.0f, 0.00454, 0.25352, 0.03207},
      {440.0f, 0.01995, 0.45849, 0.13448},
      {1000.0f, 0.04535, 0.57207, 0.25001},
      {5000.0f, 0.22676, 0.79472, 0.59981},
      {11025.0f, 0.5, 0.90411, 0.80835},
      {22050.0f, 1.0, 1.0, 1.0},
  };
  for (float length : {1.0f, 639.0f}) {
    const ScaleMapping lin = scaleMapping(FrequencyScale::Linear, 44100, length);
    const ScaleMapping log = scaleMapping(FrequencyScale::Logarithmic, 44100, length);
    const ScaleMapping mel = scaleMapping(FrequencyScale::Mel, 44100, length);
    const double tol = 6e-6 * length;
    for (const Row& r : table) {
      EXPECT_NEAR(lin.position(r.hz), r.linear * length, tol) << r.hz;
      EXPECT_NEAR(log.position(r.hz), r.logarithmic * length, tol) << r.hz;
      EXPECT_NEAR(mel.position(r.hz), r.mel * length, tol) << r.hz;
    }
  }
}

TEST(FrequencyScales, RangesAndWarpsOfEachScale) {
  const ScaleMapping lin = scaleMapping(FrequencyScale::Linear, 44100, 10.0f);
  EXPECT_EQ(lin.warp, nullptr);
  EXPECT_EQ(lin.fLow, 0.0f);
  EXPECT_EQ(lin.fHigh, 22050.0f);
  EXPECT_EQ(lin.position(0.0f), 0.0f);
  const ScaleMapping log = scaleMapping(FrequencyScale::Logarithmic, 44100, 10.0f);
  EXPECT_EQ(log.warp, &logWarp);
  EXPECT_EQ(log.fLow, 16.0f);
  EXPECT_EQ(log.fHigh, 22050.0f);
  const ScaleMapping mel = scaleMapping(FrequencyScale::Mel, 44100, 10.0f);
  EXPECT_EQ(mel.warp, &melWarp);
  EXPECT_EQ(mel.fLow, 16.0f);
  // Below 16 Hz the warped scales go negative; the mapping does not clamp.
  EXPECT_LT(log.position(10.0f), 0.0f);
  EXPECT_LT(mel.position(10.0f), 0.0f);
  EXPECT_GT(mel.position(30000.0f), 10.0f);
}

TEST(FrequencyScales, MidpointsAndQuarter) {
  const float length = 1000.0f;
  const ScaleMapping lin = scaleMapping(FrequencyScale::Linear, 44100, length);
  const ScaleMapping log = scaleMapping(FrequencyScale::Logarithmic, 44100, length);
  const ScaleMapping mel = scaleMapping(FrequencyScale::Mel, 44100, length);
  EXPECT_NEAR(lin.position(11025.0f), 500.0f, 1e-3);
  EXPECT_NEAR(log.position(static_cast<float>(std::sqrt(16.0 * 22050.0))), 500.0f, 2e-3);
  EXPECT_NEAR(log.position(593.97f), 500.0f, 2e-3);
  EXPECT_NEAR(mel.position(static_cast<float>(std::sqrt(716.0 * 22750.0) - 700.0)), 500.0f, 2e-3);
  EXPECT_NEAR(mel.position(3335.96f), 500.0f, 2e-3);
  EXPECT_NEAR(mel.position(1000.0f), 250.0f, 0.1f);
}

// The picture's band: the scale's own ends unless the settings name others;
// the mapping then runs the same warp between the band's ends.
TEST(FrequencyScales, PictureBand) {
  RenderSettings settings;
  for (FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Logarithmic, FrequencyScale::Mel}) {
    settings.frequencyScale = scale;
    const FrequencyBand own = pictureBand(settings);
    const ScaleMapping plain = scaleMapping(scale, 44100, 100.0f);
    EXPECT_EQ(own.lowHz, plain.fLow);
    EXPECT_EQ(own.highHz, 22050.0f);
    const ScaleMapping same = pictureMapping(settings, 100.0f);
    for (float f : {16.0f, 440.0f, 5000.0f, 22050.0f}) EXPECT_EQ(same.position(f), plain.position(f)) << f;
  }
  settings.frequencyScale = FrequencyScale::Linear;
  settings.bandLowHz = 2000.0f;
  settings.bandHighHz = 4000.0f;
  const ScaleMapping band = pictureMapping(settings, 100.0f);
  EXPECT_FLOAT_EQ(band.position(2000.0f), 0.0f);
  EXPECT_FLOAT_EQ(band.position(3000.0f), 50.0f);
  EXPECT_FLOAT_EQ(band.position(4000.0f), 100.0f);
  settings.frequencyScale = FrequencyScale::Logarithmic;
  settings.bandLowHz = 0.0f;
  settings.bandHighHz = 1024.0f;
  const ScaleMapping log = pictureMapping(settings, 6.0f);
  EXPECT_NEAR(log.position(16.0f), 0.0f, 1e-5);
  EXPECT_NEAR(log.position(128.0f), 3.0f, 1e-5);  // 16 * 8 of 16 * 64
  EXPECT_NEAR(log.position(1024.0f), 6.0f, 1e-5);
}

// The bands a user may choose: within the scale's ends (0 Hz or 16 Hz to
// half the rate), the low end below the high by at least a bin.
TEST(FrequencyScales, BandLimits) {
  const BandLimits linear = bandLimits(FrequencyScale::Linear, 44100, 8192);
  EXPECT_EQ(linear.lowestHz, 0.0f);
  EXPECT_EQ(linear.highestHz, 22050.0f);
  EXPECT_DOUBLE_EQ(linear.leastWidthHz, 44100.0 / 8192.0);
  const BandLimits mel = bandLimits(FrequencyScale::Mel, 44100, 2048);
  EXPECT_EQ(mel.lowestHz, 16.0f);
  EXPECT_DOUBLE_EQ(mel.leastWidthHz, 44100.0 / 2048.0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    FrequencyScale scale;
    float low, high;
    bool fits;
  };
  const Case cases[] = {
      {FrequencyScale::Linear, 0.0f, 22050.0f, true},
      {FrequencyScale::Linear, 2000.0f, 4000.0f, true},
      {FrequencyScale::Linear, -1.0f, 4000.0f, false},
      {FrequencyScale::Linear, 0.0f, 22050.5f, false},
      {FrequencyScale::Mel, 16.0f, 22050.0f, true},
      {FrequencyScale::Mel, 15.9f, 22050.0f, false},
      {FrequencyScale::Logarithmic, 0.0f, 1000.0f, false},
      {FrequencyScale::Logarithmic, 5000.0f, 5000.0f, false},
      {FrequencyScale::Logarithmic, 5000.0f, 4000.0f, false},
      {FrequencyScale::Mel, 5000.0f, 5005.38f, false},  // narrower than a bin of 5.3833 Hz
      {FrequencyScale::Mel, 5000.0f, 5005.39f, true},
      {FrequencyScale::Mel, nan, 5000.0f, false},
      {FrequencyScale::Mel, 100.0f, nan, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bandFits(bandLimits(c.scale, 44100, 8192), c.low, c.high), c.fits)
        << static_cast<int>(c.scale) << ": " << c.low << " ... " << c.high;
  }
}

// The settings' band: 0 stands for the scale's own end; their block length
// sets the least width; a negative end never fits.
TEST(FrequencyScales, SettingsBandFitsAndOwnBand) {
  RenderSettings settings;  // Mel, 8192
  EXPECT_TRUE(bandFits(settings));
  EXPECT_TRUE(isOwnBand(settings));
  settings.bandLowHz = 16.0f;
  settings.bandHighHz = 22050.0f;
  EXPECT_TRUE(isOwnBand(settings));
  settings.bandLowHz = 5000.0f;
  EXPECT_FALSE(isOwnBand(settings));
  settings.bandHighHz = 5010.0f;
  EXPECT_TRUE(bandFits(settings));
  settings.blockLength = 2048;  // bins of 21.5 Hz
  EXPECT_FALSE(bandFits(settings));
  settings.blockLength = 8192;
  settings.frequencyScale = FrequencyScale::Linear;
  settings.bandLowHz = 0.0f;
  settings.bandHighHz = 0.0f;
  EXPECT_TRUE(isOwnBand(settings));
  settings.bandLowHz = 10.0f;
  EXPECT_TRUE(bandFits(settings));
  settings.frequencyScale = FrequencyScale::Logarithmic;  // 10 Hz lies below its lowest
  EXPECT_FALSE(bandFits(settings));
  settings.bandLowHz = -5.0f;
  EXPECT_FALSE(bandFits(settings));
}

}  // namespace
}  // namespace vellomar

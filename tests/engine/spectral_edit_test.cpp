#include "engine/spectral_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/scales.h"
#include "spectral_edit_fixture.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::EditCase;

RenderSettings grid(std::int32_t n, FrequencyScale scale = FrequencyScale::Mel) {
  RenderSettings s;
  s.blockLength = n;
  s.frequencyScale = scale;
  return s;
}

double db(double ratio) { return 10.0 * std::log10(ratio); }

// Where a picture rectangle lies on the edit's frames and bins: its core,
// the cells whose whole frame lies inside it and whose bins are four
// columns inside its edges, and the cells outside, beyond N/2 samples or
// two columns from its edges.
struct RectangleCells {
  std::vector<char> core;     // frames x K
  std::vector<char> outside;
  std::int32_t bins = 0;
  bool inCore(std::int64_t j, std::int32_t k) const { return core[static_cast<std::size_t>(j) * bins + k] != 0; }
  bool isOutside(std::int64_t j, std::int32_t k) const { return outside[static_cast<std::size_t>(j) * bins + k] != 0; }
};

RectangleCells rectangleCells(const EditCase& e, std::int64_t frames, std::uint32_t x0, std::uint32_t y0,
                              std::uint32_t x1, std::uint32_t y1) {
  const std::int32_t n = e.settings.blockLength;
  const std::int32_t hop = n / 4;
  RectangleCells out;
  out.bins = n / 2;
  out.core.assign(static_cast<std::size_t>(frames) * out.bins, 0);
  out.outside.assign(out.core.size(), 0);
  const double spacing = static_cast<double>(e.count) / (e.height - 1);
  const double t0 = (y0 - 0.5) * spacing, t1 = (y1 - 0.5) * spacing;
  const ScaleMapping mapping = pictureMapping(e.settings, static_cast<float>(e.width - 1));
  const double p0 = x0 - 0.5, p1 = x1 - 0.5;
  for (std::int64_t j = 0; j < frames; ++j) {
    const double centre = static_cast<double>(j * hop - n / 2 + hop);
    const bool timeIn = centre >= t0 + n && centre <= t1 - n;
    const bool timeOut = centre < t0 - n / 2 || centre > t1 + n / 2;
    for (std::int32_t k = 1; k < n / 2; ++k) {
      const double p = mapping.position(static_cast<float>(k * 44100.0 / n));
      const bool freqIn = p >= p0 + 4 && p <= p1 - 4;
      const bool freqOut = p < p0 - 2 || p > p1 + 2;
      const std::size_t i = static_cast<std::size_t>(j) * out.bins + k;
      out.core[i] = timeIn && freqIn;
      out.outside[i] = timeOut || freqOut;
    }
  }
  return out;
}

struct RectangleFigures {
  double coreDb = 0.0;        // energy left in the core
  double outsideDb = 0.0;     // change of the energy outside
  double worstCellDb = 0.0;   // largest change of a cell outside
};

RectangleFigures blackRectangle(const std::vector<std::int16_t>& sound, std::int32_t n, bool sixteenBit) {
  const std::uint32_t width = 256;
  const std::uint32_t height = static_cast<std::uint32_t>(sound.size() / (n / 4));
  EditCase e(grid(n), sound, 1, width, height);
  EXPECT_EQ(e.analysisResult, kResultOk);
  const std::uint32_t x0 = 60, x1 = 140, y0 = height / 3, y1 = 2 * height / 3;
  e.paint(x0, y0, x1, y1, [](int) { return 0; });
  ResultCode result = -1;
  std::vector<double> out = e.render(2, &result);
  EXPECT_EQ(result, kResultOk);
  if (sixteenBit) out = test::rounded(out);
  const test::Spectrogram before = test::spectrogram(e.samples[0], n);
  const test::Spectrogram after = test::spectrogram(out, n);
  const RectangleCells cells = rectangleCells(e, before.frames, x0, y0, x1, y1);
  double coreBefore = 0, coreAfter = 0, outBefore = 0, outAfter = 0, worst = 0;
  double loudest = 0;
  for (const double p : before.power) loudest = std::max(loudest, p);
  for (std::int64_t j = 0; j < before.frames; ++j) {
    for (std::int32_t k = 1; k < n / 2; ++k) {
      const double a = before.at(j, k), b = after.at(j, k);
      if (cells.inCore(j, k)) {
        coreBefore += a;
        coreAfter += b;
      }
      if (cells.isOutside(j, k)) {
        outBefore += a;
        outAfter += b;
        // Cells far below the loudest are at the 16-bit floor.
        // Cells 60 dB below the loudest are near the 16-bit floor.
        if (a > loudest * 1e-6) worst = std::max(worst, std::fabs(db(b / a)));
      }
    }
  }
  return {db(coreAfter / coreBefore), db(outAfter / outBefore), worst};
}

TEST(SpectralEditTest, UnchangedPictureGivesTheRecordingBackBitForBit) {
  // Odd values and full scale, so that any rounding or scaling shows.
  std::vector<std::int16_t> sound = test::speechLike(30000, 20000);
  sound[100] = 32767;
  sound[101] = -32768;
  EditCase e(grid(2048), sound, 1, 200, 90);
  ASSERT_EQ(e.analysisResult, kResultOk);
  ResultCode result = -1;
  const std::vector<double> out = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  ASSERT_EQ(out.size(), sound.size());
  for (std::size_t i = 0; i < sound.size(); ++i) ASSERT_EQ(out[i], sound[i]) << "sample " << i;
  std::vector<SampleRange> ranges;
  ASSERT_EQ(editedSampleRanges(e.job(const_cast<std::vector<double>&>(out)), ranges), kResultOk);
  EXPECT_TRUE(ranges.empty());
}

TEST(SpectralEditTest, SamplesBeyondTheEditedFramesAreUntouched) {
  const std::vector<std::int16_t> sound = test::speechLike(60000, 12000);
  EditCase e(grid(2048), sound, 1, 128, 100);
  ASSERT_EQ(e.analysisResult, kResultOk);
  e.paint(30, 40, 60, 43, [](int b) { return b / 2; });
  ResultCode result = -1;
  const std::vector<double> out = e.render(1, &result);
  ASSERT_EQ(result, kResultOk);
  std::vector<double> scratch;
  std::vector<SampleRange> ranges;
  ASSERT_EQ(editedSampleRanges(e.job(scratch), ranges), kResultOk);
  ASSERT_EQ(ranges.size(), 1u);
  // Rows 40 ... 42 span samples 39.5 * 606 ... 42.5 * 606; a frame that
  // takes them has its centre at most half a hop outside, and reaches half
  // a frame beyond its centre.
  const double spacing = 60000.0 / 99.0;
  EXPECT_GE(static_cast<double>(ranges[0].first), 39.5 * spacing - 256 - 1024 - 1);
  EXPECT_LE(static_cast<double>(ranges[0].end), 42.5 * spacing + 256 + 1024 + 1);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < sound.size(); ++i) {
    const bool inside = i >= ranges[0].first && i < ranges[0].end;
    if (!inside) {
      ASSERT_EQ(out[i], sound[i]) << "sample " << i;
    }
    if (out[i] != sound[i]) ++changed;
  }
  EXPECT_GT(changed, 1000u);
}

TEST(SpectralEditTest, BlackRectangleOnSpeechAndNoise) {
  const std::vector<std::int16_t> speech = test::speechLike(44100 * 2, 16000);
  const std::vector<std::int16_t> noise = test::noise(44100 * 2, 3277);
  for (const auto* sound : {&speech, &noise}) {
    {
      const std::int32_t n = 4096;
      const RectangleFigures f = blackRectangle(*sound, n, true);
      SCOPED_TRACE(testing::Message() << (sound == &speech ? "speech" : "noise") << " N " << n);
      std::printf("%s N=%d core %.2f dB outside %.4f dB worst cell %.3f dB\n", sound == &speech ? "speech" : "noise", n,
                  f.coreDb, f.outsideDb, f.worstCellDb);
      EXPECT_LE(f.coreDb, -75.0);
      EXPECT_LE(std::fabs(f.outsideDb), 0.01);
      EXPECT_LE(f.worstCellDb, 0.5);
    }
  }
}

}  // namespace
}  // namespace vellomar

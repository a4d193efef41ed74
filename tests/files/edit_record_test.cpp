// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/edit_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "files/edit_setup.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

EditRecord sample() {
  EditRecord r;
  r.program = editProgramName();
  r.scale = FrequencyScale::Logarithmic;
  r.bandLowHz = 123.456789f;
  r.bandHighHz = 9876.54321f;
  r.blockLength = 4096;
  r.rangeDb = 96;
  r.referenceDb = 44;
  r.width = 512;
  r.height = 2583;
  r.sampleCount = 2646000;
  r.channels = 2;
  r.sampleRate = 44100;
  r.recordingSha256 = std::string(64, 'a');
  r.pictureSha256 = std::string(63, '0');
  r.pictureSha256.push_back('f');
  return r;
}

TEST(EditRecordTest, ReadsBackWhatItWritesToTheLastBitOfTheBand) {
  EditRecord back;
  ASSERT_EQ(parseEditRecord(formatEditRecord(sample()), back), "");
  EXPECT_EQ(back.bandLowHz, sample().bandLowHz);
  EXPECT_EQ(back.bandHighHz, sample().bandHighHz);
  EXPECT_EQ(back.scale, FrequencyScale::Logarithmic);
  EXPECT_EQ(back.sampleCount, 2646000u);
  EXPECT_EQ(back.channels, 2);
  EXPECT_EQ(back.pictureSha256, sample().pictureSha256);
  const RenderSettings s = editRecordSettings(back);
  EXPECT_TRUE(s.logBrightness);
  EXPECT_EQ(s.masterGainDb, 44);
  EXPECT_TRUE(s.stereo);
}

TEST(EditRecordTest, AnyChangedCharacterIsDamage) {
  const std::string text = formatEditRecord(sample());
  EditRecord back;
  for (const std::size_t at : {std::size_t{30}, text.find("samples: ") + 10, text.size() - 5}) {
    std::string damaged = text;
    damaged[at] = damaged[at] == '1' ? '2' : '1';
    EXPECT_NE(parseEditRecord(damaged, back), "") << "at " << at;
  }
  EXPECT_NE(parseEditRecord(text.substr(0, text.size() / 2), back), "");
  EXPECT_NE(parseEditRecord("", back), "");
}

TEST(EditRecordTest, SidecarFirstThenTheTextChunkThenWhatIsMissing) {
  test::TempDir dir;
  const std::string picture = dir.file("p.png");
  test::writeFile(picture, {});
  EditRecord found;
  std::string reason, note;
  EXPECT_EQ(readEditRecord(picture, found, reason, note), EditRecordSource::None);
  EXPECT_NE(reason.find("is missing"), std::string::npos) << reason;
  Refusal refusal;
  ASSERT_TRUE(writeEditSidecar(picture, sample(), refusal)) << refusal.text;
  EXPECT_EQ(readEditRecord(picture, found, reason, note), EditRecordSource::Sidecar);
  EXPECT_EQ(found.height, 2583u);
  auto bytes = test::readFile(editSidecarPath(picture));
  bytes[bytes.size() / 2] ^= 4;
  test::writeFile(editSidecarPath(picture), bytes);
  EXPECT_EQ(readEditRecord(picture, found, reason, note), EditRecordSource::None);
  EXPECT_NE(reason.find("is damaged"), std::string::npos) << reason;
}

TEST(EditRecordTest, LevelShiftIsToldFromPaintedRegions) {
  const std::uint32_t w = 64, h = 48;
  std::vector<std::uint8_t> original(w * h), painted(w * h);
  for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<std::uint8_t>(20 + (i * 37) % 200);
  const std::uint8_t* o[2] = {original.data(), original.data()};
  const std::uint8_t* p[2] = {painted.data(), painted.data()};
  // A gamma change: every pixel by its own brightness.
  for (std::size_t i = 0; i < original.size(); ++i) {
    painted[i] = static_cast<std::uint8_t>(std::lround(255.0 * std::pow(original[i] / 255.0, 0.9)));
  }
  EXPECT_NE(levelShiftReport(o, p, 1, w, w, h), "");
  // Painted regions, however large, change pixels without such a rule.
  painted = original;
  for (std::size_t i = 0; i < original.size() * 3 / 4; ++i) painted[i] = static_cast<std::uint8_t>((i * 13) % 90);
  EXPECT_EQ(levelShiftReport(o, p, 1, w, w, h), "");
  painted = original;
  for (std::size_t i = 0; i < original.size() / 3; ++i) painted[i] = 0;
  EXPECT_EQ(levelShiftReport(o, p, 1, w, w, h), "");
}

}  // namespace
}  // namespace vellomar

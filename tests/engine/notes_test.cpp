// SPDX-License-Identifier: GPL-3.0-or-later
// Note names and frequencies, ranges of notes and the picture widths that
// put columns on notes.

#include "engine/notes.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/sine.h"

namespace vellomar {
namespace {

TEST(Notes, NamesAndNumbersGoBothWays) {
  EXPECT_EQ(noteName(60), "C4");
  EXPECT_EQ(noteName(69), "A4");
  EXPECT_EQ(noteName(61), "C#4");
  EXPECT_EQ(noteName(11), "B-1");
  EXPECT_EQ(noteName(0), "C-1");
  EXPECT_EQ(noteName(33), "A1");
  for (int note = 0; note <= 143; ++note) EXPECT_EQ(parseNote(noteName(note)), note) << note;
  EXPECT_EQ(parseNote(" a4 "), 69);
  EXPECT_EQ(parseNote("Bb3"), 58);
  EXPECT_EQ(parseNote("Cb4"), 59);
  EXPECT_EQ(parseNote("E#4"), 65);
  for (const char* bad : {"", "H4", "A", "A#", "A11", "A-2", "A4x", "4A", "A 4", "A##4"}) {
    EXPECT_FALSE(parseNote(bad)) << bad;
  }
}

TEST(Notes, FrequenciesFollowTheTuning) {
  EXPECT_DOUBLE_EQ(noteFrequency(69, 440.0), 440.0);
  EXPECT_DOUBLE_EQ(noteFrequency(33, 440.0), 55.0);
  EXPECT_DOUBLE_EQ(noteFrequency(117, 440.0), 7040.0);
  EXPECT_NEAR(noteFrequency(60, 440.0), 261.6255653, 1e-6);
  EXPECT_DOUBLE_EQ(noteFrequency(69, 432.0), 432.0);
  EXPECT_NEAR(notePosition(261.6255653, 440.0), 60.0, 1e-8);
}

TEST(Notes, RangesKeepToTheLogarithmicScale) {
  const NoteLimits limits = noteLimits(440.0, 44100, 8192);
  EXPECT_EQ(limits.lowest, 12);    // C0, 16.35 Hz: the first note above 16 Hz
  EXPECT_EQ(limits.highest, 136);  // E10, 21096 Hz: the last below 22050 Hz
  EXPECT_TRUE(noteRangeFits({33, 117}, 440.0, limits));
  EXPECT_TRUE(noteRangeFits({12, 136}, 440.0, limits));
  EXPECT_FALSE(noteRangeFits({11, 40}, 440.0, limits));
  EXPECT_FALSE(noteRangeFits({40, 137}, 440.0, limits));
  EXPECT_FALSE(noteRangeFits({40, 40}, 440.0, limits));
  EXPECT_FALSE(noteRangeFits({50, 40}, 440.0, limits));
  EXPECT_FALSE(noteRangeFits({33, 117}, 379.0, limits));
  EXPECT_FALSE(noteRangeFits({33, 117}, std::nan(""), limits));
  // One semitone at C0 is under a hertz: narrower than a bin.
  EXPECT_FALSE(noteRangeFits({12, 13}, 440.0, limits));
  EXPECT_TRUE(noteRangeFits({100, 101}, 440.0, limits));
  // A lower tuning moves the limits up a note at the top.
  EXPECT_EQ(noteLimits(400.0, 44100, 8192).highest, 138);

  ASSERT_TRUE(parseNoteRange("A1:A8"));
  EXPECT_EQ(parseNoteRange("A1:A8")->lowest, 33);
  EXPECT_EQ(parseNoteRange("A1:A8")->highest, 117);
  EXPECT_FALSE(parseNoteRange("A1-A8"));
  EXPECT_FALSE(parseNoteRange("A1:"));
}

TEST(Notes, ColumnsFallOnNotes) {
  const NoteRange range{33, 117};
  EXPECT_EQ(noteColumns(range, 1), 85u);
  EXPECT_EQ(noteColumns(range, 3), 253u);
  RenderSettings s;
  applyNoteRange(s, range, 440.0);
  EXPECT_EQ(s.frequencyScale, FrequencyScale::Logarithmic);
  EXPECT_EQ(s.bandLowHz, 55.0f);
  EXPECT_EQ(s.bandHighHz, 7040.0f);
  for (int k : {1, 3}) {
    const auto width = static_cast<std::uint32_t>(noteColumns(range, k));
    for (int note = 33; note <= 117; ++note) {
      const double hz = sineColumnFrequency(s, width, static_cast<std::uint32_t>((note - 33) * k));
      EXPECT_NEAR(1200.0 * std::log2(hz / noteFrequency(note, 440.0)), 0.0, 0.001) << noteName(note);
    }
  }
}

TEST(Notes, SemitonesSeparateAboveAboutNinetyHertzAtTheDefaultGranularity) {
  EXPECT_NEAR(semitoneSeparationHz(44100, 8192), 90.53, 0.01);
  EXPECT_NEAR(semitoneSeparationHz(44100, 32768), 22.63, 0.01);
  EXPECT_EQ(noteName(lowestSeparableNote(440.0, 44100, 8192)), "F#2");  // 92.5 Hz
}

}  // namespace
}  // namespace vellomar

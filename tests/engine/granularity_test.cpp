// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "engine/granularity.h"

namespace vellomar {
namespace {

constexpr std::uint32_t kRate = 44100;

TEST(GranularityLists, EntriesFor44100Hz) {
  const GranularityLists lists = buildGranularityLists(kRate);
  EXPECT_EQ(lists.frequency, (std::vector<std::string>{"1.35 Hz", "2.7 Hz", "5.4 Hz", "10.8 Hz", "22 Hz"}));
  EXPECT_EQ(lists.time, (std::vector<std::string>{"0.012 sec", "0.023 sec", "0.046 sec", "0.093 sec", "0.186 sec",
                                                  "0.37 sec", "0.74 sec"}));
}

TEST(GranularityLists, LeadingNumberIgnoresTheUnit) {
  EXPECT_FLOAT_EQ(leadingNumber("5.4 Hz"), 5.4f);
  EXPECT_FLOAT_EQ(leadingNumber("  0.046 sec"), 0.046f);
  EXPECT_EQ(leadingNumber("Hz"), 0.0f);
  EXPECT_EQ(leadingNumber(""), 0.0f);
}

// The window's two lists, with the settings they stand for.
struct Lists {
  GranularityLists lists = buildGranularityLists(kRate);
  std::int32_t n = 8192;
  std::int32_t s = 4;
  std::string timeSelected = "0.046 sec";  // what the time list shows

  // A new frequency entry: N from it, S from the time entry still shown,
  // then the time list follows.
  void chooseFrequency(const std::string& text) {
    ASSERT_TRUE(applyFrequencyGranularity(leadingNumber(text), leadingNumber(timeSelected), kRate, n, s));
    timeSelected = timeShown();
  }
  void chooseTime(const std::string& text) {
    timeSelected = text;
    ASSERT_TRUE(deriveSubBlocks(leadingNumber(text), kRate, n, s, true));
  }
  std::string frequencyShown() const {
    const int i = matchFrequencyEntry(lists.frequency, kRate, n);
    return i < 0 ? "none" : lists.frequency[static_cast<std::size_t>(i)];
  }
  std::string timeShown() const {
    const int i = matchTimeEntry(lists.time, kRate, n, s);
    return i < 0 ? "none" : lists.time[static_cast<std::size_t>(i)];
  }
};

TEST(GranularityCoupling, ChoicesFromTheDefaults) {
  Lists w;
  EXPECT_EQ(w.frequencyShown(), "5.4 Hz");
  EXPECT_EQ(w.timeShown(), "0.046 sec");

  w.chooseTime("0.37 sec");  // too coarse for 8192: the block grows
  EXPECT_EQ(w.n, 16384);
  EXPECT_EQ(w.s, 1);
  EXPECT_EQ(w.frequencyShown(), "2.7 Hz");

  Lists fine;
  fine.chooseTime("0.012 sec");
  EXPECT_EQ(fine.n, 8192);
  EXPECT_EQ(fine.s, 16);
}

TEST(GranularityCoupling, FineTimeShortensALongBlock) {
  Lists w;
  w.chooseFrequency("1.35 Hz");
  EXPECT_EQ(w.n, 32768);
  w.chooseTime("0.012 sec");
  EXPECT_EQ(w.n, 8192);
  EXPECT_EQ(w.s, 16);
  EXPECT_EQ(w.frequencyShown(), "5.4 Hz");
}

TEST(GranularityCoupling, FrequencyChoiceClampsSubBlocks) {
  Lists coarse;
  coarse.chooseTime("0.37 sec");
  coarse.chooseFrequency("22 Hz");
  EXPECT_EQ(coarse.n, 2048);
  EXPECT_EQ(coarse.s, 1);
  EXPECT_EQ(coarse.timeShown(), "0.046 sec");

  Lists fine;
  fine.chooseTime("0.012 sec");
  fine.chooseFrequency("1.35 Hz");
  EXPECT_EQ(fine.n, 32768);
  EXPECT_EQ(fine.s, 16);
  EXPECT_EQ(fine.timeShown(), "0.046 sec");
}

TEST(GranularityCoupling, EverySequenceStaysInRangeAndMatchesAnEntry) {
  const GranularityLists lists = buildGranularityLists(kRate);
  for (const auto& f1 : lists.frequency)
    for (const auto& t : lists.time)
      for (const auto& f2 : lists.frequency) {
        Lists w;
        w.chooseFrequency(f1);
        w.chooseTime(t);
        w.chooseFrequency(f2);
        EXPECT_GE(w.n, 2048);
        EXPECT_LE(w.n, 32768);
        EXPECT_GE(w.s, 1);
        EXPECT_LE(w.s, 16);
        EXPECT_NE(w.frequencyShown(), "none");
        EXPECT_NE(w.timeShown(), "none");
      }
}

TEST(GranularityCoupling, NoTimeOrNoBlockIsRefusedUnchanged) {
  std::int32_t n = 8192, s = 4;
  EXPECT_FALSE(deriveSubBlocks(0.0f, kRate, n, s, true));
  EXPECT_EQ(n, 8192);
  EXPECT_EQ(s, 4);
  n = 0;
  EXPECT_FALSE(deriveSubBlocks(0.046f, kRate, n, s, true));
}

}  // namespace
}  // namespace vellomar

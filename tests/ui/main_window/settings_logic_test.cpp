// SPDX-License-Identifier: GPL-3.0-or-later
// The number fields' rules and the read-out texts, apart from the widgets.
#include "ui/main_window/settings_logic.h"

#include <QTest>
#include <cstdlib>

#include "engine/settings.h"

using namespace vellomar;

class SettingsLogicTest : public QObject {
  Q_OBJECT

 private slots:
  void rangeRoundsToTensAndClamps() {
    QCOMPARE(rangeDbFromText("14"), 20);
    QCOMPARE(rangeDbFromText("15"), 20);
    QCOMPARE(rangeDbFromText("64"), 60);
    QCOMPARE(rangeDbFromText("65"), 70);
    QCOMPARE(rangeDbFromText("124"), 120);
    QCOMPARE(rangeDbFromText("125"), 120);
    QCOMPARE(rangeDbFromText(""), 20);
    QCOMPARE(rangeDbFromText("abc"), 20);
    QCOMPARE(rangeDbFromText("99999999999999"), 120);
  }

  void gainClampsAndSaysWhenToRewrite() {
    bool rewrite = true;
    QCOMPARE(gainDbFromText("60", rewrite), 48);
    QVERIFY(rewrite);
    QCOMPARE(gainDbFromText("-3", rewrite), 0);
    QVERIFY(rewrite);
    QCOMPARE(gainDbFromText("12", rewrite), 12);
    QVERIFY(!rewrite);
    QCOMPARE(gainDbFromText("48", rewrite), 48);
    QVERIFY(!rewrite);
    // An empty field gives 0 dB and stays empty.
    QCOMPARE(gainDbFromText("", rewrite), 0);
    QVERIFY(!rewrite);
  }

  void durationAcceptsCommaExponentAndLimits() {
    DurationEntry e = durationFromText("1,5", 15.0f);
    QVERIFY(e.accepted);
    QCOMPARE(e.seconds, 1.5f);
    e = durationFromText("1e3", 15.0f);
    QVERIFY(e.accepted);
    QCOMPARE(e.seconds, 1000.0f);
    e = durationFromText("1000000", 15.0f);
    QVERIFY(e.accepted);
    QCOMPARE(e.seconds, 1000000.0f);
    e = durationFromText("0", 15.0f);
    QVERIFY(e.accepted);
    QCOMPARE(e.seconds, 0.02f);
    e = durationFromText("", 15.0f);
    QVERIFY(e.accepted);
    QCOMPARE(e.seconds, 0.02f);
    QCOMPARE(formatDuration(e.seconds), std::string("0.02"));
  }

  void durationRefusesAndKeepsThePrevious() {
    for (const char* text : {"2x", "-1", "2000000", "abc", "1,5,5", "inf", "nan", "-nan"}) {
      const DurationEntry e = durationFromText(text, 7.5f);
      QVERIFY2(!e.accepted, text);
      QCOMPARE(e.seconds, 7.5f);
    }
  }

  void durationFormatsLikePercentG() {
    QCOMPARE(formatDuration(15.0f), std::string("15"));
    QCOMPARE(formatDuration(1.5f), std::string("1.5"));
    QCOMPARE(formatDuration(1000000.0f), std::string("1e+06"));
  }

  void aWavesLengthIsKeptToItsLastSample() {
    // Every length in samples, at every rate, gives a duration that renders
    // that many samples and whose text reads back as the same duration.
    for (const std::uint32_t rate : {44100u, 48000u, 96000u}) {
      for (const std::uint32_t count : {882u, 220429u, 220430u, 220431u, 1323001u}) {
        const float seconds = durationOfSamples(count, rate);
        QCOMPARE(noiseSampleCount(rate, seconds), count);
        const std::string text = formatDuration(seconds);
        QCOMPARE(static_cast<float>(std::strtod(text.c_str(), nullptr)), seconds);
      }
    }
    QCOMPARE(formatDuration(durationOfSamples(220430, 44100)), std::string("4.998413"));
    // An hour is past what a float counts to the sample: no sample fewer,
    // and no more than one step of the float more.
    const std::uint32_t hour = 44100u * 3600u + 7u;
    const std::uint32_t rendered = noiseSampleCount(44100, durationOfSamples(hour, 44100));
    QVERIFY(rendered >= hour && rendered <= hour + 11);
    QCOMPARE(durationOfSamples(5, 0), 0.0f);
  }

  void timePerLineDigitsFollowTheSize() {
    QCOMPARE(timePerLineText(timePerLine(15.0f, 300)), std::string("Time per picture line is 0.050 sec"));
    QCOMPARE(timePerLineText(timePerLine(15.0f, 30)), std::string("Time per picture line is 0.50 sec"));
    QCOMPARE(timePerLineText(timePerLine(15.0f, 5)), std::string("Time per picture line is 3.0 sec"));
    QCOMPARE(timePerLineText(timePerLine(15.0f, 1000)), std::string("Time per picture line is 0.0150 sec"));
    QCOMPARE(timePerLine(15.0f, 0), 0.0f);
    QCOMPARE(timePerLine(0.0f, 10), 0.0f);
  }

  void warningOnlyForHopsFarShorterThanALine() {
    const float defaults = timeGranularity(8192, 4, 44100);
    QVERIFY(std::abs(defaults - 0.046440f) < 1e-5f);
    // 10 rows over 15 s: 1.5 s per row, hop 0.046 s.
    QVERIFY(granularityNeedsWarning(defaults, 1.5f));
    // 1 row of 15 s with a 0.74 s hop: the hop is long enough anyway.
    QVERIFY(!granularityNeedsWarning(timeGranularity(32768, 1, 44100), 15.0f));
    // Half a line no longer than a hop.
    QVERIFY(!granularityNeedsWarning(defaults, 0.05f));
    QVERIFY(!granularityNeedsWarning(defaults, 0.0f));
    QCOMPARE(granularityWarningText(defaults, 1.5f), std::string("Selected time granularity is 0.046 sec while the "
                                                                 "time per picture line is 1.50 sec.\n"
                                                                 "This will extend calculation time without "
                                                                 "significant improvement in sound quality. "
                                                                 "Do you wish to continue?"));
    QVERIFY(granularityWarningText(0.37f, 3.0f).find("is 0.37 sec while") != std::string::npos);
  }
};

QTEST_MAIN(SettingsLogicTest)
#include "settings_logic_test.moc"

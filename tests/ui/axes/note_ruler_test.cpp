// SPDX-License-Identifier: GPL-3.0-or-later
// Note names on a logarithmic ruler, with a fixed text measurer (6 pixels
// per character, 13 pixels high): ticks on the semitones, labels on every
// step-th note that keeps its labels apart, and the frequency axis that
// names notes on the Logarithmic scale only.
#include <QImage>
#include <QtTest>
#include <cmath>
#include <string>

#include "ui/axes/axes.h"
#include "ui/axes/rulers.h"

using namespace vellomar;

namespace {

TextExtent fixedMeasure(const std::string& text) { return {6 * static_cast<int>(text.size()), 13}; }

float lnMapping(float f) { return static_cast<float>(std::log(static_cast<double>(f))); }

// The main window's frequency axis over `from` ... `to` on the
// Logarithmic scale, `length` pixels long.
RulerSpec noteAxis(float from, float to, int length) {
  RulerSpec s;
  s.vertical = false;
  s.ticksPositive = true;
  s.baseline = 2;
  s.start = 10;
  s.tickLength = 10;
  s.length = length;
  s.endRoom = 9;
  s.from = from;
  s.to = to;
  s.precision = 2;
  s.endPrecision = 4;
  s.siPrefixes = true;
  s.endMarks = true;
  s.mapping = lnMapping;
  return s;
}

const RulerText* findText(const RulerGeometry& g, const std::string& text) {
  for (const RulerText& t : g.texts) {
    if (t.text == text) return &t;
  }
  return nullptr;
}

int tickTipAt(const RulerGeometry& g, int x) {
  for (const RulerLine& line : g.lines) {
    if (line.x1 == x && line.x2 == x) return line.y2;
  }
  return -1;
}

}  // namespace

class NoteRulerTest : public QObject {
  Q_OBJECT

 private slots:
  // A1 ... A8 over 840 pixels: a semitone every 10 pixels. Labels of every
  // semitone or every other one would touch ("G#2" beside "F#2"); every
  // third keeps them 12 pixels apart.
  void labelsEveryThirdSemitoneWhereTheyKeepApart() {
    const RulerGeometry g = layoutNoteRuler(noteAxis(55.0f, 7040.0f, 840), 440.0, fixedMeasure);
    QVERIFY(g.drawn);
    struct Known {
      const char* name;
      int x;
    };
    for (const Known& k : {Known{"C2", 40}, Known{"D#2", 70}, Known{"C4", 280}, Known{"A4", 370},
                           Known{"C8", 760}, Known{"F#8", 820}}) {
      const RulerText* t = findText(g, k.name);
      QVERIFY2(t != nullptr, k.name);
      QCOMPARE(t->x, k.x);
      QCOMPARE(t->y, 2 + 10 + 3);
      QCOMPARE(tickTipAt(g, k.x), 12);  // a long tick under every label
    }
    // Neither the notes between nor the ends' own notes (A1 sits on the
    // start mark, A8 on the end mark) carry labels.
    for (const char* unlabelled : {"C#4", "D4", "A#4", "A1", "A8"}) QVERIFY2(!findText(g, unlabelled), unlabelled);
    // Every semitone has its tick: the short ones in between.
    QCOMPARE(tickTipAt(g, 290), 7);  // C#4
    QCOMPARE(tickTipAt(g, 380), 7);  // A#4
    // The ends in hertz.
    QVERIFY(findText(g, "55.00") != nullptr);
    QVERIFY(findText(g, "7.040k") != nullptr);
  }

  // Another tuning moves the notes: at A4 = 432 Hz, A4 lies at 432 Hz.
  void theTuningPlacesTheNotes() {
    const RulerGeometry g = layoutNoteRuler(noteAxis(54.0f, 6912.0f, 840), 432.0, fixedMeasure);
    const RulerText* a4 = findText(g, "A4");
    QVERIFY(a4 != nullptr);
    QCOMPARE(a4->x, 370);
  }

  // The whole range over 200 pixels: semitones too close for ticks, and
  // labels only where they keep apart, on C's.
  void aCrowdedRulerLabelsCsOnly() {
    const RulerGeometry g = layoutNoteRuler(noteAxis(16.0f, 22050.0f, 200), 440.0, fixedMeasure);
    QVERIFY(g.drawn);
    int previousRight = -1000;
    int labels = 0;
    for (const RulerText& t : g.texts) {
      if (t.y != 15) continue;  // the end labels stand lower
      QVERIFY2(t.text[0] == 'C' && t.text.find('#') == std::string::npos, t.text.c_str());
      const int half = 3 * static_cast<int>(t.text.size());
      QVERIFY(t.x - half - previousRight >= kNoteLabelGap);
      previousRight = t.x + half;
      ++labels;
    }
    QVERIFY(labels >= 3);
    // No short ticks: every tick is a long one.
    for (const RulerLine& line : g.lines) {
      if (line.y2 != 2 + 23) QCOMPARE(line.y2, 12);
    }
  }

  void theFrequencyAxisNamesNotesOnTheLogarithmicScaleOnly() {
    RenderSettings s;
    s.frequencyScale = FrequencyScale::Logarithmic;
    s.bandLowHz = 55.0f;
    s.bandHighHz = 7040.0f;
    QCOMPARE(frequencyAxisSpec(s, 500, TextMeasurer(), 440.0).noteA4Hz, 440.0);
    QCOMPARE(frequencyAxisSpec(s, 500, TextMeasurer(), 0.0).noteA4Hz, 0.0);
    s.frequencyScale = FrequencyScale::Mel;
    QCOMPARE(frequencyAxisSpec(s, 500, TextMeasurer(), 440.0).noteA4Hz, 0.0);
    QCOMPARE(frequencyAxisTitle(440.0), QString("Frequency (notes, A4 = 440 Hz)"));
    QCOMPARE(frequencyAxisTitle(0.0), QString("Frequency (hertz)"));

    s.frequencyScale = FrequencyScale::Logarithmic;
    const QImage hertz = drawFrequencyAxis(s, 500, Qt::white, Qt::black);
    const QImage notes = drawFrequencyAxis(s, 500, Qt::white, Qt::black, 1.0, 440.0);
    QCOMPARE(notes.size(), hertz.size());
    QVERIFY(notes != hertz);
  }
};

QTEST_MAIN(NoteRulerTest)
#include "note_ruler_test.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/notes_choice.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <cmath>
#include <cstdio>
#include <string>

#include "engine/notes.h"
#include "files/messages.h"
#include "ui/common/message_box.h"
#include "ui/main_window/options_dialog.h"

namespace vellomar {
namespace {

QLabel* label(const QString& text, QWidget* parent, const QRect& place, const char* name) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromUtf8(name));
  l->setGeometry(place);
  return l;
}

QLineEdit* field(const QString& text, QWidget* parent, const QRect& place, const char* name) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromUtf8(name));
  edit->setGeometry(place);
  edit->setMaxLength(12);
  return edit;
}

std::string text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

NoteLimits currentLimits(double a4Hz) {
  return noteLimits(a4Hz, renderSettings.sampleRate, renderSettings.blockLength);
}

}  // namespace

bool NotesChoice::settingsOnNotes(const RenderSettings& settings, const NoteChoice& choice) {
  const FrequencyBand band = noteBand({choice.lowest, choice.highest}, choice.a4Hz);
  return settings.frequencyScale == FrequencyScale::Logarithmic && settings.bandLowHz == band.lowHz &&
         settings.bandHighHz == band.highHz;
}

NotesChoice::NotesChoice(QWidget* dialog, const DialogBaseUnits& base, int x, int y, const NoteChoice& shown,
                         bool chosen)
    : QObject(dialog) {
  setObjectName(QStringLiteral("notesChoice"));
  radio_ = new QRadioButton(QStringLiteral("On notes (Logarithmic scale)"), dialog);
  radio_->setObjectName(QStringLiteral("notesRadio"));
  radio_->setGeometry(dluToPixels(x, y, 150, 10, base));
  radio_->setChecked(chosen);

  const int fx = x + 10;
  label(QStringLiteral("Lowest note"), dialog, dluToPixels(fx, y + 16, 48, 8, base), "lowestNoteLabel");
  lowest_ = field(QString::fromStdString(noteName(shown.lowest)), dialog, dluToPixels(fx + 50, y + 14, 30, 14, base),
                  "lowestNoteEdit");
  label(QStringLiteral("Highest note"), dialog, dluToPixels(fx, y + 34, 48, 8, base), "highestNoteLabel");
  highest_ = field(QString::fromStdString(noteName(shown.highest)), dialog,
                   dluToPixels(fx + 50, y + 32, 30, 14, base), "highestNoteEdit");
  label(QStringLiteral("A4"), dialog, dluToPixels(fx + 88, y + 16, 12, 8, base), "a4Label");
  a4_ = field(QString::fromStdString(formatFrequency(static_cast<float>(shown.a4Hz))), dialog,
              dluToPixels(fx + 102, y + 14, 32, 14, base), "a4Edit");
  label(QStringLiteral("Hz"), dialog, dluToPixels(fx + 137, y + 16, 12, 8, base), "a4HzLabel");
  label(QStringLiteral("Columns a semitone"), dialog, dluToPixels(fx + 88, y + 34, 66, 8, base), "columnsLabel");
  columns_ = new QSpinBox(dialog);
  columns_->setObjectName(QStringLiteral("columnsSpin"));
  columns_->setGeometry(dluToPixels(fx + 88, y + 44, 32, 14, base));
  columns_->setRange(1, kMaxColumnsPerSemitone);
  columns_->setValue(shown.columnsPerSemitone);

  width_ = label(QString(), dialog, dluToPixels(fx, y + 62, 150, 8, base), "widthLabel");
  granularity_ = label(QString(), dialog, dluToPixels(fx, y + 74, 150, 32, base), "granularityLabel");
  granularity_->setWordWrap(true);
  granularity_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  limits_ = label(QString(), dialog, dluToPixels(fx, y + 108, 150, 16, base), "noteLimitsLabel");
  limits_->setWordWrap(true);
  limits_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  for (QLineEdit* edit : {lowest_, highest_, a4_}) connect(edit, &QLineEdit::textChanged, this, &NotesChoice::refresh);
  connect(columns_, qOverload<int>(&QSpinBox::valueChanged), this, &NotesChoice::refresh);
  refresh();
}

void NotesChoice::refresh() {
  const std::optional<int> low = parseNote(text(lowest_));
  const std::optional<int> high = parseNote(text(highest_));
  const std::optional<float> a4 = frequencyFromText(text(a4_));
  const double tuning = a4 && *a4 >= kMinA4Hz && *a4 <= kMaxA4Hz ? *a4 : kDefaultA4Hz;
  limits_->setText(QString::fromStdString("Allowed: " + noteLimitsText(currentLimits(tuning), tuning) + "."));
  if (!low || !high || *high <= *low) {
    width_->clear();
    granularity_->clear();
    return;
  }
  const std::uint64_t columns = noteColumns({*low, *high}, columns_->value());
  width_->setText(QStringLiteral("The picture must be %1 columns wide.").arg(columns));
  const int separable = lowestSeparableNote(tuning, renderSettings.sampleRate, renderSettings.blockLength);
  if (*low >= separable) {
    granularity_->clear();
    return;
  }
  const double binHz = static_cast<double>(renderSettings.sampleRate) / renderSettings.blockLength;
  char line[300];
  std::snprintf(line, sizeof line,
                "Below %s (%.1f Hz) the frequency granularity of %.2f Hz cannot tell neighbouring semitones apart "
                "for noise or a wave file; sine tones keep them apart.",
                noteName(separable).c_str(), noteFrequency(separable, tuning), binHz);
  granularity_->setText(QString::fromUtf8(line));
}

std::optional<NoteChoice> NotesChoice::read(QWidget* owner) const {
  const std::optional<float> a4 = frequencyFromText(text(a4_));
  if (!a4 || !(*a4 >= kMinA4Hz && *a4 <= kMaxA4Hz)) {
    showErrorBox(owner, "'%s' is not a tuning for A4.\nA4 must lie within %g ... %g Hz.", text(a4_).c_str(), kMinA4Hz,
                 kMaxA4Hz);
    a4_->setFocus();
    a4_->selectAll();
    return std::nullopt;
  }
  const NoteLimits limits = currentLimits(*a4);
  const std::optional<int> low = parseNote(text(lowest_));
  const std::optional<int> high = parseNote(text(highest_));
  if (!low || !high || !noteRangeFits({*low, *high}, *a4, limits)) {
    QLineEdit* fault = !low || *low < limits.lowest ? lowest_ : highest_;
    const std::string allowed = noteLimitsText(limits, *a4);
    if (!low || !high) {
      showErrorBox(owner, "'%s' is not a note such as A1 or C#4.\nThe notes must lie within %s.",
                   text(fault).c_str(), allowed.c_str());
    } else {
      showErrorBox(owner, "The notes %s ... %s cannot be used.\nThey must lie within %s.", noteName(*low).c_str(),
                   noteName(*high).c_str(), allowed.c_str());
    }
    fault->setFocus();
    fault->selectAll();
    return std::nullopt;
  }
  NoteChoice choice = noteChoice;
  choice.lowest = *low;
  choice.highest = *high;
  choice.a4Hz = *a4;
  choice.columnsPerSemitone = columns_->value();
  return choice;
}

}  // namespace vellomar

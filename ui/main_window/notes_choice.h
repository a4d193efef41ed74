// SPDX-License-Identifier: GPL-3.0-or-later
// The Options dialog's "Notes" choice: the picture's columns on notes of
// the Logarithmic scale, from a lowest to a highest note (scientific pitch
// notation with sharps) at a chosen A4, K columns a semitone. It says how
// wide the picture must be for a column on every note, and where the
// frequency granularity of the noise and wave sources cannot tell
// neighbouring semitones apart.
#pragma once

#include <QObject>
#include <optional>

#include "ui/common/app_state.h"
#include "ui/common/dialog_units.h"

class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace vellomar {

class NotesChoice : public QObject {
  Q_OBJECT
 public:
  // Builds the choice's controls into `dialog`, from the dialog-unit
  // point (x, y) down, showing `shown` (the note fields) and whether the
  // settings' band is on those notes now.
  NotesChoice(QWidget* dialog, const DialogBaseUnits& base, int x, int y, const NoteChoice& shown, bool chosen);

  QRadioButton* radio() const { return radio_; }
  QLineEdit* lowestEdit() const { return lowest_; }
  QLineEdit* highestEdit() const { return highest_; }
  QLineEdit* a4Edit() const { return a4_; }
  QSpinBox* columnsSpin() const { return columns_; }
  QLabel* widthLabel() const { return width_; }
  QLabel* granularityLabel() const { return granularity_; }
  QLabel* limitsLabel() const { return limits_; }

  // The fields' notes, tuning and columns, when they are ones the scale
  // can take at the settings' block length; otherwise nothing, after a
  // box (owned by `owner`) that says which are allowed, the field at fault
  // focused and selected.
  std::optional<NoteChoice> read(QWidget* owner) const;

  // Whether the settings' band is `choice`'s notes on the Logarithmic
  // scale.
  static bool settingsOnNotes(const RenderSettings& settings, const NoteChoice& choice);

 private:
  // The read-outs after any field changed.
  void refresh();

  QRadioButton* radio_ = nullptr;
  QLineEdit* lowest_ = nullptr;
  QLineEdit* highest_ = nullptr;
  QLineEdit* a4_ = nullptr;
  QSpinBox* columns_ = nullptr;
  QLabel* width_ = nullptr;
  QLabel* granularity_ = nullptr;
  QLabel* limits_ = nullptr;
};

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// The Options dialog: sine tones as the source, stereo from the picture's
// colours, the band of frequencies the picture's columns span, in hertz or
// on notes, how input files are read and the output's format and rate. It
// edits renderSettings, noteChoice and fileOptions; like every other
// setting they hold for the run of the program.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vellomar {

class MainWindow;
class NotesChoice;

// A frequency field's text as hertz: a finite number with the first comma
// taken as the decimal point, blanks around it allowed. Nothing when the
// text is not one.
std::optional<float> frequencyFromText(const std::string& text);

// A frequency as its field shows it: "%g".
std::string formatFrequency(float hz);

class OptionsDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows renderSettings: the sine source, the stereo flag and the band,
  // on notes when it is noteChoice's, else as its two ends (the scale's
  // own where none is chosen).
  explicit OptionsDialog(QWidget* owner);

  QCheckBox* sineCheck() const { return sine_; }
  QCheckBox* stereoCheck() const { return stereo_; }
  QRadioButton* hertzRadio() const { return hertz_; }
  NotesChoice* notes() const { return notes_; }
  QLineEdit* lowEdit() const { return low_; }
  QLineEdit* highEdit() const { return high_; }
  QLabel* limitsLabel() const { return limits_; }
  QCheckBox* anyAudioCheck() const { return anyAudio_; }
  QComboBox* formatList() const { return format_; }
  QComboBox* rateList() const { return rate_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 public slots:
  // OK: a band within the scale's limits, or notes within the Logarithmic
  // scale's (which then becomes the scale), is taken into renderSettings
  // with the source and the stereo flag, and the file options into
  // fileOptions; any other is refused with a message that says the allowed
  // range, and the dialog stays open with the settings unchanged. Turning
  // sine tones off leaves the source to the caller (pink noise until it
  // says otherwise).
  void accept() override;

 private:
  // The source, the stereo flag and the file options, into the settings.
  void takeSourceAndStereo();

  QCheckBox* sine_ = nullptr;
  QCheckBox* stereo_ = nullptr;
  QRadioButton* hertz_ = nullptr;
  NotesChoice* notes_ = nullptr;
  QLineEdit* low_ = nullptr;
  QLineEdit* high_ = nullptr;
  QLabel* limits_ = nullptr;
  QCheckBox* anyAudio_ = nullptr;
  QComboBox* format_ = nullptr;
  QComboBox* rate_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Runs the dialog modally over the main window; after OK the window shows
// the new source, scale and band (a source of its own again when sine tones
// were turned off). Returns the dialog's result.
int runOptionsDialog(MainWindow& window);

}  // namespace vellomar

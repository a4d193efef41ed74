// The Options dialog: sine tones as the source, stereo from the picture's
// colours, and the band of frequencies the picture's columns span, in
// hertz or on notes. It edits renderSettings (and noteChoice); like every
// other setting they hold for the run of the program.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QCheckBox;
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
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 public slots:
  // OK: a band within the scale's limits, or notes within the Logarithmic
  // scale's (which then becomes the scale), is taken into renderSettings
  // with the source and the stereo flag; any other is refused with a
  // message that says the allowed range, and the dialog stays open with
  // the settings unchanged. Turning sine tones off leaves the source to
  // the caller (pink noise until it says otherwise).
  void accept() override;

 private:
  void takeSourceAndStereo();

  QCheckBox* sine_ = nullptr;
  QCheckBox* stereo_ = nullptr;
  QRadioButton* hertz_ = nullptr;
  NotesChoice* notes_ = nullptr;
  QLineEdit* low_ = nullptr;
  QLineEdit* high_ = nullptr;
  QLabel* limits_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Runs the dialog modally over the main window; after OK the window shows
// the new source, scale and band (a source of its own again when sine tones
// were turned off). Returns the dialog's result.
int runOptionsDialog(MainWindow& window);

}  // namespace vellomar

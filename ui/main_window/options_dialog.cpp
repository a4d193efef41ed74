// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/notes.h"
#include "engine/scales.h"
#include "files/messages.h"
#include "files/audio_output.h"
#include "files/render_setup.h"
#include "ui/common/app_state.h"
#include "ui/axes/axes.h"
#include "ui/common/dialog_units.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/notes_choice.h"
#include "ui/main_window/settings_controls.h"

namespace vellomar {
namespace {

// Longest text a frequency field takes.
constexpr int kFieldLength = 20;

// The output formats as the format list shows them, in its order.
constexpr struct {
  OutputKind kind;
  const char* text;
} kFormats[] = {{OutputKind::Wav16, "WAV, 16-bit"},
                {OutputKind::Wav24, "WAV, 24-bit"},
                {OutputKind::WavFloat, "WAV, 32-bit float"},
                {OutputKind::Flac16, "FLAC, 16-bit"},
                {OutputKind::Flac24, "FLAC, 24-bit"}};

BandLimits currentLimits() {
  return bandLimits(renderSettings.frequencyScale, renderSettings.sampleRate, renderSettings.blockLength);
}

QLabel* label(const char* text, QWidget* parent, const QRect& place, const char* name) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(QString::fromUtf8(name));
  l->setGeometry(place);
  return l;
}

QLineEdit* frequencyField(QWidget* parent, const QRect& place, const char* name, float hz) {
  auto* edit = new QLineEdit(QString::fromStdString(formatFrequency(hz)), parent);
  edit->setObjectName(QString::fromUtf8(name));
  edit->setGeometry(place);
  edit->setMaxLength(kFieldLength);
  return edit;
}

}  // namespace

std::optional<float> frequencyFromText(const std::string& text) {
  std::string number = text;
  if (const std::size_t comma = number.find(','); comma != std::string::npos) number[comma] = '.';
  const char* begin = number.c_str();
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(begin, &end);
  if (end == begin || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return std::nullopt;
  return value;
}

std::string formatFrequency(float hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(hz));
  return text;
}

OptionsDialog::OptionsDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("optionsDialog"));
  setWindowTitle(QStringLiteral("Options"));
  setFont(dialogFont());
  const DialogBaseUnits base = dialogBaseUnits(font());
  setFixedSize(dluToPixelsX(361, base), dluToPixelsY(281, base));

  sine_ = new QCheckBox(QStringLiteral("Sine tones: one per picture column"), this);
  sine_->setObjectName(QStringLiteral("sineCheck"));
  sine_->setGeometry(dluToPixels(7, 7, 170, 10, base));
  sine_->setChecked(renderSettings.inputSource == InputSource::SineTones);

  stereo_ = new QCheckBox(QStringLiteral("Stereo (red = left, green = right)"), this);
  stereo_->setObjectName(QStringLiteral("stereoCheck"));
  stereo_->setGeometry(dluToPixels(7, 21, 170, 10, base));
  stereo_->setChecked(renderSettings.stereo);

  auto* group = new QGroupBox(QStringLiteral("Frequency band"), this);
  group->setObjectName(QStringLiteral("bandGroup"));
  group->setGeometry(dluToPixels(7, 36, 170, 218, base));
  group->lower();

  const bool onNotes = NotesChoice::settingsOnNotes(renderSettings, noteChoice);
  hertz_ = new QRadioButton(QStringLiteral("In hertz"), this);
  hertz_->setObjectName(QStringLiteral("hertzRadio"));
  hertz_->setGeometry(dluToPixels(14, 48, 150, 10, base));
  hertz_->setChecked(!onNotes);
  const FrequencyBand band = pictureBand(renderSettings);
  label("Lowest frequency", this, dluToPixels(24, 64, 64, 8, base), "lowLabel");
  low_ = frequencyField(this, dluToPixels(90, 62, 50, 14, base), "lowEdit", band.lowHz);
  label("Hz", this, dluToPixels(144, 64, 12, 8, base), "lowHzLabel");
  label("Highest frequency", this, dluToPixels(24, 82, 64, 8, base), "highLabel");
  high_ = frequencyField(this, dluToPixels(90, 80, 50, 14, base), "highEdit", band.highHz);
  label("Hz", this, dluToPixels(144, 82, 12, 8, base), "highHzLabel");

  const std::string allowed = "Allowed: " + bandLimitsText(renderSettings.frequencyScale, currentLimits()) + ".";
  limits_ = label(allowed.c_str(), this, dluToPixels(24, 98, 146, 24, base), "limitsLabel");
  limits_->setWordWrap(true);
  limits_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  notes_ = new NotesChoice(this, base, 14, 124, noteChoice, onNotes);
  const auto enableFields = [this] {
    const bool hertz = hertz_->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(low_), static_cast<QWidget*>(high_)}) w->setEnabled(hertz);
    for (QWidget* w : std::initializer_list<QWidget*>{notes_->lowestEdit(), notes_->highestEdit(), notes_->a4Edit(),
                                                     notes_->columnsSpin()}) {
      w->setEnabled(!hertz);
    }
  };
  connect(hertz_, &QRadioButton::toggled, this, enableFields);
  enableFields();

  auto* files = new QGroupBox(QStringLiteral("Sound files"), this);
  files->setObjectName(QStringLiteral("filesGroup"));
  files->setGeometry(dluToPixels(184, 7, 170, 56, base));
  files->lower();
  anyAudio_ = new QCheckBox(QStringLiteral("Read any audio file (converted to 44100 Hz)"), this);
  anyAudio_->setObjectName(QStringLiteral("anyAudioCheck"));
  anyAudio_->setGeometry(dluToPixels(191, 20, 156, 10, base));
  anyAudio_->setChecked(fileOptions.input.anyAudio);
  label("Output format", this, dluToPixels(191, 35, 64, 8, base), "formatLabel");
  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("formatList"));
  format_->setGeometry(dluToPixels(257, 33, 90, 12, base));
  for (const auto& f : kFormats) {
    format_->addItem(QString::fromUtf8(f.text));
    if (f.kind == fileOptions.output.kind) format_->setCurrentIndex(format_->count() - 1);
  }
  label("Sample rate", this, dluToPixels(191, 49, 64, 8, base), "rateLabel");
  rate_ = new QComboBox(this);
  rate_->setObjectName(QStringLiteral("rateList"));
  rate_->setGeometry(dluToPixels(257, 47, 90, 12, base));
  for (const std::uint32_t rate : kOutputRates) {
    rate_->addItem(QStringLiteral("%1 Hz").arg(rate), QVariant::fromValue(rate));
    if (rate == fileOptions.output.rate) rate_->setCurrentIndex(rate_->count() - 1);
  }

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("okButton"));
  ok_->setGeometry(dluToPixels(250, 260, 50, 14, base));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &OptionsDialog::accept);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancelButton"));
  cancel_->setGeometry(dluToPixels(304, 260, 50, 14, base));
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, &OptionsDialog::reject);

  QWidget* order[] = {sine_,
                      stereo_,
                      hertz_,
                      low_,
                      high_,
                      notes_->radio(),
                      notes_->lowestEdit(),
                      notes_->highestEdit(),
                      notes_->a4Edit(),
                      notes_->columnsSpin(),
                      anyAudio_,
                      format_,
                      rate_,
                      ok_,
                      cancel_};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  sine_->setFocus();
}

void OptionsDialog::accept() {
  if (notes_->radio()->isChecked()) {
    const std::optional<NoteChoice> notes = notes_->read(this);
    if (!notes) return;
    noteChoice = *notes;
    applyNoteRange(renderSettings, {notes->lowest, notes->highest}, notes->a4Hz);
    takeSourceAndStereo();
    QDialog::accept();
    return;
  }
  const BandLimits limits = currentLimits();
  const std::string lowText = low_->text().trimmed().toStdString();
  const std::string highText = high_->text().trimmed().toStdString();
  const std::optional<float> low = frequencyFromText(lowText);
  const std::optional<float> high = frequencyFromText(highText);
  if (!low || !high || !bandFits(limits, *low, *high)) {
    // The field at fault takes the focus, its text kept for correcting.
    QLineEdit* fault = low_;
    if (low && (!high || *low >= limits.lowestHz)) fault = high_;
    const std::string allowed = bandLimitsText(renderSettings.frequencyScale, limits);
    if (!low || !high) {
      const std::string& text = !low ? lowText : highText;
      if (text.empty()) {
        showErrorBox(static_cast<QWidget*>(this), "The %s frequency of the band is missing.\nIt must lie within %s.",
                     !low ? "lowest" : "highest", allowed.c_str());
      } else {
        showErrorBox(static_cast<QWidget*>(this),
                     "'%s' is not a frequency in hertz.\nThe frequency band must lie within %s.", text.c_str(),
                     allowed.c_str());
      }
    } else {
      showErrorBox(static_cast<QWidget*>(this),
                   "The frequency band %g ... %g Hz cannot be used.\nIt must lie within %s.", static_cast<double>(*low),
                   static_cast<double>(*high), allowed.c_str());
    }
    fault->setFocus();
    fault->selectAll();
    return;
  }
  takeSourceAndStereo();
  // The scale's own ends are kept as such, so that they follow the scale.
  renderSettings.bandLowHz = *low == limits.lowestHz ? 0.0f : *low;
  renderSettings.bandHighHz = *high == limits.highestHz ? 0.0f : *high;
  QDialog::accept();
}

void OptionsDialog::takeSourceAndStereo() {
  renderSettings.stereo = stereo_->isChecked();
  fileOptions.input.anyAudio = anyAudio_->isChecked();
  fileOptions.output.kind = kFormats[std::max(0, format_->currentIndex())].kind;
  fileOptions.output.rate = rate_->currentData().toUInt();
  if (sine_->isChecked()) {
    renderSettings.inputSource = InputSource::SineTones;
  } else if (renderSettings.inputSource == InputSource::SineTones) {
    // Back to a source of the main window's: its caller says which.
    renderSettings.inputSource = InputSource::PinkNoise;
  }
}

int runOptionsDialog(MainWindow& window) {
  OptionsDialog dialog(&window);
  const int result = dialog.exec();
  if (result == QDialog::Accepted) {
    if (renderSettings.inputSource != InputSource::SineTones) renderSettings.inputSource = checkedSource(window);
    showScaleSelection(window);
    showSourceControls(window, renderSettings.inputSource);
    refreshAfterChange(window);
  }
  return result;
}

}  // namespace vellomar

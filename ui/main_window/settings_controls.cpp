// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/settings_controls.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QWidget>

#include "engine/granularity.h"
#include "ui/common/app_state.h"
#include "files/messages.h"
#include "files/wav.h"
#include "ui/axes/axes.h"
#include "ui/axes/preview_frame.h"
#include "ui/common/digits_field.h"
#include "ui/common/file_names.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/settings_logic.h"

namespace vellomar {
namespace {

MessageOwner ownerOf(MainWindow& window) { return static_cast<QWidget*>(&window); }

std::string textOf(const QLineEdit* edit, int limit = 499) { return edit->text().left(limit).toStdString(); }

const char* const kScaleNames[] = {"Linear", "Logarithmic", "Mel (perceptual)"};

// Runs `action` when the keyboard focus moves on from `widget` to another
// control (and, with `onEnter`, also when Enter is pressed in it, before
// anything else sees the key). A menu opening over the field (its context
// menu) or the window going to the background does not count: the user
// comes back to the field as it was.
class FocusOutFilter : public QObject {
 public:
  FocusOutFilter(QObject* parent, std::function<void()> action, bool onEnter)
      : QObject(parent), action_(std::move(action)), onEnter_(onEnter) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) action_();
    }
    if (onEnter_ && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) action_();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> action_;
  bool onEnter_;
};

}  // namespace

void onFocusOut(QWidget* widget, std::function<void()> action, bool onEnter) {
  widget->installEventFilter(new FocusOutFilter(widget, std::move(action), onEnter));
}

void showPathInField(QLineEdit* edit, const std::string& path) {
  edit->setText(path.empty() ? QString(kNotSelected) : pathToQt(path));
}

MainWindow* liveMainWindow(QObject* window) { return qobject_cast<MainWindow*>(window); }

QObject* windowObject(MainWindow& window) { return &window; }

void onFocusOut(QWidget* widget, MainWindow& window, void (*command)(MainWindow&), bool onEnter) {
  QObject* o = &window;
  onFocusOut(
      widget,
      [o, command] {
        if (MainWindow* w = liveMainWindow(o)) command(*w);
      },
      onEnter);
}

void buildGranularityLists(MainWindow& window) {
  const auto& c = window.controls();
  const GranularityLists lists = buildGranularityLists(renderSettings.sampleRate);
  c.freqGranularityList->clear();
  for (const std::string& entry : lists.frequency) c.freqGranularityList->addItem(QString::fromStdString(entry));
  c.timeGranularityList->clear();
  for (const std::string& entry : lists.time) c.timeGranularityList->addItem(QString::fromStdString(entry));
}

namespace {
std::vector<std::string> entriesOf(const QComboBox* list) {
  std::vector<std::string> entries;
  for (int i = 0; i < list->count(); ++i) entries.push_back(list->itemText(i).left(49).toStdString());
  return entries;
}
}  // namespace

bool selectFrequencyGranularityEntry(MainWindow& window) {
  QComboBox* list = window.controls().freqGranularityList;
  const int index = matchFrequencyEntry(entriesOf(list), renderSettings.sampleRate, renderSettings.blockLength);
  if (index < 0) {
    showInternalError(ownerOf(window), 2);
    return false;
  }
  list->setCurrentIndex(index);
  return true;
}

bool selectTimeGranularityEntry(MainWindow& window) {
  QComboBox* list = window.controls().timeGranularityList;
  const int index = matchTimeEntry(entriesOf(list), renderSettings.sampleRate, renderSettings.blockLength,
                                   renderSettings.subBlocksPerBlock);
  if (index < 0) {
    showInternalError(ownerOf(window), 2);
    return false;
  }
  list->setCurrentIndex(index);
  return true;
}

void deriveSubBlocks(MainWindow& window, bool mayChangeBlockLength) {
  if (renderSettings.blockLength <= 0) {
    showInternalError(ownerOf(window), 4);
    return;
  }
  const float seconds = leadingNumber(window.controls().timeGranularityList->currentText().toStdString());
  if (!deriveSubBlocks(seconds, renderSettings.sampleRate, renderSettings.blockLength, renderSettings.subBlocksPerBlock,
                       mayChangeBlockLength)) {
    showInternalError(ownerOf(window), 4);
  }
}

void applyFrequencyGranularity(MainWindow& window) {
  const auto& c = window.controls();
  const float hz = leadingNumber(c.freqGranularityList->currentText().toStdString());
  const float seconds = leadingNumber(c.timeGranularityList->currentText().toStdString());
  if (!applyFrequencyGranularity(hz, seconds, renderSettings.sampleRate, renderSettings.blockLength,
                                 renderSettings.subBlocksPerBlock)) {
    showInternalError(ownerOf(window), 4);
  }
  selectTimeGranularityEntry(window);
}

void applyTimeGranularity(MainWindow& window) {
  deriveSubBlocks(window, true);
  selectFrequencyGranularityEntry(window);
}

void showSourceControls(MainWindow& window, InputSource source) {
  const auto& c = window.controls();
  const bool waveFile = source == InputSource::WaveFile;
  const bool sine = source == InputSource::SineTones;
  c.inputSourceGroup->setEnabled(!sine);
  for (QWidget* radio : {static_cast<QWidget*>(c.whiteNoiseRadio), static_cast<QWidget*>(c.pinkNoiseRadio),
                         static_cast<QWidget*>(c.waveFileRadio)}) {
    radio->setVisible(!sine);
  }
  c.sineSourceLabel->setVisible(sine);
  c.inputPathLabel->setVisible(waveFile);
  c.inputPathEdit->setVisible(waveFile);
  c.inputBrowseButton->setVisible(waveFile);
  c.durationLabel->setVisible(!waveFile);
  c.durationEdit->setVisible(!waveFile);
  c.secondsLabel->setVisible(!waveFile);
}

InputSource checkedSource(MainWindow& window) {
  const auto& c = window.controls();
  if (c.whiteNoiseRadio->isChecked()) return InputSource::WhiteNoise;
  if (c.waveFileRadio->isChecked()) return InputSource::WaveFile;
  return InputSource::PinkNoise;
}

void showScaleSelection(MainWindow& window) {
  const auto& c = window.controls();
  const int scale = static_cast<int>(renderSettings.frequencyScale);
  if (scale >= 0 && scale < 3) {
    const int index = c.scaleList->findText(QLatin1String(kScaleNames[scale]), Qt::MatchStartsWith);
    c.scaleList->setCurrentIndex(index);
  } else {
    showInternalError(ownerOf(window), 1);
    c.scaleList->setCurrentIndex(-1);
  }
}

void refreshTimePerLineLabel(MainWindow& window) {
  QLabel* label = window.controls().timePerLineLabel;
  const float d = axisDuration(renderSettings, inputWaveDuration);
  if (pictureData.pixels == nullptr || d == 0.0f) {
    label->hide();
    return;
  }
  label->setText(QString::fromStdString(timePerLineText(timePerLine(d, pictureData.height))));
  label->show();
}

void refreshAfterChange(MainWindow& window, InputCheck check) {
  AudioInputRules rules = fileOptions.input;
  rules.rate = renderSettings.sampleRate;
  rules.anyAudioHint = "turn on \"Read any audio file\" in Options";
  const WaveProbe probe = probeAudioInput(renderSettings.inputPath, rules);
  inputWaveDuration = probe.durationSeconds;
  if (check == InputCheck::Tell) showRefusal(ownerOf(window), probe.refusal);
  redrawAxes(window);
  refreshTimePerLineLabel(window);
  // With stereo on, the preview shows what each channel hears.
  window.controls().previewFrame->setColours(renderSettings.stereo ? PreviewColours::Channels : PreviewColours::Grey);
  emit window.settingsChanged();
}

void applyScaleSelection(MainWindow& window) {
  const QString text = window.controls().scaleList->currentText().left(499);
  bool known = false;
  for (int i = 0; i < 3; ++i) {
    if (text == QLatin1String(kScaleNames[i])) {
      renderSettings.frequencyScale = static_cast<FrequencyScale>(i);
      known = true;
    }
  }
  if (!known) showInternalError(ownerOf(window), 3);
}

void applyBrightnessMapping(MainWindow& window, bool logarithmic) {
  renderSettings.logBrightness = logarithmic;
  window.controls().rangeUpDown->setEnabled(logarithmic);
}

void applyRangeEdit(MainWindow& window) {
  QSpinBox* upDown = window.controls().rangeUpDown;
  QLineEdit* edit = window.controls().rangeEdit;
  bool clamped = false;
  const std::int32_t v = rangeDbFromText(textOf(edit), clamped);
  // A typed value the field cannot take is not changed silently.
  if (clamped) playDefaultSound();
  renderSettings.logRangeDb = v;
  const QSignalBlocker blocker(upDown);
  upDown->setValue(v);
  edit->setText(QString::number(v));
}

void applyGainEdit(MainWindow& window) {
  const auto& c = window.controls();
  bool rewrite = false;
  renderSettings.masterGainDb = gainDbFromText(textOf(c.gainEdit), rewrite);
  if (rewrite) {
    // Clamped: the field shows what the render will use, and says so.
    playDefaultSound();
    c.gainEdit->setText(QString::number(renderSettings.masterGainDb));
  }
  const QSignalBlocker blocker(c.gainSlider);
  c.gainSlider->setValue(renderSettings.masterGainDb);
  c.gainSlider->update();
}

void applyGainSlider(MainWindow& window) {
  const auto& c = window.controls();
  renderSettings.masterGainDb = c.gainSlider->value();
  c.gainEdit->setText(QString::number(renderSettings.masterGainDb));
}

void applyDurationEdit(MainWindow& window) {
  QLineEdit* edit = window.controls().durationEdit;
  const DurationEntry entry = durationFromText(textOf(edit), renderSettings.durationSeconds);
  if (!entry.accepted) playDefaultSound();
  renderSettings.durationSeconds = entry.seconds;
  edit->setText(QString::fromStdString(formatDuration(renderSettings.durationSeconds)));
}

void populateSettingsControls(MainWindow& window) {
  const auto& c = window.controls();
  {
    const QSignalBlocker blocker(c.rangeUpDown);
    c.rangeUpDown->setValue(renderSettings.logRangeDb & 0xFFFF);
  }

  showScaleSelection(window);

  if (renderSettings.inputSource != InputSource::SineTones) {
    // With sine tones the buttons keep the source to go back to.
    const QSignalBlocker b1(c.pinkNoiseRadio), b2(c.whiteNoiseRadio), b3(c.waveFileRadio);
    c.pinkNoiseRadio->setChecked(renderSettings.inputSource == InputSource::PinkNoise);
    c.whiteNoiseRadio->setChecked(renderSettings.inputSource == InputSource::WhiteNoise);
    c.waveFileRadio->setChecked(renderSettings.inputSource == InputSource::WaveFile);
  }
  showSourceControls(window, renderSettings.inputSource);

  {
    const QSignalBlocker b1(c.linRadio), b2(c.logRadio);
    c.linRadio->setChecked(!renderSettings.logBrightness);
    c.logRadio->setChecked(renderSettings.logBrightness);
  }
  c.rangeUpDown->setEnabled(renderSettings.logBrightness);

  buildGranularityLists(window);
  selectFrequencyGranularityEntry(window);
  selectTimeGranularityEntry(window);

  {
    const QSignalBlocker blocker(c.gainSlider);
    c.gainSlider->setValue(renderSettings.masterGainDb);
  }
  c.gainEdit->setText(QString::number(renderSettings.masterGainDb));

  c.durationEdit->setText(QString::fromStdString(formatDuration(renderSettings.durationSeconds)));

  showPathInField(c.inputPathEdit, renderSettings.inputPath);
  showPathInField(c.outputPathEdit, renderSettings.outputPath);
}

namespace {

// A settings control's handler followed by the one refresh.
template <typename Apply>
auto thenRefresh(Apply apply) {
  return [apply](MainWindow& w) {
    apply(w);
    refreshAfterChange(w);
  };
}

// The same for a focus-out handler, which takes a plain function.
template <void (*Apply)(MainWindow&)>
void applyThenRefresh(MainWindow& window) {
  Apply(window);
  refreshAfterChange(window);
}

}  // namespace

void connectSettingsControls(MainWindow& window) {
  const auto& c = window.controls();

  c.scaleList->clear();
  for (const char* name : kScaleNames) c.scaleList->addItem(QLatin1String(name));
  const auto activated = qOverload<int>(&QComboBox::activated);
  connectCommand(window, c.scaleList, activated, thenRefresh(applyScaleSelection));
  connectCommand(window, c.freqGranularityList, activated,
                 thenRefresh([](MainWindow& w) { applyFrequencyGranularity(w); }));
  connectCommand(window, c.timeGranularityList, activated, thenRefresh(applyTimeGranularity));
  connectWhenChecked(window, c.linRadio, thenRefresh([](MainWindow& w) { applyBrightnessMapping(w, false); }));
  connectWhenChecked(window, c.logRadio, thenRefresh([](MainWindow& w) { applyBrightnessMapping(w, true); }));

  // Arrow steps of 10, clamped to 20..120, never wrapping.
  c.rangeUpDown->setRange(kMinRangeDb, kMaxRangeDb);
  c.rangeUpDown->setSingleStep(10);
  c.rangeUpDown->setWrapping(false);
  c.rangeUpDown->setGroupSeparatorShown(false);
  // Any digits may be typed; leaving the field (or Enter) rounds and clamps
  // them before the up-down reads the text.
  makeDigitsOnly(c.rangeEdit);
  // The text box may hand its focus to the up-down box: watch both.
  onFocusOut(c.rangeEdit, window, applyThenRefresh<applyRangeEdit>, true);
  onFocusOut(c.rangeUpDown, window, applyThenRefresh<applyRangeEdit>, true);
  QObject::connect(c.rangeUpDown, qOverload<int>(&QSpinBox::valueChanged), &window,
                   [](int value) { renderSettings.logRangeDb = value; });

  c.gainSlider->setRange(kMinGainDb, kMaxGainDb);
  c.gainSlider->setTickPosition(QSlider::NoTicks);
  connectCommand(window, c.gainSlider, &QSlider::valueChanged, thenRefresh(applyGainSlider));
  onFocusOut(c.gainEdit, window, applyThenRefresh<applyGainEdit>);
  onFocusOut(c.durationEdit, window, applyThenRefresh<applyDurationEdit>);
}

}  // namespace vellomar

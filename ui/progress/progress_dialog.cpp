// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress/progress_dialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <system_error>

#include "engine/render.h"
#include "ui/common/app_state.h"
#include "files/messages.h"
#include "ui/common/dialog_units.h"
#include "ui/common/input_decode.h"

namespace vellomar {

bool prepareRenderJob(PreparedRender& prepared, QWidget* dialog) {
  Refusal refusal;
  SoundFileOptions options = fileOptions;
  options.input.anyAudioHint = "turn on \"Read any audio file\" in Options";
  options.output = formatForPath(fileOptions.output, renderSettings.outputPath);
  options.input.keep = &windowInputs();
  if (renderSettings.inputSource == InputSource::WaveFile && !bandRefusal(renderSettings)) {
    // A decode runs first, on a thread of its own; the open below finds it.
    AudioInputRules rules = options.input;
    rules.rate = renderSettings.sampleRate;
    switch (decodeInputFirst(dialog, renderSettings.inputPath, rules, refusal)) {
      case InputReady::Ready:
        break;
      case InputReady::Refused:
        showRefusal(dialog, refusal);
        return false;
      case InputReady::Cancelled:
        return false;
    }
  }
  if (!prepareRender(renderSettings, pictureData, randomSeed, options, prepared, refusal)) {
    showRefusal(dialog, refusal);
    return false;
  }
  prepared.job.abort = &abortRequested;
  return true;
}

QPoint clientOrigin(QWidget* owner) {
  const QWidget* area = owner->findChild<QWidget*>(QStringLiteral("clientArea"), Qt::FindDirectChildrenOnly);
  return (area != nullptr ? area : owner)->mapToGlobal(QPoint(0, 0));
}

void renderThreadMain(RenderJob& job, ProgressDialog* dialog) {
  const ResultCode result = renderSound(job);
  QMetaObject::invokeMethod(
      dialog, [dialog, result] { dialog->renderFinished(result); }, Qt::QueuedConnection);
}

QString progressText(int thousandths, double seconds) {
  if (thousandths <= 0 || thousandths >= 1000 || !(seconds >= kProgressTextDelay)) return {};
  // The pace so far, carried over what is left.
  const double left = seconds * (1000 - thousandths) / thousandths;
  const long long whole = std::llround(left);
  const long long hours = whole / 3600;
  const long long minutes = whole / 60 % 60;
  const long long secs = whole % 60;
  const QString time = hours > 0 ? QString::asprintf("%lld:%02lld:%02lld", hours, minutes, secs)
                                 : QString::asprintf("%lld:%02lld", minutes, secs);
  return QString::asprintf("%d%% - %s left", thousandths / 10, qPrintable(time));
}

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(owner) {
  setObjectName("progressDialog");
  setWindowTitle("Generating sound...");
  // A caption bar and nothing else: no close, minimise or maximise button
  // (the dialog cannot be closed, and its size is fixed).
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);
  setFont(dialogFont());

  const DialogBaseUnits units = dialogBaseUnits(font());
  setFixedSize(dluToPixelsX(223, units), dluToPixelsY(78, units));

  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName("progressBar");
  progressBar_->setTextVisible(false);
  progressBar_->setAlignment(Qt::AlignCenter);
  progressBar_->setRange(0, 1000);
  progressBar_->setValue(0);
  progressBar_->setGeometry(dluToPixels(29, 31, 163, 14, units));

  abortButton_ = new QPushButton("Abort", this);
  abortButton_->setObjectName("abortButton");
  abortButton_->setAutoDefault(false);
  abortButton_->setGeometry(dluToPixels(166, 57, 50, 14, units));
  connect(abortButton_, &QPushButton::clicked, this, &ProgressDialog::onAbort);

  if (owner != nullptr) move(clientOrigin(owner));
  clock_.start();
}

ProgressDialog::~ProgressDialog() {
  // Never leave a worker running on a dialog that goes away.
  if (worker_.joinable()) {
    abortRequested = true;
    worker_.join();
  }
}

void ProgressDialog::begin() {
  if (begun_) return;
  begun_ = true;
  abortRequested = false;

  if (!prepareRenderJob(prepared_, this)) {
    QMetaObject::invokeMethod(this, [this] { done(kRenderEnded); }, Qt::QueuedConnection);
    return;
  }
  // The dialog outlives the worker (it joins it before going away), and a
  // call still queued when the dialog is destroyed is dropped with it. The
  // render reports every block; only a new value is posted, so a long render
  // queues at most one call per step of the bar.
  ProgressDialog* dialog = this;
  prepared_.job.progress = [dialog, shown = -1](int thousandths) mutable {
    if (thousandths == shown) return;
    shown = thousandths;
    QMetaObject::invokeMethod(
        dialog, [dialog, thousandths] { dialog->setProgress(thousandths); }, Qt::QueuedConnection);
  };
  try {
    worker_ = std::thread(renderThreadMain, std::ref(prepared_.job), this);
  } catch (const std::system_error&) {
    showMessage(static_cast<QWidget*>(this), kBoxOk | kBoxIconError, "Fatal Error",
                "Cannot create thread for generating sound");
    Refusal unused;
    finishRender(prepared_, kResultAborted, unused);
    QMetaObject::invokeMethod(this, [this] { done(kRenderEnded); }, Qt::QueuedConnection);
    return;
  }
  abortButton_->setFocus();
}

void ProgressDialog::setProgress(int thousandths) {
  setProgressAt(thousandths, static_cast<double>(clock_.elapsed()) / 1000.0);
}

void ProgressDialog::setProgressAt(int thousandths, double seconds) {
  progressBar_->setValue(thousandths);
  const QString text = progressText(thousandths, seconds);
  // The bar reads its format for "%p" and the like; the text has none.
  progressBar_->setFormat(text);
  progressBar_->setTextVisible(!text.isEmpty());
}

void ProgressDialog::renderFinished(ResultCode result) {
  // The worker has posted its last message; it ends right after.
  joinWorker();
  prepared_.job.progress = nullptr;
  // The next noise render continues the generator where this one stopped.
  if (prepared_.job.settings.inputSource != InputSource::WaveFile) randomSeed = prepared_.job.noiseState;
  Refusal refusal;
  result = finishRender(prepared_, result, refusal);
  lastRenderLevels = result == kResultOk ? prepared_.job.levels : RenderLevels{};
  showRefusal(static_cast<QWidget*>(this), refusal);
  done(result == kResultOk ? kRenderCompleted : kRenderEnded);
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  // The dialog ends with the render. A window manager may put a close box
  // on the caption whatever the dialog asks for: it aborts, as "Abort" does.
  event->ignore();
  if (abortButton_->isEnabled()) abortButton_->click();
}

void ProgressDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isVisible()) {
      if (button->isEnabled()) button->click();
      event->accept();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

void ProgressDialog::onAbort() {
  abortRequested = true;
  abortButton_->setEnabled(false);
}

void ProgressDialog::joinWorker() {
  if (worker_.joinable()) worker_.join();
}

int runProgressDialog(QWidget* owner) {
  ProgressDialog dialog(owner);
  QTimer::singleShot(0, &dialog, &ProgressDialog::begin);
  const int result = dialog.exec();
  return result == kRenderCompleted ? kRenderCompleted : kRenderEnded;
}

}  // namespace vellomar

#include "ui/progress_dialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "engine/render.h"
#include "files/messages.h"
#include "files/wav.h"
#include "ui/dialog_units.h"

namespace vellomar {
namespace {

struct FileStamp {
  bool exists = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type time{};
};

FileStamp stampOf(const std::string& path) {
  FileStamp stamp;
  std::error_code error;
  const std::filesystem::path p(path);
  if (!std::filesystem::is_regular_file(p, error)) return stamp;
  stamp.exists = true;
  stamp.size = std::filesystem::file_size(p, error);
  stamp.time = std::filesystem::last_write_time(p, error);
  return stamp;
}

}  // namespace

bool prepareRenderJob(RenderJob& job, QWidget* dialog, bool& outputOpened) {
  outputOpened = false;
  job.input = nullptr;
  job.output = nullptr;
  job.input8Bit = false;
  job.sampleCount = 0;

  WaveInfo info;
  if (renderSettings.inputSource == InputSource::WaveFile) {
    job.input = openInputWave(renderSettings.inputPath, info, renderSettings.sampleRate, true, dialog);
    if (job.input == nullptr) return false;
    job.input8Bit = info.bitsPerSample == 8;
  }
  info.bitsPerSample = 16;
  info.channels = 1;
  info.sampleRate = renderSettings.sampleRate;
  info.rejected = false;
  if (renderSettings.inputSource != InputSource::WaveFile) {
    if (!noiseRenderFits(renderSettings.sampleRate, renderSettings.durationSeconds, true, dialog)) return false;
    info.sampleCount = noiseSampleCount(renderSettings.sampleRate, renderSettings.durationSeconds);
  }
  job.sampleCount = info.sampleCount;

  // What stands at the output path before the writer touches it: a file
  // that the writer refused before opening it is the user's and stays.
  const FileStamp before = stampOf(renderSettings.outputPath);
  job.output = createOutputWave(renderSettings.outputPath, info, true, dialog);
  if (job.output != nullptr) {
    outputOpened = true;
    return true;
  }
  // A file that the writer created, or truncated and then failed on, is
  // this render's own.
  const FileStamp after = stampOf(renderSettings.outputPath);
  outputOpened = after.exists && (!before.exists || after.size != before.size || after.time != before.time);
  if (job.input != nullptr) {
    std::fclose(job.input);
    job.input = nullptr;
  }
  return false;
}

QPoint clientOrigin(QWidget* owner) {
  const QWidget* area = owner->findChild<QWidget*>(QStringLiteral("clientArea"), Qt::FindDirectChildrenOnly);
  return (area != nullptr ? area : owner)->mapToGlobal(QPoint(0, 0));
}

void renderThreadMain(RenderJob& job, ProgressDialog* dialog) {
  const ResultCode result = renderSound(job);
  if (result == kResultOk) {
    QMetaObject::invokeMethod(dialog, &ProgressDialog::renderCompleted, Qt::QueuedConnection);
  } else if (result == kResultAborted) {
    QMetaObject::invokeMethod(dialog, &ProgressDialog::renderEnded, Qt::QueuedConnection);
  } else {
    QMetaObject::invokeMethod(
        dialog, [dialog, result] { dialog->renderFailed(result); }, Qt::QueuedConnection);
  }
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

  // The dialog outlives the worker (it joins it before going away), and a
  // call still queued when the dialog is destroyed is dropped with it. The
  // render reports every block; only a new value is posted, so a long render
  // queues at most one call per step of the bar.
  ProgressDialog* dialog = this;
  renderJob.progress = [dialog, shown = -1](int thousandths) mutable {
    if (thousandths == shown) return;
    shown = thousandths;
    QMetaObject::invokeMethod(
        dialog, [dialog, thousandths] { dialog->setProgress(thousandths); }, Qt::QueuedConnection);
  };

  if (!prepareRenderJob(renderJob, this, outputOpened_)) {
    QMetaObject::invokeMethod(this, &ProgressDialog::renderEnded, Qt::QueuedConnection);
    return;
  }
  try {
    worker_ = std::thread(renderThreadMain, std::ref(renderJob), this);
  } catch (const std::system_error&) {
    showMessage(static_cast<QWidget*>(this), kBoxOk | kBoxIconError, "Fatal Error",
                "Cannot create thread for generating sound");
    if (renderJob.input != nullptr) std::fclose(renderJob.input);
    if (renderJob.output != nullptr) std::fclose(renderJob.output);
    renderJob.input = nullptr;
    renderJob.output = nullptr;
    QMetaObject::invokeMethod(this, &ProgressDialog::renderEnded, Qt::QueuedConnection);
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

void ProgressDialog::renderFailed(ResultCode code) {
  // The worker has posted its last message; it ends right after.
  joinWorker();
  messageForResult(static_cast<QWidget*>(this), code);
  renderEnded();
}

void ProgressDialog::renderCompleted() {
  joinWorker();
  outputOpened_ = false;
  done(kRenderCompleted);
}

void ProgressDialog::renderEnded() {
  joinWorker();
  if (outputOpened_) {
    // Only a plain file is removed: through a link, or into a device such
    // as /dev/null, the name itself is not this render's to delete.
    std::error_code error;
    const std::filesystem::path output(renderSettings.outputPath);
    if (std::filesystem::symlink_status(output, error).type() == std::filesystem::file_type::regular) {
      std::filesystem::remove(output, error);
    }
    outputOpened_ = false;
  }
  done(kRenderEnded);
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
  renderJob.progress = nullptr;
  return result == kRenderCompleted ? kRenderCompleted : kRenderEnded;
}

}  // namespace vellomar

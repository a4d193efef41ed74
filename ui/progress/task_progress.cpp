// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress/task_progress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <exception>
#include <new>
#include <thread>

namespace vellomar {

namespace {

constexpr int kPollMilliseconds = 40;
constexpr int kShowAfterMilliseconds = 300;

}  // namespace

ResultCode runWithProgress(QWidget* owner, const QString& label,
                           const std::function<ResultCode(const EditControl&)>& work) {
  std::atomic<bool> abort{false};
  std::atomic<int> progress{0};
  std::atomic<bool> finished{false};
  ResultCode result = kResultInternal;

  QProgressDialog dialog(label, QStringLiteral("Cancel"), 0, 1000, owner);
  dialog.setObjectName(QStringLiteral("soundEditProgress"));
  dialog.setWindowTitle(QStringLiteral("Vellomar"));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(kShowAfterMilliseconds);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kPollMilliseconds);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (!abort.load()) dialog.setValue(progress.load());
    if (finished.load()) loop.quit();
  });
  QObject::connect(&dialog, &QProgressDialog::canceled, &loop, [&] {
    abort.store(true);
    dialog.setLabelText(QStringLiteral("Stopping..."));
  });

  std::thread worker([&] {
    const EditControl control{&abort, [&progress](int thousandths) { progress.store(thousandths); }, 0};
    try {
      result = work(control);
    } catch (const std::bad_alloc&) {
      result = kResultNoMemory;
    } catch (const std::exception&) {
      result = kResultInternal;
    }
    finished.store(true);
  });
  poll.start();
  loop.exec();
  worker.join();
  dialog.close();
  return result;
}

}  // namespace vellomar

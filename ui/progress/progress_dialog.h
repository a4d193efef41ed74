// SPDX-License-Identifier: GPL-3.0-or-later
// The modal "Generating sound..." dialog and the render thread behind it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <thread>

#include "engine/result_code.h"
#include "files/render_setup.h"
#include "ui/common/app_state.h"

class QProgressBar;
class QPushButton;

namespace vellomar {

// Results of the progress dialog.
inline constexpr int kRenderCompleted = 1;  // the output file is complete
inline constexpr int kRenderEnded = 444;    // aborted, failed or never started

class ProgressDialog;

// The screen position of the top-left corner of `owner`'s client area (below
// its menu bar, when it has one), where the program's dialogs open.
QPoint clientOrigin(QWidget* owner);

// Prepares the render of the window's settings and picture (the noise
// continuing from randomSeed, stopped by abortRequested): opens the input
// (wave source) and the output with its header. A refusal is shown with
// `dialog` as owner.
bool prepareRenderJob(PreparedRender& prepared, QWidget* dialog);

// The body of the worker thread: renders the job and posts its result to
// `dialog` as a queued call. Touches no widget.
void renderThreadMain(RenderJob& job, ProgressDialog* dialog);

// Runs the dialog modally over `owner` and returns kRenderCompleted or
// kRenderEnded.
int runProgressDialog(QWidget* owner);

// What the progress bar says `seconds` into a render that has reached
// `thousandths`: the percentage and the time left, estimated from the pace
// so far. Empty while the render is young (under kProgressTextDelay
// seconds) or has not moved yet: a short render just shows the bar.
inline constexpr double kProgressTextDelay = 3.0;
QString progressText(int thousandths, double seconds);

class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressDialog(QWidget* owner);
  ~ProgressDialog() override;

  QProgressBar* progressBar() const { return progressBar_; }
  QPushButton* abortButton() const { return abortButton_; }

  // Starts the render; called once the dialog runs. Ends the dialog with
  // kRenderEnded at once when the files cannot be prepared.
  void begin();

  // Handlers of what the worker posts (always on the window's thread).
  void setProgress(int thousandths);
  // setProgress as seen `seconds` after the dialog opened.
  void setProgressAt(int thousandths, double seconds);
  // The render has returned `result`: the output is put in place on
  // success, otherwise what the render made is removed (an earlier file of
  // the output's name stays) and a failure is shown; the dialog ends.
  void renderFinished(ResultCode result);

  // Esc does nothing: only the render ends the dialog. A close request
  // from the window manager aborts the render.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Enter presses the focused "Abort".
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void onAbort();
  void joinWorker();

  QProgressBar* progressBar_ = nullptr;
  QPushButton* abortButton_ = nullptr;
  QElapsedTimer clock_;  // since the dialog opened
  std::thread worker_;
  PreparedRender prepared_;
  bool begun_ = false;
};

}  // namespace vellomar

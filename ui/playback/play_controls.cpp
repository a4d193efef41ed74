// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/play_controls.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "ui/axes/axes.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "ui/playback/playback.h"

namespace vellomar {

namespace {

const QString kPointerTip = QStringLiteral("Click to play from here; Shift-drag to loop a range");

}  // namespace

PlayControls::PlayControls(MainWindow& window) : QObject(&window), window_(window) {
  setObjectName(QStringLiteral("playControls"));
  const MainWindowControls& c = window.controls();
  menu_ = new QMenu(QStringLiteral("&Play"), c.menuBar);
  menu_->setObjectName(QStringLiteral("playMenu"));
  loop_ = menu_->addAction(QStringLiteral("&Loop a time range..."));
  loop_->setObjectName(QStringLiteral("loopAction"));
  loop_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  stopLooping_ = menu_->addAction(QStringLiteral("&Stop looping"));
  stopLooping_->setObjectName(QStringLiteral("stopLoopingAction"));
  stopLooping_->setEnabled(false);
  c.menuBar->insertMenu(c.helpMenu->menuAction(), menu_);
  connect(loop_, &QAction::triggered, this, &PlayControls::chooseLoop);
  connect(stopLooping_, &QAction::triggered, this, &PlayControls::stopLooping);

  for (QWidget* pointer : {static_cast<QWidget*>(c.previewFrame), static_cast<QWidget*>(c.timeAxisStrip)}) {
    pointer->installEventFilter(this);
    pointer->setToolTip(kPointerTip);
  }
  Playback& playback = playbackOf(window);
  connect(&playback, &Playback::loopChanged, this, &PlayControls::showLoop);
  connect(&playback, &Playback::playingChanged, this, &PlayControls::showLoop);
}

qint64 PlayControls::axisMilliseconds() const {
  return std::llround(1000.0 * axisDuration(renderSettings, inputWaveDuration));
}

bool PlayControls::hasSound() const { return window_.controls().playButton->isEnabled(); }

qint64 PlayControls::millisecondsAt(const QPoint& global) const {
  const PreviewFrame* frame = window_.controls().previewFrame;
  return std::llround(frame->timeAt(frame->mapFromGlobal(global).y()) * static_cast<qreal>(axisMilliseconds()));
}

void PlayControls::playFrom(qint64 milliseconds) {
  if (!hasSound()) return;
  Playback& playback = playbackOf(window_);
  if (playback.isPlaying()) {
    playback.seek(milliseconds);
  } else {
    playGeneratedFrom(window_, milliseconds);
  }
}

void PlayControls::playFromFraction(qreal fraction) {
  playFrom(std::llround(std::clamp(fraction, 0.0, 1.0) * static_cast<qreal>(axisMilliseconds())));
}

void PlayControls::loopRange(qint64 fromMilliseconds, qint64 toMilliseconds) {
  if (toMilliseconds < fromMilliseconds) std::swap(fromMilliseconds, toMilliseconds);
  if (toMilliseconds == fromMilliseconds) return;
  playbackOf(window_).setLoop(fromMilliseconds, toMilliseconds);
  playFrom(fromMilliseconds);
}

void PlayControls::stopLooping() { playbackOf(window_).clearLoop(); }

void PlayControls::showLoop() {
  const Playback& playback = playbackOf(window_);
  stopLooping_->setEnabled(playback.looping());
  const qreal axis = static_cast<qreal>(axisMilliseconds());
  if (!playback.looping() || axis <= 0) {
    window_.controls().previewFrame->setLoopBand(0, 0);
    return;
  }
  window_.controls().previewFrame->setLoopBand(static_cast<qreal>(playback.loopFrom()) / axis,
                                               static_cast<qreal>(playback.loopTo()) / axis);
}

bool PlayControls::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) {
    return QObject::eventFilter(watched, event);
  }
  auto* mouse = static_cast<QMouseEvent*>(event);
  const QPoint global = mouse->globalPosition().toPoint();
  const qint64 at = millisecondsAt(global);
  const qreal axis = static_cast<qreal>(std::max<qint64>(1, axisMilliseconds()));
  if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
    pressed_ = true;
    dragFrom_ = (mouse->modifiers() & Qt::ShiftModifier) ? at : -1;
    return true;
  }
  if (!pressed_) return QObject::eventFilter(watched, event);
  if (type == QEvent::MouseMove) {
    if (dragFrom_ >= 0) {
      window_.controls().previewFrame->setLoopBand(std::min(dragFrom_, at) / axis, std::max(dragFrom_, at) / axis);
    }
    return true;
  }
  if (mouse->button() != Qt::LeftButton) return true;
  pressed_ = false;
  if (dragFrom_ >= 0 && std::abs(at - dragFrom_) * 100 >= axisMilliseconds()) {
    loopRange(dragFrom_, at);
  } else if (dragFrom_ < 0) {
    playFrom(at);
  }
  dragFrom_ = -1;
  showLoop();
  return true;
}

void PlayControls::chooseLoop() {
  Playback& playback = playbackOf(window_);
  const qreal seconds = static_cast<qreal>(hasSound() && playback.duration() > 0 ? playback.duration()
                                                                                 : axisMilliseconds()) /
                        1000.0;
  QDialog dialog(&window_);
  dialog.setWindowTitle(QStringLiteral("Loop a time range"));
  auto* form = new QFormLayout(&dialog);
  const auto field = [&](const char* name, qreal value) {
    auto* box = new QDoubleSpinBox(&dialog);
    box->setObjectName(QString::fromUtf8(name));
    box->setDecimals(3);
    box->setRange(0.0, seconds);
    box->setSuffix(QStringLiteral(" s"));
    box->setValue(value);
    return box;
  };
  QDoubleSpinBox* from = field("loopFrom", playback.looping() ? playback.loopFrom() / 1000.0 : 0.0);
  QDoubleSpinBox* to = field("loopTo", playback.looping() ? playback.loopTo() / 1000.0 : seconds);
  form->addRow(QStringLiteral("&From:"), from);
  form->addRow(QStringLiteral("&To:"), to);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Loop"));
  form->addRow(buttons);
  const auto check = [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(to->value() > from->value()); };
  connect(from, &QDoubleSpinBox::valueChanged, &dialog, check);
  connect(to, &QDoubleSpinBox::valueChanged, &dialog, check);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  check();
  if (dialog.exec() != QDialog::Accepted) return;
  loopRange(std::llround(from->value() * 1000.0), std::llround(to->value() * 1000.0));
}

void installPlayControls(MainWindow& window) { new PlayControls(window); }

PlayControls* playControlsOf(MainWindow& window) {
  return window.findChild<PlayControls*>(QStringLiteral("playControls"), Qt::FindDirectChildrenOnly);
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Where the main window chooses what to hear: a click on the time axis or
// the preview plays from that time, a Shift-drag over either loops the
// range dragged, and the "Play" menu loops a range typed in or stops
// looping. The loop shows as a band across the preview.
#pragma once

#include <QObject>
#include <QPoint>

class QAction;
class QMenu;

namespace vellomar {

class MainWindow;

class PlayControls : public QObject {
  Q_OBJECT

 public:
  explicit PlayControls(MainWindow& window);

  QMenu* menu() const { return menu_; }
  QAction* loopAction() const { return loop_; }
  QAction* stopLoopingAction() const { return stopLooping_; }

 public slots:
  // Plays the window's sound from `milliseconds`, or goes there when it
  // plays already. Nothing while there is no sound to play.
  void playFrom(qint64 milliseconds);
  // The same at `fraction` of the time axis (0 its start, 1 its end).
  void playFromFraction(qreal fraction);
  // Loops from `fromMilliseconds` to `toMilliseconds` (either order) and
  // plays the loop from its start when there is a sound.
  void loopRange(qint64 fromMilliseconds, qint64 toMilliseconds);
  void stopLooping();
  // Asks for the range to loop, in seconds.
  void chooseLoop();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The time of the axis at a point of the screen, in milliseconds.
  qint64 millisecondsAt(const QPoint& global) const;
  qint64 axisMilliseconds() const;
  bool hasSound() const;
  void showLoop();

  MainWindow& window_;
  QMenu* menu_ = nullptr;
  QAction* loop_ = nullptr;
  QAction* stopLooping_ = nullptr;
  qint64 dragFrom_ = -1;  // where a Shift-drag began; -1: none
  bool pressed_ = false;
};

// Builds the "Play" menu into the window's menu bar, before "Help", and
// lets the time axis and the preview start playing.
void installPlayControls(MainWindow& window);

// The window's play controls, once installed.
PlayControls* playControlsOf(MainWindow& window);

}  // namespace vellomar

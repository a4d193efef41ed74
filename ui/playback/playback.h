// SPDX-License-Identifier: GPL-3.0-or-later
// Playing sounds through the default audio output: a generated file, or a
// frame source that a render is still writing into.
//
// The sound is played on an audio thread of its own, which hands the
// output one short buffer at a time, read from the source as it is at
// that moment (see PlayCursor): a change to the source is heard within a
// buffer or two, cross-faded, without playing stopping. Playing ends at
// the end of the sound and nowhere else: a moment in which the output ran
// dry (a busy machine) is refilled, and frames a render has not written
// yet play as silence, reported by renderBehind.
//
// The play-from point and the loop are the player's own state: a loop is
// kept from one play to the next, and the playhead (position) is what the
// output has played, as the output counts it.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "files/messages.h"
#include "ui/playback/player_link.h"
#include "ui/playback/sink_driver.h"

class QThread;
class QTimer;

namespace vellomar {

class FrameSource;

class Playback : public QObject {
  Q_OBJECT

 public:
  explicit Playback(QObject* parent = nullptr);
  ~Playback() override;

  // Plays the sound file at `path` from `fromMilliseconds`; a sound
  // playing stops first. False, with why in `why` when given, when there
  // is no audio output or the file cannot be read; nothing is shown.
  bool play(const QString& path, qint64 fromMilliseconds = 0, Refusal* why = nullptr);
  // The same for a source, which the player keeps while it plays.
  bool play(std::shared_ptr<FrameSource> source, qint64 fromMilliseconds = 0, Refusal* why = nullptr);
  // While playing: goes on from `milliseconds` (cross-faded).
  void seek(qint64 milliseconds);
  // Loops from `fromMilliseconds` up to `toMilliseconds` whenever playing
  // gets there from inside the range (or before it); to <= from ends
  // looping. Kept for the plays that follow.
  void setLoop(qint64 fromMilliseconds, qint64 toMilliseconds);
  void clearLoop() { setLoop(0, 0); }
  bool looping() const { return loopTo_ > loopFrom_; }
  qint64 loopFrom() const { return loopFrom_; }
  qint64 loopTo() const { return loopTo_; }
  // Fades out and stops; isPlaying() is false at once.
  void stop();

  bool isPlaying() const { return playing_; }
  // Where playing has got to, and the length of the sound, in milliseconds.
  qint64 position() const { return position_; }
  qint64 duration() const { return duration_; }
  // The source playing (or played last).
  const std::shared_ptr<FrameSource>& source() const { return source_; }
  // The audio output's own buffer while playing, in milliseconds.
  qint64 sinkBufferMilliseconds() const;
  // Silence played in this play for frames not rendered yet.
  qint64 missingMilliseconds() const { return missing_; }

  // Sees every buffer handed to the output, from the next play on (for
  // measuring; called on the audio thread).
  void setHandoffObserver(HandoffObserver observer) { observer_ = std::move(observer); }

 signals:
  // The sound has got to `milliseconds`; sent about 30 times a second
  // while playing, and once more at the end.
  void positionChanged(qint64 milliseconds);
  void playingChanged(bool playing);
  // Playing stopped because the sound or the output failed; why, in the
  // program's words.
  void failed(const QString& why);
  // The render has fallen behind the playhead: `milliseconds` of silence
  // played in this play so far in place of sound not rendered yet.
  void renderBehind(qint64 milliseconds);
  void loopChanged();

 private:
  void poll();
  void ended(PlayerOutcome outcome);
  std::int64_t toFrames(qint64 milliseconds) const;
  void runOnAudioThread(const std::function<void()>& work);

  PlayerLink link_;
  QThread* thread_ = nullptr;
  SinkDriver* driver_ = nullptr;
  QTimer* timer_ = nullptr;
  std::shared_ptr<FrameSource> source_;
  HandoffObserver observer_;
  bool playing_ = false;
  qint64 position_ = 0;
  qint64 duration_ = 0;
  qint64 missing_ = 0;
  qint64 loopFrom_ = 0;
  qint64 loopTo_ = 0;
};

}  // namespace vellomar

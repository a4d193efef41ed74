// SPDX-License-Identifier: GPL-3.0-or-later
// Playing a generated wave file through the default audio output, with its
// position for the playhead.
//
// The file is read with the program's own wave reader and streamed to a
// QAudioSink: every play reads the file afresh (a render that replaced it
// is heard, never a cached copy), and playing ends only once the sink has
// played the last sample, not when it has merely been handed over. (Qt's
// own players here either start late, dropping the first tenths of a
// second, or stop with the last ~0.12 s still in the device's buffer.)
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

class QAudioSink;
class QTimer;

namespace vellomar {

class WaveStream;

class Playback : public QObject {
  Q_OBJECT

 public:
  explicit Playback(QObject* parent = nullptr);
  ~Playback() override;

  // Plays the wave file at `path` from its start; a sound playing stops
  // first. Nothing happens (and nothing is shown) when there is no audio
  // output or the file cannot be read.
  void play(const QString& path);
  void stop();

  bool isPlaying() const { return sink_ != nullptr; }
  // Where playing has got to, and the length of the sound, in milliseconds.
  qint64 position() const { return position_; }
  qint64 duration() const { return duration_; }

 signals:
  // The sound has got to `milliseconds`; sent about 30 times a second
  // while playing, and once more at the end.
  void positionChanged(qint64 milliseconds);
  void playingChanged(bool playing);

 private:
  void poll();
  void finish();

  QAudioSink* sink_ = nullptr;
  WaveStream* stream_ = nullptr;
  QTimer* timer_ = nullptr;
  QElapsedTimer clock_;  // since play
  qint64 position_ = 0;
  qint64 duration_ = 0;
};

}  // namespace vellomar

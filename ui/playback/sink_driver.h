// SPDX-License-Identifier: GPL-3.0-or-later
// The audio thread's side of playing: owns the audio output and the play
// cursor, hands the output one buffer whenever it has room for one, and
// works out from the output's own count of frames played which frame of
// the sound is being heard. Lives on the audio thread; the user interface
// thread starts and ends it with blocking calls and otherwise talks to it
// only through the PlayerLink.
#pragma once

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ui/playback/play_cursor.h"
#include "ui/playback/player_link.h"

class QAudioSink;
class QIODevice;
class QTimer;

namespace vellomar {

// Called on the audio thread for each run of frames just handed to the
// audio output: `frames` frames from sound frame `soundFrame`, channels
// interleaved. For measuring; it must be quick.
using HandoffObserver = std::function<void(std::int64_t soundFrame, std::int64_t frames, const float* samples)>;

struct PlayStart {
  std::shared_ptr<FrameSource> source;
  QAudioDevice device;
  std::int64_t fromFrame = 0;
  std::int64_t loopFrom = 0;
  std::int64_t loopTo = 0;  // <= loopFrom: no loop
  HandoffObserver observer;
};

class SinkDriver : public QObject {
  Q_OBJECT

 public:
  explicit SinkDriver(PlayerLink& link);
  ~SinkDriver() override;

  // On the audio thread: ends what plays, then starts `start`. Empty, or
  // why the output cannot play it.
  QString begin(const PlayStart& start);
  // On the audio thread: ends at once, without a fade.
  void end();

  // Set by begin: the frames of one buffer and of the output's own buffer.
  std::int64_t bufferFrames() const { return bufferFrames_; }
  std::int64_t sinkBufferFrames() const { return sinkBufferFrames_; }

 private:
  // Which sound frame each stretch of the output stream carries: the
  // runs handed over lately, merged where they continue each other.
  struct StreamRun {
    std::int64_t streamFrame = 0;
    std::int64_t soundFrame = 0;
    std::int64_t frames = 0;
  };
  void tick();
  void takeCommands();
  bool handOne(std::int64_t frames);
  void write(std::int64_t frames);
  void noteRun(const PlayCursor::Run& run);
  std::int64_t soundFrameAt(std::int64_t streamFrame) const;
  void finish(PlayerOutcome outcome);

  PlayerLink& link_;
  QTimer* timer_ = nullptr;
  QAudioSink* sink_ = nullptr;
  QIODevice* io_ = nullptr;
  std::shared_ptr<FrameSource> source_;
  std::unique_ptr<PlayCursor> cursor_;
  HandoffObserver observer_;
  int channels_ = 1;
  std::uint32_t rate_ = 44100;
  bool floatOutput_ = true;
  int frameBytes_ = 4;
  std::int64_t bufferFrames_ = 0;
  std::int64_t sinkBufferFrames_ = 0;
  std::vector<float> samples_;
  std::vector<char> bytes_;
  std::int64_t handedFrames_ = 0;  // frames of the stream handed over
  std::int64_t lastFrame_ = -1;    // the stream frame after the sound's last, once handed
  bool stopping_ = false;
  std::int64_t stopFrame_ = -1;  // the stream frame after the fade-out
  std::array<StreamRun, 64> runs_ = {};
  int runCount_ = 0;
  std::int64_t heardStream_ = 0;
  QElapsedTimer sinceProgress_;  // since the output last played a frame
  bool lingering_ = false;       // the sound has ended; the output plays silence out
  QElapsedTimer lingerClock_;
  // Outputs stopped lately, deleted once the sound server is done with them.
  struct RetiredSink {
    QAudioSink* sink = nullptr;
    QElapsedTimer since;
  };
  static constexpr qint64 kRetireMilliseconds = 1000;
  std::vector<RetiredSink> retired_;
};

}  // namespace vellomar

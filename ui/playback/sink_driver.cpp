// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/sink_driver.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vellomar {

namespace {

// The audio output's own buffer: what it has been handed and not yet
// played. Shorter is heard sooner; this is still long enough to ride out
// a busy moment of the machine.
constexpr double kSinkBufferSeconds = 0.040;
// One buffer handed over at a time, and the cross-fade of a change.
constexpr double kBufferSeconds = 0.0058;
constexpr double kFadeSeconds = 0.003;
// How often the output is offered a buffer.
constexpr int kTickMilliseconds = 3;
// Less room than this (or a buffer) waits for the next tick.
constexpr std::int64_t kLeastFrames = 32;
// An output that holds sound and plays none of it for this long has
// stopped working: playing is given up.
constexpr qint64 kStallMilliseconds = 2000;
// How long an output plays silence after the sound's end before it goes.
constexpr qint64 kLingerMilliseconds = 150;

}  // namespace

SinkDriver::SinkDriver(PlayerLink& link) : link_(link) {
  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  timer_->setInterval(kTickMilliseconds);
  connect(timer_, &QTimer::timeout, this, &SinkDriver::tick);
}

SinkDriver::~SinkDriver() {
  end();
  // Outputs let go of lately may still hear from the sound server.
  for (const RetiredSink& r : retired_) {
    const qint64 left = kRetireMilliseconds - r.since.elapsed();
    if (left > 0) QThread::msleep(static_cast<unsigned long>(left));
    delete r.sink;
  }
}

QString SinkDriver::begin(const PlayStart& start) {
  end();
  // Commands meant for what played before are void.
  PlayerCommand stale;
  while (link_.commands.pop(stale)) {
  }
  source_ = start.source;
  channels_ = source_->channels();
  rate_ = source_->sampleRate();
  QAudioFormat format;
  format.setSampleRate(static_cast<int>(rate_));
  format.setChannelCount(channels_);
  format.setSampleFormat(QAudioFormat::Float);
  floatOutput_ = start.device.isFormatSupported(format);
  if (!floatOutput_) format.setSampleFormat(QAudioFormat::Int16);

  bufferFrames_ = std::max<std::int64_t>(64, std::llround(rate_ * kBufferSeconds));
  const std::int64_t fade = std::max<std::int64_t>(1, std::llround(rate_ * kFadeSeconds));
  cursor_ = std::make_unique<PlayCursor>(*source_, bufferFrames_, fade);
  cursor_->setLoop(start.loopFrom, start.loopTo);
  cursor_->start(start.fromFrame);
  samples_.assign(static_cast<std::size_t>(bufferFrames_ * channels_), 0.0f);
  bytes_.assign(static_cast<std::size_t>(bufferFrames_ * format.bytesPerFrame()), 0);
  observer_ = start.observer;

  sink_ = new QAudioSink(start.device, format, this);
  sink_->setBufferSize(static_cast<qsizetype>(std::llround(rate_ * kSinkBufferSeconds)) * format.bytesPerFrame());
  io_ = sink_->start();
  if (io_ == nullptr || sink_->error() != QAudio::NoError) {
    end();
    return QStringLiteral("The audio output cannot play the sound.");
  }
  frameBytes_ = format.bytesPerFrame();
  sinkBufferFrames_ = sink_->bufferSize() / frameBytes_;
  handedFrames_ = 0;
  lastFrame_ = -1;
  stopping_ = false;
  stopFrame_ = -1;
  runCount_ = 0;
  heardStream_ = 0;
  link_.heardFrame.store(cursor_->next(), std::memory_order_relaxed);
  link_.missingFrames.store(0, std::memory_order_relaxed);
  link_.outcome.store(static_cast<int>(PlayerOutcome::Playing), std::memory_order_release);
  sinceProgress_.start();
  tick();
  if (sink_) timer_->start();
  return QString();
}

void SinkDriver::end() {
  timer_->stop();
  if (sink_) {
    sink_->stop();
    // Not deleted yet: the sound server may still answer a request the
    // output made before it stopped (Qt 6.4 sends it the output's address),
    // and the answer must find it alive.
    sink_->disconnect(this);
    retired_.push_back(RetiredSink{sink_, QElapsedTimer()});
    retired_.back().since.start();
    sink_ = nullptr;
    io_ = nullptr;
  }
  cursor_.reset();
  source_.reset();
  observer_ = nullptr;
  lingering_ = false;
  std::erase_if(retired_, [](const RetiredSink& r) {
    if (r.since.elapsed() < kRetireMilliseconds) return false;
    delete r.sink;
    return true;
  });
}

void SinkDriver::finish(PlayerOutcome outcome) {
  if (outcome == PlayerOutcome::Ended) {
    // The output's count of frames played runs a little ahead of what is
    // heard after it ran dry: it is given silence a while longer, so that
    // the last frames are heard before it goes.
    lingering_ = true;
    lingerClock_.start();
  } else {
    end();
  }
  link_.outcome.store(static_cast<int>(outcome), std::memory_order_release);
}

void SinkDriver::takeCommands() {
  PlayerCommand command;
  while (link_.commands.pop(command)) {
    switch (command.kind) {
      case PlayerCommand::Kind::Seek:
        if (!stopping_) {
          cursor_->seek(command.from);
          lastFrame_ = -1;  // a sound whose end was handed plays on from there
        }
        break;
      case PlayerCommand::Kind::Loop:
        cursor_->setLoop(command.from, command.to);
        break;
      case PlayerCommand::Kind::Stop:
        stopping_ = true;
        break;
    }
  }
}

void SinkDriver::tick() {
  if (!sink_) return;
  if (lingering_) {
    if (lingerClock_.elapsed() > sinkBufferFrames_ * 1000 / rate_ + kLingerMilliseconds) {
      end();
      return;
    }
  } else {
    takeCommands();
  }
  // An underrun (the output ran dry for a moment) is no failure: the next
  // buffers refill it and playing goes on.
  const QAudio::Error error = sink_->error();
  if (error == QAudio::OpenError || error == QAudio::IOError || error == QAudio::FatalError) {
    finish(PlayerOutcome::OutputFailed);
    return;
  }
  // As much as the output has room for, a buffer at a time: an output
  // that starts only once it is full starts at once.
  bool handed = false;
  for (;;) {
    const std::int64_t room = std::min<std::int64_t>(bufferFrames_, sink_->bytesFree() / frameBytes_);
    const std::int64_t least = stopping_ && stopFrame_ < 0 ? cursor_->fadeFrames() : kLeastFrames;
    if (room < std::min<std::int64_t>(bufferFrames_, least)) break;
    if (!handOne(room)) return;
    handed = true;
  }
  const std::int64_t heard =
      std::min<std::int64_t>(handedFrames_, sink_->processedUSecs() * static_cast<std::int64_t>(rate_) / 1000000);
  // The output makes progress while it plays or takes more.
  if (heard > heardStream_ || handed) sinceProgress_.restart();
  heardStream_ = std::max(heardStream_, heard);
  if (!stopping_) link_.heardFrame.store(soundFrameAt(heardStream_), std::memory_order_relaxed);
  link_.missingFrames.store(cursor_->missingFrames(), std::memory_order_relaxed);

  if (lingering_) return;
  if ((lastFrame_ >= 0 && heardStream_ >= lastFrame_) || (stopping_ && stopFrame_ >= 0 && heardStream_ >= stopFrame_)) {
    finish(PlayerOutcome::Ended);
  } else if (sinceProgress_.elapsed() > kStallMilliseconds) {
    end();
    link_.outcome.store(static_cast<int>(PlayerOutcome::Ended), std::memory_order_release);
  }
}

bool SinkDriver::handOne(std::int64_t frames) {
  float* out = samples_.data();
  std::int64_t filled = 0;
  bool fromSound = false;
  if (stopping_ && stopFrame_ < 0) {
    // From where playing is to silence, then nothing more.
    cursor_->fadeOut(out);
    filled = cursor_->fadeFrames();
    stopFrame_ = lastFrame_ >= 0 ? lastFrame_ : handedFrames_ + filled;
  } else if (!stopping_ && lastFrame_ < 0) {
    if (!cursor_->fill(out, frames, filled)) {
      finish(PlayerOutcome::SourceFailed);
      return false;
    }
    fromSound = true;
    for (int i = 0; i < cursor_->runCount(); ++i) noteRun(cursor_->run(i));
    // Past the sound's end the output is given silence, so that it plays
    // the last frames out rather than waiting for more.
    if (filled < frames) lastFrame_ = handedFrames_ + filled;
  }
  filled = std::min(filled, frames);
  std::fill(out + filled * channels_, out + frames * channels_, 0.0f);
  write(frames);
  if (observer_ && fromSound) {
    for (int i = 0; i < cursor_->runCount(); ++i) {
      const PlayCursor::Run& r = cursor_->run(i);
      observer_(r.soundFrame, r.frames, out + r.offset * channels_);
    }
  }
  handedFrames_ += frames;
  return true;
}

void SinkDriver::write(std::int64_t frames) {
  const std::size_t samples = static_cast<std::size_t>(frames * channels_);
  if (floatOutput_) {
    std::memcpy(bytes_.data(), samples_.data(), samples * sizeof(float));
  } else {
    auto* to = reinterpret_cast<std::int16_t*>(bytes_.data());
    for (std::size_t i = 0; i < samples; ++i) {
      const float v = std::clamp(samples_[i], -1.0f, 1.0f) * 32767.0f;
      to[i] = static_cast<std::int16_t>(std::lrint(v));
    }
  }
  io_->write(bytes_.data(), static_cast<qint64>(frames * frameBytes_));
}

void SinkDriver::noteRun(const PlayCursor::Run& run) {
  const std::int64_t streamFrame = handedFrames_ + run.offset;
  if (runCount_ > 0) {
    StreamRun& last = runs_[static_cast<std::size_t>(runCount_ - 1)];
    if (last.streamFrame + last.frames == streamFrame && last.soundFrame + last.frames == run.soundFrame) {
      last.frames += run.frames;
      return;
    }
  }
  // Runs already heard are let go, keeping the one being heard.
  int drop = 0;
  while (drop + 1 < runCount_ && runs_[static_cast<std::size_t>(drop + 1)].streamFrame <= heardStream_) ++drop;
  if (runCount_ - drop == static_cast<int>(runs_.size())) ++drop;
  std::copy(runs_.begin() + drop, runs_.begin() + runCount_, runs_.begin());
  runCount_ -= drop;
  runs_[static_cast<std::size_t>(runCount_++)] = StreamRun{streamFrame, run.soundFrame, run.frames};
}

std::int64_t SinkDriver::soundFrameAt(std::int64_t streamFrame) const {
  for (int i = runCount_; i-- > 0;) {
    const StreamRun& r = runs_[static_cast<std::size_t>(i)];
    if (r.streamFrame <= streamFrame) return r.soundFrame + std::min(streamFrame - r.streamFrame, r.frames);
  }
  return runCount_ > 0 ? runs_[0].soundFrame : link_.heardFrame.load(std::memory_order_relaxed);
}

}  // namespace vellomar

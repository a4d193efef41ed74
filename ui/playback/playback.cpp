// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/playback.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "ui/playback/file_frame_source.h"
#include "ui/common/file_names.h"

namespace vellomar {

namespace {

constexpr int kPollMilliseconds = 30;

}  // namespace

Playback::Playback(QObject* parent) : QObject(parent) {
  timer_ = new QTimer(this);
  timer_->setInterval(kPollMilliseconds);
  connect(timer_, &QTimer::timeout, this, &Playback::poll);
}

Playback::~Playback() {
  if (!thread_) return;
  runOnAudioThread([this] { driver_->end(); });
  thread_->quit();
  thread_->wait();
  delete driver_;
}

void Playback::runOnAudioThread(const std::function<void()>& work) {
  if (!thread_) {
    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("audio"));
    driver_ = new SinkDriver(link_);
    driver_->moveToThread(thread_);
    thread_->start(QThread::TimeCriticalPriority);
  }
  QMetaObject::invokeMethod(driver_, work, Qt::BlockingQueuedConnection);
}

std::int64_t Playback::toFrames(qint64 milliseconds) const {
  if (!source_) return 0;
  return std::clamp<std::int64_t>(milliseconds * static_cast<std::int64_t>(source_->sampleRate()) / 1000, 0,
                                  source_->frameCount());
}

bool Playback::play(const QString& path, qint64 fromMilliseconds, Refusal* why) {
  Refusal refusal;
  std::unique_ptr<FileFrameSource> file = FileFrameSource::open(pathFromQt(path), refusal);
  if (!file) {
    stop();
    if (why) *why = refusal;
    return false;
  }
  return play(std::shared_ptr<FrameSource>(std::move(file)), fromMilliseconds, why);
}

bool Playback::play(std::shared_ptr<FrameSource> source, qint64 fromMilliseconds, Refusal* why) {
  const bool wasPlaying = playing_;
  playing_ = false;
  timer_->stop();
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  QString failure;
  if (device.isNull()) {
    failure = QStringLiteral("There is no audio output to play the sound on.");
  } else {
    source_ = std::move(source);
    duration_ = static_cast<qint64>(source_->frameCount() * 1000 / source_->sampleRate());
    PlayStart start;
    start.source = source_;
    start.device = device;
    start.fromFrame = toFrames(fromMilliseconds);
    start.loopFrom = toFrames(loopFrom_);
    start.loopTo = toFrames(loopTo_);
    start.observer = observer_;
    runOnAudioThread([&] { failure = driver_->begin(start); });
  }
  if (!failure.isEmpty()) {
    if (why) *why = errorRefusal("%s", failure.toUtf8().constData());
    if (wasPlaying) emit playingChanged(false);
    return false;
  }
  playing_ = true;
  position_ = fromMilliseconds > 0 ? std::min(fromMilliseconds, duration_) : 0;
  missing_ = 0;
  timer_->start();
  if (!wasPlaying) emit playingChanged(true);
  emit positionChanged(position_);
  return true;
}

void Playback::seek(qint64 milliseconds) {
  if (!playing_) return;
  link_.commands.push(PlayerCommand{PlayerCommand::Kind::Seek, toFrames(milliseconds), 0});
}

void Playback::setLoop(qint64 fromMilliseconds, qint64 toMilliseconds) {
  if (toMilliseconds <= fromMilliseconds) fromMilliseconds = toMilliseconds = 0;
  if (fromMilliseconds == loopFrom_ && toMilliseconds == loopTo_) return;
  loopFrom_ = fromMilliseconds;
  loopTo_ = toMilliseconds;
  if (playing_) {
    link_.commands.push(PlayerCommand{PlayerCommand::Kind::Loop, toFrames(loopFrom_), toFrames(loopTo_)});
  }
  emit loopChanged();
}

void Playback::stop() {
  if (!playing_) return;
  // The audio thread fades out and lets the output go by itself.
  link_.commands.push(PlayerCommand{PlayerCommand::Kind::Stop, 0, 0});
  playing_ = false;
  timer_->stop();
  emit playingChanged(false);
}

qint64 Playback::sinkBufferMilliseconds() const {
  if (!driver_ || !source_) return 0;
  return driver_->sinkBufferFrames() * 1000 / source_->sampleRate();
}

void Playback::poll() {
  if (!playing_) return;
  const auto outcome = static_cast<PlayerOutcome>(link_.outcome.load(std::memory_order_acquire));
  const std::int64_t rate = source_->sampleRate();
  const qint64 missing = link_.missingFrames.load(std::memory_order_relaxed) * 1000 / rate;
  if (missing > missing_) {
    missing_ = missing;
    emit renderBehind(missing_);
  }
  if (outcome != PlayerOutcome::Playing) {
    ended(outcome);
    return;
  }
  position_ = std::min<qint64>(duration_, link_.heardFrame.load(std::memory_order_relaxed) * 1000 / rate);
  emit positionChanged(position_);
}

void Playback::ended(PlayerOutcome outcome) {
  playing_ = false;
  timer_->stop();
  if (outcome == PlayerOutcome::Ended) {
    position_ = duration_;
    emit positionChanged(position_);
  } else {
    std::string why = outcome == PlayerOutcome::SourceFailed ? source_->failure() : std::string();
    if (why.empty()) why = "The audio output stopped working.";
    emit failed(QString::fromStdString(why));
  }
  emit playingChanged(false);
}

}  // namespace vellomar

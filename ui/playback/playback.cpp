// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/playback.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QFile>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "files/messages.h"
#include "files/wav.h"
#include "ui/common/file_names.h"

namespace vellomar {

namespace {

constexpr std::uint32_t kRate = 44100;
// Silence after the last sample, longer than any device buffer, so that
// the sink runs dry only once the sound itself has been played.
constexpr qint64 kTailBytes = 2 * kRate / 2;
constexpr int kPollMilliseconds = 30;
// A device that never reports its progress is given up this long after
// the sound should have ended.
constexpr qint64 kGraceMilliseconds = 3000;

}  // namespace

// The samples of an open wave stream as 16-bit bytes, its channels
// interleaved as in the file, then the tail of silence. Owns the stream.
class WaveStream : public QIODevice {
 public:
  WaveStream(std::FILE* file, const WaveInfo& info, QObject* parent)
      : QIODevice(parent), file_(file), eightBit_(info.bitsPerSample == 8),
        remaining_(static_cast<qint64>(info.sampleCount) * info.channels),
        tail_(kTailBytes * info.channels), frameBytes_(2 * static_cast<qint64>(info.channels)) {
    open(QIODevice::ReadOnly);
  }
  ~WaveStream() override {
    if (file_) std::fclose(file_);
  }

  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return 2 * remaining_ + tail_ + QIODevice::bytesAvailable(); }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    qint64 written = 0;
    if (remaining_ > 0 && file_) {
      const qint64 samples = std::min(remaining_, maxSize / 2);
      std::size_t got = 0;
      if (eightBit_) {
        // Widened in place, back to front: each byte becomes two.
        got = std::fread(data, 1, static_cast<std::size_t>(samples), file_);
        for (std::size_t i = got; i-- > 0;) {
          const auto v = static_cast<std::int16_t>((static_cast<int>(static_cast<unsigned char>(data[i])) - 128) * 256);
          data[2 * i] = static_cast<char>(v & 0xFF);
          data[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
        }
      } else {
        got = std::fread(data, 2, static_cast<std::size_t>(samples), file_);
      }
      // A file shorter than its header says ends where its data does.
      remaining_ = got < static_cast<std::size_t>(samples) ? 0 : remaining_ - static_cast<qint64>(got);
      written = 2 * static_cast<qint64>(got);
    }
    if (remaining_ == 0 && written < maxSize && tail_ > 0) {
      const qint64 room = maxSize - written;
      const qint64 silence = std::min(tail_, room - room % frameBytes_);
      std::fill(data + written, data + written + silence, 0);
      tail_ -= silence;
      written += silence;
    }
    return written;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  std::FILE* file_;
  bool eightBit_;
  qint64 remaining_;  // samples, every channel's counted
  qint64 tail_;
  qint64 frameBytes_;
};

Playback::Playback(QObject* parent) : QObject(parent) {
  timer_ = new QTimer(this);
  timer_->setInterval(kPollMilliseconds);
  connect(timer_, &QTimer::timeout, this, &Playback::poll);
}

Playback::~Playback() {
  // Quietly: nobody listens any more.
  const QSignalBlocker blocker(this);
  stop();
}

void Playback::play(const QString& path) {
  stop();
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return;
  WaveInfo info;
  Refusal refusal;
  // The program's own output: mono, or stereo from a colour picture.
  std::FILE* file = openInputWave(pathFromQt(path), info, kRate, refusal, 2);
  if (!file) return;
  QAudioFormat format;
  format.setSampleRate(static_cast<int>(kRate));
  format.setChannelCount(info.channels);
  format.setSampleFormat(QAudioFormat::Int16);

  stream_ = new WaveStream(file, info, this);
  sink_ = new QAudioSink(device, format, this);
  duration_ = static_cast<qint64>(info.sampleCount) * 1000 / kRate;
  position_ = 0;
  connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
    // Run dry past the tail, or stopped by a failure: either way done.
    if (state == QAudio::IdleState || (state == QAudio::StoppedState && sink_ && sink_->error() != QAudio::NoError)) {
      QTimer::singleShot(0, this, &Playback::finish);
    }
  });
  sink_->start(stream_);
  if (sink_->error() != QAudio::NoError) {
    const QSignalBlocker blocker(this);
    stop();
    return;
  }
  clock_.start();
  timer_->start();
  emit playingChanged(true);
  emit positionChanged(0);
}

void Playback::poll() {
  if (!sink_) return;
  const qint64 played = sink_->processedUSecs() / 1000;
  position_ = std::min(played, duration_);
  emit positionChanged(position_);
  if (played >= duration_ || clock_.elapsed() > duration_ + kGraceMilliseconds) finish();
}

void Playback::finish() {
  if (!sink_) return;
  position_ = duration_;
  emit positionChanged(position_);
  stop();
}

void Playback::stop() {
  timer_->stop();
  if (!sink_) return;
  QAudioSink* sink = sink_;
  WaveStream* stream = stream_;
  sink_ = nullptr;
  stream_ = nullptr;
  sink->disconnect(this);
  sink->stop();
  delete sink;
  delete stream;
  emit playingChanged(false);
}

}  // namespace vellomar

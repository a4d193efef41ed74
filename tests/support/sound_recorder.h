// SPDX-License-Identifier: GPL-3.0-or-later
// Recording what the default audio output plays, from its monitor, with
// parec (PulseAudio's recorder), and the measures the playback tests take
// of it. Header only: the widget tests are one program a file.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vellomar::test {

// A tone of `hz` whose last `endSeconds` are two octaves higher: the end
// of the sound can be told apart from the rest.
inline std::vector<std::int16_t> tone(double seconds, double hz, double endSeconds = 0.0) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * 44100));
  const auto endFrom = static_cast<std::size_t>((seconds - endSeconds) * 44100);
  double phase = 0.0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(phase)));
    phase += 2 * M_PI * (i >= endFrom ? 4 * hz : hz) / 44100.0;
  }
  return samples;
}

// The monitor itself misses about the first 20 ms of a stream (so does
// paplay's).
class Recorder {
 public:
  ~Recorder() {
    if (process_.state() != QProcess::NotRunning) {
      process_.terminate();
      process_.waitForFinished(3000);
    }
  }
  bool start() {
    if (QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty()) return false;
    process_.start(QStringLiteral("parec"), {QStringLiteral("-d"), QStringLiteral("@DEFAULT_MONITOR@"),
                                            QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                                            QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
    if (!process_.waitForStarted(3000)) return false;
    QTest::qWait(400);  // its stream is up
    return process_.state() == QProcess::Running;
  }
  // Stops recording. Seconds from the first to the last sample louder than
  // silence.
  double soundingSeconds() {
    QTest::qWait(300);
    process_.terminate();
    process_.waitForFinished(3000);
    const QByteArray bytes = process_.readAllStandardOutput();
    const auto* data = reinterpret_cast<const std::int16_t*>(bytes.constData());
    samples_.assign(data, data + bytes.size() / 2);
    first_ = last_ = -1;
    for (std::size_t i = 0; i < samples_.size(); ++i) {
      if (std::abs(samples_[i]) > 600) {
        if (first_ < 0) first_ = static_cast<long>(i);
        last_ = static_cast<long>(i);
      }
    }
    return first_ < 0 ? 0.0 : static_cast<double>(last_ - first_ + 1) / 44100.0;
  }
  // After soundingSeconds: how long the sound ends above `hz`, from its
  // zero crossings, in 5 ms steps.
  double endAboveSeconds(double hz) const {
    long end = last_;
    for (; end - kStep >= first_; end -= kStep) {
      if (hertzBefore(end) < hz) break;
    }
    return static_cast<double>(last_ - end) / 44100.0;
  }
  // After soundingSeconds: seconds of sound in it, silences left out (in
  // 5 ms steps): what was played, however the output stuttered.
  double playedSeconds() const {
    long loud = 0;
    for (long end = first_ + kStep; end <= last_; end += kStep) {
      bool any = false;
      for (long i = end - kStep + 1; i <= end && !any; ++i) any = std::abs(samples_[static_cast<std::size_t>(i)]) > 600;
      loud += any;
    }
    return static_cast<double>(loud * kStep) / 44100.0;
  }
  // After soundingSeconds: seconds of sound above `hz` (in 5 ms steps
  // that sound throughout).
  double secondsAbove(double hz) const {
    long steps = 0;
    for (long end = first_ + kStep; end <= last_; end += kStep) steps += hertzBefore(end) > hz;
    return static_cast<double>(steps * kStep) / 44100.0;
  }
  // After soundingSeconds: the longest run of silence between the first
  // and the last loud sample, in seconds.
  double longestSilence() const {
    long longest = 0;
    long run = 0;
    for (long i = first_; i >= 0 && i <= last_; ++i) {
      run = std::abs(samples_[static_cast<std::size_t>(i)]) < 100 ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    return static_cast<double>(longest) / 44100.0;
  }

 private:
  static constexpr long kStep = 220;
  // The frequency in the 5 ms before `end`; 0 when the sound drops out
  // anywhere in them (a stutter of the output, not a tone).
  double hertzBefore(long end) const {
    int quiet = 0;
    for (long i = end - kStep + 1; i <= end; ++i) {
      quiet = std::abs(samples_[static_cast<std::size_t>(i)]) < 100 ? quiet + 1 : 0;
      if (quiet >= 20) return 0.0;
    }
    int crossings = 0;
    for (long i = end - kStep + 1; i <= end; ++i) {
      crossings += (samples_[static_cast<std::size_t>(i - 1)] < 0) != (samples_[static_cast<std::size_t>(i)] < 0);
    }
    return crossings / 2.0 / (kStep / 44100.0);
  }
  QProcess process_;
  std::vector<std::int16_t> samples_;
  long first_ = -1;
  long last_ = -1;
};

}  // namespace vellomar::test

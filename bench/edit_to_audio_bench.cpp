// SPDX-License-Identifier: GPL-3.0-or-later
// Edit to audio: from an edit of one picture row inside the block being
// played to the first changed sample handed to the audio output, for a
// 15-second and a 10-minute sound at the default settings (pink noise,
// Mel, 8192/4, a 512 x 512 picture) with a render session on every core
// and the window's player looping two seconds around the playhead. The
// output's own buffer (what it holds before a handed sample is heard) is
// reported beside it. Needs an audio output (scripts/audio-sink.sh starts
// a null sink).
//
//   bench_edit_to_audio_bench [edits]   (default 20 per length)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/session.h"
#include "engine/settings.h"
#include "ui/playback/live_source.h"
#include "ui/playback/playback.h"

namespace {

using namespace vellomar;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSide = 512;

// A 512 x 512 picture with detail in both directions.
struct Picture {
  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kSide * kSide);
  Picture() {
    for (std::uint32_t y = 0; y < kSide; ++y) {
      for (std::uint32_t x = 0; x < kSide; ++x) {
        const double v = 127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002);
        pixels[y * kSide + x] = static_cast<std::uint8_t>(v);
      }
    }
  }
};

SessionSnapshot snapshotOf(const std::shared_ptr<Picture>& picture, float seconds) {
  SessionSnapshot snapshot;
  snapshot.picture = PictureData{picture->pixels.data(), kSide, kSide, kSide};
  snapshot.pictureKeeper = picture;
  snapshot.frames = noiseSampleCount(44100, seconds);
  return snapshot;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// What the audio thread hands over, compared with the sound before the
// edit: the moment the first sample that differs goes to the output.
struct Watch {
  std::vector<float> before;  // the loop's frames before the edit
  std::int64_t from = 0;      // the loop's first frame
  std::atomic<bool> armed{false};
  std::atomic<std::int64_t> changedAtNs{0};
  std::atomic<std::int64_t> changedFrame{-1};

  void handed(std::int64_t first, std::int64_t n, const float* samples) {
    if (!armed.load(std::memory_order_acquire)) return;
    for (std::int64_t i = 0; i < n; ++i) {
      // The loop's turn cross-fades into its first frames: not an edit.
      const std::int64_t k = first + i - from;
      if (k < 512 || k >= static_cast<std::int64_t>(before.size())) continue;
      if (std::abs(samples[i] - before[static_cast<std::size_t>(k)]) > 1e-6f) {
        changedFrame.store(first + i);
        changedAtNs.store(Clock::now().time_since_epoch().count());
        armed.store(false, std::memory_order_release);
        return;
      }
    }
  }
};

// When the revision published its first block: the changed samples are
// there for the player to take from then on.
struct Published {
  std::atomic<bool> armed{false};
  std::atomic<std::int64_t> atNs{0};
};

struct Result {
  std::vector<double> latencies;
  std::vector<double> published;
  std::int64_t sinkBufferMs = 0;
};

bool measure(float seconds, int edits, Result& result) {
  auto picture = std::make_shared<Picture>();
  ResultCode code = -1;
  Published published;
  SessionOptions options;
  options.blockPublished = [&published](std::int64_t, std::uint32_t) {
    if (published.armed.exchange(false)) published.atNs.store(Clock::now().time_since_epoch().count());
  };
  std::shared_ptr<RenderSession> session = RenderSession::start(snapshotOf(picture, seconds), options, code);
  if (!session) {
    std::fprintf(stderr, "the session failed with result %d\n", code);
    return false;
  }
  session->waitUntilIdle();
  const std::int64_t frames = session->frames();
  auto source = std::make_shared<LiveSource>(nullptr, frames, 1, 44100, 8192);
  source->setSession(session);

  // Two seconds looped from the sound's middle.
  const qint64 loopFrom = static_cast<qint64>(seconds * 500.0f) - 1000;
  const qint64 loopTo = loopFrom + 2000;
  Watch watch;
  watch.from = loopFrom * 44100 / 1000;
  watch.before.resize(static_cast<std::size_t>(2 * 44100));
  Playback playback;
  playback.setHandoffObserver([&watch](std::int64_t first, std::int64_t n, const float* samples) {
    watch.handed(first, n, samples);
  });
  playback.setLoop(loopFrom, loopTo);
  Refusal refusal;
  if (!playback.play(source, loopFrom, &refusal)) {
    std::fprintf(stderr, "%s\n", refusal.text.c_str());
    return false;
  }
  result.sinkBufferMs = playback.sinkBufferMilliseconds();
  QTest::qWait(500);

  for (int i = 0; i < edits; ++i) {
    // Playing somewhere in the loop's first half, away from its turn.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000 && (playback.position() < loopFrom + 100 || playback.position() > loopFrom + 900)) {
      QTest::qWait(5);
    }
    session->read(watch.from, static_cast<std::int64_t>(watch.before.size()), watch.before.data());
    // One row where the output is about to be handed over: the playhead
    // plus the output's buffer, inside the block being played.
    const double at = static_cast<double>(playback.position() + result.sinkBufferMs + 10) / 1000.0;
    const auto row = static_cast<std::uint32_t>(std::min<double>(kSide - 1, at / seconds * kSide));
    auto edited = std::make_shared<Picture>(*picture);
    for (std::uint32_t x = 0; x < kSide; ++x) edited->pixels[(kSide - 1 - row) * kSide + x] ^= 0x55;
    picture = edited;
    watch.armed.store(true, std::memory_order_release);
    published.armed.store(true);
    const auto start = Clock::now();
    session->revise(snapshotOf(picture, seconds), static_cast<std::int32_t>(row), static_cast<std::int32_t>(row));
    waited.restart();
    while (watch.armed.load() && waited.elapsed() < 3000) QTest::qWait(1);
    if (watch.armed.exchange(false)) {
      std::fprintf(stderr, "edit %d (row %u): no change handed over within 3 s\n", i, row);
      continue;
    }
    const double ms = static_cast<double>(watch.changedAtNs.load() - start.time_since_epoch().count()) / 1e6;
    result.latencies.push_back(ms);
    session->waitUntilIdle();
    if (!published.armed.exchange(false)) {
      result.published.push_back(static_cast<double>(published.atNs.load() - start.time_since_epoch().count()) / 1e6);
    }
    QTest::qWait(250);
  }
  playback.stop();
  QTest::qWait(200);
  return !result.latencies.empty();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int edits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  if (QMediaDevices::defaultAudioOutput().isNull()) {
    std::fprintf(stderr, "no audio output: start one (scripts/audio-sink.sh starts a null sink)\n");
    return 1;
  }
  std::printf("edit to audio: pink noise, Mel, N 8192, S 4, 512x512, one row changed inside the block being played\n");
  std::vector<double> all;
  std::int64_t sinkMs = 0;
  for (const float seconds : {15.0f, 600.0f}) {
    Result result;
    if (!measure(seconds, edits, result)) return 1;
    std::sort(result.latencies.begin(), result.latencies.end());
    if (!result.published.empty()) {
      std::printf("%5.0f s sound: edit to first changed block rendered (the player can take it), median %.1f ms\n",
                  seconds, median(result.published));
    }
    std::printf("%5.0f s sound: edit to first changed sample handed over, median %.1f ms (min %.1f, max %.1f, %zu edits)\n",
                seconds, median(result.latencies), result.latencies.front(), result.latencies.back(),
                result.latencies.size());
    all.insert(all.end(), result.latencies.begin(), result.latencies.end());
    sinkMs = std::max(sinkMs, result.sinkBufferMs);
  }
  std::printf("the audio output's own buffer: %lld ms (heard that much after it is handed over)\n",
              static_cast<long long>(sinkMs));
  std::printf("edit-to-audio latency: median %.1f ms\n", median(all));
  return 0;
}

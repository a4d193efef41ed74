// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a recording's picture, live: how long after an edit of a few
// rows the blocks it reaches are rendered again and published to the
// player (the player's own buffer comes on top), and how many frames that
// took; and how long the first fill of the table takes.
//
//   bench_sound_edit_live_bench [seconds [edits]]   (default 60, 20)
//
// The recording is a made-up mono one (harmonics under a slow envelope and
// a little noise), in the temporary folder. Runs on Qt's offscreen platform
// unless another is chosen. Times are wall-clock on a shared machine:
// repeat them.

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "files/edit_sound.h"
#include "files/spool.h"
#include "ui/document/picture_document.h"
#include "ui/editor/sound_edit_live.h"

using namespace vellomar;

namespace {

std::string makeRecording(int seconds) {
  const std::string path = temporaryFolder() + "/vellomar-live-bench.wav";
  const auto frames = static_cast<std::uint32_t>(seconds * 44100);
  std::vector<unsigned char> bytes(44 + frames * 2);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
  };
  std::memcpy(bytes.data(), "RIFF\0\0\0\0WAVEfmt ", 16);
  put32(4, 36 + frames * 2);
  put32(16, 16);
  put32(20, 1 | (1u << 16));
  put32(24, 44100);
  put32(28, 88200);
  put32(32, 2 | (16u << 16));
  std::memcpy(bytes.data() + 36, "data", 4);
  put32(40, frames * 2);
  std::mt19937 random(5);
  std::normal_distribution<double> noise(0.0, 100.0);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double t = i / 44100.0;
    double v = 0.0;
    for (int h = 1; h <= 8; ++h) v += std::sin(2 * M_PI * 180.0 * h * t) / h;
    v = v * 6000.0 * (0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t)) + noise(random);
    const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)));
    bytes[44 + 2 * i] = static_cast<unsigned char>(s & 0xFF);
    bytes[45 + 2 * i] = static_cast<unsigned char>(s >> 8);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return {};
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int edits = argc > 2 ? std::atoi(argv[2]) : 20;
  const std::string path = makeRecording(seconds);
  SoundForEditing sound;
  Refusal refusal;
  if (path.empty() || openSoundForEditing(path, RenderSettings{}, 0, 0, EditControl{}, sound, refusal) != kResultOk) {
    std::fprintf(stderr, "cannot analyse the recording: %s\n", refusal.text.c_str());
    return 1;
  }
  std::remove(path.c_str());
  PictureDocument document;
  document.replace(sound.original, std::string());
  QElapsedTimer clock;
  clock.start();
  SoundEditLive live(document, sound);
  const auto waitFor = [&](std::uint64_t revision) {
    while (!(live.hasRendered() && live.renderedRevision() >= revision)) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return clock.nsecsElapsed() / 1e6;
  };
  const double fill = waitFor(document.revision());
  std::printf("%d s mono recording, %u x %u picture: table filled in %.1f ms\n", seconds, sound.original->width,
              sound.original->height, fill);
  std::vector<double> ms;
  std::int64_t frames = 0;
  document.makeEditable();
  for (int e = 0; e < edits; ++e) {
    PictureBitmap& p = document.editablePicture();
    const std::uint32_t y0 = static_cast<std::uint32_t>((e * 7919u) % (p.height - 4));
    for (std::uint32_t y = y0; y < y0 + 3; ++y) {
      for (std::uint32_t x = 100; x < 300; ++x) {
        const std::size_t at = static_cast<std::size_t>(p.height - 1 - y) * p.stride + x;
        p.pixels[at] = p.red[at] = p.green[at] = p.blue[at] = 0;
      }
    }
    clock.restart();
    document.touch(RowSpans(y0, y0 + 3), PixelRect{100, y0, 300, y0 + 3});
    ms.push_back(waitFor(document.revision()));
    frames += live.lastRenderedFrames();
  }
  std::sort(ms.begin(), ms.end());
  std::printf("edit of 3 rows x 200 columns to its blocks published: median %.1f ms, worst %.1f ms over %d edits; "
              "%.0f frames rendered again per edit (%.2f%% of the recording)\n",
              ms[ms.size() / 2], ms.back(), edits, static_cast<double>(frames) / edits,
              100.0 * static_cast<double>(frames) / edits / static_cast<double>(sound.record.sampleCount));
  return 0;
}

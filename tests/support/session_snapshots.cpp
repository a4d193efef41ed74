// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/session_snapshots.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "engine/render.h"
#include "support/test_support.h"

namespace vellomar::test {

Planes::Planes(std::uint32_t w, std::uint32_t h, std::uint32_t seed) : width(w), height(h) {
  std::mt19937 random(seed);
  const std::size_t size = static_cast<std::size_t>(w) * h;
  grey.resize(size);
  red.resize(size);
  green.resize(size);
  scribble(0, h - 1, random);
}

void Planes::scribble(std::uint32_t first, std::uint32_t last, std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::uint32_t y = first; y <= last && y < height; ++y) {
    for (auto* plane : {&grey, &red, &green}) {
      std::uint8_t* at = row(*plane, y);
      for (std::uint32_t x = 0; x < width; ++x) at[x] = static_cast<std::uint8_t>(byte(random));
    }
  }
}

void SnapshotMaker::useSource(Source source, const std::string& folder) {
  settings.inputSource = source == Source::Pink    ? InputSource::PinkNoise
                         : source == Source::White ? InputSource::WhiteNoise
                         : source == Source::Sine  ? InputSource::SineTones
                                                   : InputSource::WaveFile;
  input.reset();
  if (settings.inputSource != InputSource::WaveFile) return;
  eightBit = source == Source::Wave8;
  const std::vector<std::int16_t> samples = speechLike(frames, 9000.0);
  const std::string path = folder + (eightBit ? "/in8.wav" : "/in16.wav");
  if (eightBit) {
    std::vector<std::uint8_t> data;
    for (std::int16_t v : samples) data.push_back(static_cast<std::uint8_t>((v >> 8) + 128));
    writeFile(path, waveBytes(data, 1, 8, 44100));
  } else {
    writeFile(path, waveBytes(pcm16Bytes(samples), 1, 16, 44100));
  }
  input.reset(std::fopen(path.c_str(), "rb"), [](std::FILE* f) { std::fclose(f); });
  ASSERT_NE(input, nullptr);
}

SessionSnapshot SnapshotMaker::snapshot(const Planes& planes) const {
  auto copy = std::make_shared<Planes>(planes);
  SessionSnapshot s;
  s.settings = settings;
  s.picture.width = copy->width;
  s.picture.stride = copy->width;
  s.picture.height = copy->height;
  s.picture.pixels = copy->grey.data();
  s.picture.red = copy->red.data();
  s.picture.green = copy->green.data();
  s.pictureKeeper = copy;
  s.frames = frames;
  s.noiseState = noiseState;
  s.encoding = encoding;
  if (input) {
    s.input.file = input;
    s.input.offset = 44;
    s.input.eightBit = eightBit;
  }
  return s;
}

std::vector<std::uint8_t> fullRender(const SessionSnapshot& snapshot, const std::string& folder, std::int32_t threads,
                                     RenderLevels* levels) {
  RenderJob job;
  job.settings = snapshot.settings;
  job.picture = snapshot.picture;
  job.sampleCount = snapshot.frames;
  job.noiseState = snapshot.noiseState;
  job.encoding = snapshot.encoding;
  job.threads = threads;
  if (snapshot.input.file) {
    // The render closes its input: a stream of its own on the same file.
    job.input = ::fdopen(::dup(::fileno(snapshot.input.file.get())), "rb");
    job.inputOffset = snapshot.input.offset;
    job.input8Bit = snapshot.input.eightBit;
  }
  const std::string path = folder + "/full.raw";
  job.output = std::fopen(path.c_str(), "wb");
  EXPECT_NE(job.output, nullptr);
  EXPECT_EQ(renderSound(job), kResultOk);
  if (levels) *levels = job.levels;
  return readFile(path);
}

std::vector<std::uint8_t> sessionBytes(const RenderSession& session) {
  std::vector<std::uint8_t> bytes;
  const ResultCode result = session.writeSound([&bytes](const unsigned char* data, std::size_t size) {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  });
  EXPECT_EQ(result, kResultOk);
  return bytes;
}

}  // namespace vellomar::test

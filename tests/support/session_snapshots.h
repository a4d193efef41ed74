// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the render session's tests: editable pictures whose every
// revision is a new set of planes, snapshots over them, and the bytes a
// full render of a snapshot writes.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/session.h"
#include "engine/settings.h"

namespace vellomar::test {

// A picture's brightness, red and green planes (rows bottom-up, as
// PictureData reads them), edited row by row.
struct Planes {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> grey, red, green;

  Planes(std::uint32_t w, std::uint32_t h, std::uint32_t seed);
  // Pixel bytes of row y (0 = top) in each plane.
  std::uint8_t* row(std::vector<std::uint8_t>& plane, std::uint32_t y) {
    return plane.data() + static_cast<std::size_t>(height - 1 - y) * width;
  }
  // New random bytes in rows first ... last of every plane.
  void scribble(std::uint32_t first, std::uint32_t last, std::mt19937& random);
};

enum class Source { Pink, White, Wave16, Wave8, Sine };

struct SnapshotMaker {
  RenderSettings settings;
  std::uint32_t frames = 0;
  std::int32_t noiseState = 987654321;
  SampleEncoding encoding = SampleEncoding::Int16;
  std::shared_ptr<std::FILE> input;  // the wave source's file
  bool eightBit = false;

  // Sets the source, writing a speech-like wave of `frames` samples into
  // `folder` for a wave source.
  void useSource(Source source, const std::string& folder);

  // A snapshot of a copy of `planes` (its own planes, kept alive by it).
  SessionSnapshot snapshot(const Planes& planes) const;
};

// The stored samples (no header) that renderSound writes for `snapshot`
// with `threads` threads, and the levels it reports.
std::vector<std::uint8_t> fullRender(const SessionSnapshot& snapshot, const std::string& folder,
                                     std::int32_t threads = 1, RenderLevels* levels = nullptr);

// The session's stored samples, in order (writeSound).
std::vector<std::uint8_t> sessionBytes(const RenderSession& session);

}  // namespace vellomar::test

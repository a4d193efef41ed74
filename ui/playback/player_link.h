// SPDX-License-Identifier: GPL-3.0-or-later
// What passes between the user interface thread and the audio thread
// while a sound plays, without a lock: commands one way, taken at a buffer
// boundary; the position, the silence played and the outcome the other
// way, as single values.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace vellomar {

struct PlayerCommand {
  enum class Kind { Seek, Loop, Stop };
  Kind kind = Kind::Stop;
  std::int64_t from = 0;  // Seek: the frame; Loop: the range's first frame
  std::int64_t to = 0;    // Loop: the frame after its last (<= from: no loop)
};

// One writer (the user interface thread), one reader (the audio thread).
class PlayerCommandQueue {
 public:
  // False when full: the audio thread has stopped taking commands.
  bool push(const PlayerCommand& command) {
    const std::uint32_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == kCapacity) return false;
    slots_[tail % kCapacity] = command;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }
  bool pop(PlayerCommand& command) {
    const std::uint32_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    command = slots_[head % kCapacity];
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

 private:
  static constexpr std::uint32_t kCapacity = 64;
  std::array<PlayerCommand, kCapacity> slots_ = {};
  std::atomic<std::uint32_t> head_{0};
  std::atomic<std::uint32_t> tail_{0};
};

enum class PlayerOutcome : int {
  Playing = 0,
  Ended,         // played to its end, or stopped
  SourceFailed,  // the source could not be read; it says why
  OutputFailed,  // the audio output failed
};

struct PlayerLink {
  PlayerCommandQueue commands;
  std::atomic<std::int64_t> heardFrame{0};     // the sound frame being heard
  std::atomic<std::int64_t> missingFrames{0};  // silence played for frames not rendered yet
  std::atomic<int> outcome{static_cast<int>(PlayerOutcome::Ended)};
};

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// A render session's revisions against its length: the time from a
// revision of one row (in the block the player plays) to its first changed
// block published and to its end, for a 15-second and a 10-minute sound at
// the default settings (pink noise, Mel, 8192/4, a 512 x 512 picture), on
// every core; and the session's resident memory after each, which should
// not grow with the duration (the blocks live on disk).
//
//   bench_session_bench [revisions]   (default 20)

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/session.h"
#include "engine/settings.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vellomar;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long residentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A 512 x 512 picture with detail in both directions, in planes of its own.
struct Picture {
  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(512 * 512);
  Picture() {
    for (std::uint32_t y = 0; y < 512; ++y) {
      for (std::uint32_t x = 0; x < 512; ++x) {
        const double v = 127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002);
        pixels[y * 512 + x] = static_cast<std::uint8_t>(v);
      }
    }
  }
};

SessionSnapshot snapshotOf(const std::shared_ptr<Picture>& picture, float seconds) {
  SessionSnapshot snapshot;
  snapshot.picture = PictureData{picture->pixels.data(), 512, 512, 512};
  snapshot.pictureKeeper = picture;
  snapshot.frames = noiseSampleCount(44100, seconds);
  return snapshot;
}

struct Timing {
  double firstBlockMs = 0.0;
  double endMs = 0.0;
  std::int64_t blocks = 0;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int measure(float seconds, int revisions) {
  auto picture = std::make_shared<Picture>();
  std::mutex mutex;
  std::condition_variable published;
  Clock::time_point firstBlock;
  bool waiting = false;
  SessionOptions options;
  options.blockPublished = [&](std::int64_t, std::uint32_t) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!waiting) return;
    waiting = false;
    firstBlock = Clock::now();
    published.notify_all();
  };
  ResultCode result = -1;
  const auto started = Clock::now();
  auto session = RenderSession::start(snapshotOf(picture, seconds), options, result);
  if (!session) {
    std::fprintf(stderr, "session failed with result %d\n", result);
    return 1;
  }
  session->waitUntilIdle();
  const double fullMs = msSince(started);

  std::vector<double> firsts, ends;
  std::int64_t blocks = 0;
  for (int i = 0; i < revisions; ++i) {
    // A new picture with one row changed, as an editor hands it over.
    auto edited = std::make_shared<Picture>(*picture);
    const std::uint32_t row = 100 + static_cast<std::uint32_t>(i * 13 % 300);
    for (std::uint32_t x = 0; x < 512; ++x) edited->pixels[(511 - row) * 512 + x] ^= 0x55;
    picture = edited;
    const auto frame = static_cast<std::int64_t>(static_cast<double>(row) / 511.0 * session->frames());
    session->setPlayPosition(frame);
    {
      std::lock_guard<std::mutex> lock(mutex);
      waiting = true;
    }
    const auto start = Clock::now();
    session->revise(snapshotOf(picture, seconds), static_cast<std::int32_t>(row), static_cast<std::int32_t>(row));
    {
      std::unique_lock<std::mutex> lock(mutex);
      published.wait(lock, [&] { return !waiting; });
      firsts.push_back(std::chrono::duration<double, std::milli>(firstBlock - start).count());
    }
    const RenderOutcome outcome = session->waitUntilIdle();
    ends.push_back(msSince(start));
    blocks = outcome.blocksRendered;
    if (outcome.result != kResultOk) return 1;
  }
  // A row of a longer sound spans more blocks: the time per block is what
  // must not grow with the length.
  const double done = median(ends);
  std::printf("%6.0f s sound: full render %.0f ms; one-row revision (median of %d): first block %.2f ms, done %.2f ms "
              "for %lld blocks (%.2f ms a block); resident %ld kB\n",
              seconds, fullMs, revisions, median(firsts), done, static_cast<long long>(blocks),
              done / static_cast<double>(std::max<std::int64_t>(blocks, 1)), residentKb());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int revisions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::printf("render session, pink noise, Mel, N 8192, S 4, 512x512, %d threads\n", availableCores());
  if (measure(2.0f, 1) != 0) return 1;  // warm-up: plans, pages
  const long before = residentKb();
  if (measure(15.0f, revisions) != 0 || measure(600.0f, revisions) != 0) return 1;
  std::printf("resident before the sessions %ld kB\n", before);
  return 0;
}

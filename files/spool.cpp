// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/spool.h"

#include <fcntl.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace vellomar {
namespace {

static_assert(std::endian::native == std::endian::little, "the spool stores the host's floats as little-endian");

// Frames decoded (and resampled) at a time.
constexpr std::size_t kChunkFrames = 16384;

bool requested(const std::atomic<bool>* abort) { return abort && abort->load(std::memory_order_relaxed); }

struct SoxrDeleter {
  void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

// Writes `frames` frames of `channels` floats to the spool, counting them;
// stops taking frames past `maxFrames`.
class SpoolWriter {
 public:
  SpoolWriter(Spool& spool, std::uint64_t maxFrames) : spool_(spool), maxFrames_(maxFrames) {}

  bool write(const float* frames, std::size_t count) {
    if (count == 0 || spool_.tooLong) return true;
    if (spool_.frames + count > maxFrames_) {
      spool_.tooLong = true;
      return true;
    }
    const std::size_t channels = static_cast<std::size_t>(spool_.channels);
    if (std::fwrite(frames, sizeof(float) * channels, count, spool_.stream) != count) return false;
    spool_.frames += count;
    return true;
  }

 private:
  Spool& spool_;
  std::uint64_t maxFrames_;
};

ResultCode spoolFailed(std::string& reason) {
  reason = std::string(std::strerror(errno ? errno : EIO)) + " (in the temporary folder " + temporaryFolder() + ")";
  return kResultWriteFailed;
}

}  // namespace

std::string temporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder && *folder ? folder : "/tmp";
}

int makeUnnamedFile() {
  const std::string folder = temporaryFolder();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string name = folder + "/.vellomar-spool-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

int copyToUnnamedFile(int fd, const std::atomic<bool>* abort, bool& aborted, std::string& reason) {
  aborted = false;
  const int copy = makeUnnamedFile();
  if (copy < 0) {
    reason = std::string(std::strerror(errno)) + " (in the temporary folder " + temporaryFolder() + ")";
    return -1;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    if (requested(abort)) {
      aborted = true;
      ::close(copy);
      return -1;
    }
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = std::strerror(errno);
      ::close(copy);
      return -1;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(copy, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        reason = std::string(std::strerror(put < 0 ? errno : ENOSPC)) + " (in the temporary folder " +
                 temporaryFolder() + ")";
        ::close(copy);
        return -1;
      }
      done += put;
    }
  }
  ::lseek(copy, 0, SEEK_SET);
  return copy;
}

namespace {

// Reports a decode's progress in thousandths, each value once.
class DecodeProgress {
 public:
  DecodeProgress(const std::function<void(int)>& report, sf_count_t frames) : report_(report), frames_(frames) {}
  void at(std::uint64_t read) {
    if (!report_ || frames_ <= 0 || frames_ == SF_COUNT_MAX) return;
    const auto now = static_cast<int>(std::min<std::uint64_t>(999, read * 1000 / static_cast<std::uint64_t>(frames_)));
    if (now == shown_) return;
    shown_ = now;
    report_(now);
  }

 private:
  const std::function<void(int)>& report_;
  sf_count_t frames_;
  int shown_ = -1;
};

ResultCode decodeFrames(SNDFILE* sound, const SF_INFO& info, std::uint32_t rate, std::uint64_t maxFrames,
                        const std::atomic<bool>* abort, Spool& spool, std::string& reason,
                        const std::function<void(int)>& report) {
  if (info.channels < 1 || info.channels > 2 || info.samplerate <= 0) return kResultInternal;
  const auto own = static_cast<std::uint32_t>(info.samplerate);
  if (rate == 0) rate = own;
  const auto channels = static_cast<std::size_t>(info.channels);
  const int fd = makeUnnamedFile();
  if (fd < 0) return spoolFailed(reason);
  spool.stream = ::fdopen(fd, "w+b");
  if (!spool.stream) {
    ::close(fd);
    return spoolFailed(reason);
  }
  spool.channels = info.channels;
  spool.rate = rate;

  Resampler resampler;
  if (own != rate) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    resampler.reset(soxr_create(own, rate, static_cast<unsigned>(channels), &error, &io, &quality, nullptr));
    if (!resampler || error) return kResultNoMemory;
  }
  std::vector<float> in;
  std::vector<float> out;
  // Room for a chunk's output at this ratio (at most 8: a higher one takes
  // a chunk in parts), and what the resampler holds back.
  const double ratio = std::min(8.0, static_cast<double>(rate) / own);
  const std::size_t outFrames = static_cast<std::size_t>(std::ceil(kChunkFrames * ratio)) + 4096;
  try {
    in.resize(kChunkFrames * channels);
    if (resampler) out.resize(outFrames * channels);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  SpoolWriter writer(spool, maxFrames);
  DecodeProgress progress(report, info.frames);
  std::uint64_t read = 0;
  // Resamples `count` input frames (0 with `flush`: what the resampler
  // still holds) into the spool.
  auto resample = [&](const float* frames, std::size_t count, bool flush) -> ResultCode {
    std::size_t offered = 0;
    do {
      std::size_t used = 0;
      std::size_t made = 0;
      const float* at = flush ? nullptr : frames + offered * channels;
      if (soxr_process(resampler.get(), at, count - offered, &used, out.data(), outFrames, &made) != nullptr) {
        return kResultNoMemory;
      }
      offered += used;
      if (!writer.write(out.data(), made)) return kResultWriteFailed;
      if (flush && made == 0) break;
    } while (flush || offered < count);
    return kResultOk;
  };

  for (;;) {
    if (requested(abort)) return kResultAborted;
    const sf_count_t got = sf_readf_float(sound, in.data(), static_cast<sf_count_t>(kChunkFrames));
    if (got < 0) break;
    if (got == 0) {
      // The end, or a decoder that gave up: libsndfile tells which.
      if (sf_error(sound) != SF_ERR_NO_ERROR) {
        reason = sf_strerror(sound);
        return kResultShortRead;
      }
      break;
    }
    const auto count = static_cast<std::size_t>(got);
    read += count;
    progress.at(read);
    if (resampler) {
      const ResultCode result = resample(in.data(), count, false);
      if (result == kResultWriteFailed) return spoolFailed(reason);
      if (result != kResultOk) return result;
    } else if (!writer.write(in.data(), count)) {
      return spoolFailed(reason);
    }
    if (spool.tooLong) break;
  }
  if (resampler && !spool.tooLong) {
    const ResultCode result = resample(nullptr, 0, true);
    if (result == kResultWriteFailed) return spoolFailed(reason);
    if (result != kResultOk) return result;
  }
  if (std::fflush(spool.stream) != 0 || std::ferror(spool.stream) || fseeko(spool.stream, 0, SEEK_SET) != 0) {
    return spoolFailed(reason);
  }
  return kResultOk;
}

}  // namespace

ResultCode decodeToSpool(SNDFILE* sound, const SF_INFO& info, std::uint32_t rate, std::uint64_t maxFrames,
                         const std::atomic<bool>* abort, Spool& spool, std::string& reason,
                         const std::function<void(int)>& progress) {
  spool = Spool{};
  const ResultCode result = decodeFrames(sound, info, rate, maxFrames, abort, spool, reason, progress);
  if (result != kResultOk && spool.stream) {
    std::fclose(spool.stream);
    spool = Spool{};
  }
  return result;
}

}  // namespace vellomar

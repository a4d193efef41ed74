// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/audio_input.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/decoded_input.h"
#include "files/spool.h"

namespace vellomar {
namespace {

// A descriptor closed when the holder goes away, unless released.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

struct SoundFile {
  SNDFILE* sound = nullptr;
  SF_INFO info = {};
  ~SoundFile() {
    if (sound) sf_close(sound);
  }
};

// Opens libsndfile on a copy of `fd` from its start; `reason` says why not.
bool openSound(int fd, SoundFile& file, std::string& reason) {
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    reason = std::strerror(errno);
    return false;
  }
  file.info = SF_INFO{};
  file.sound = sf_open_fd(copy, SFM_READ, &file.info, SF_TRUE);
  if (!file.sound) {
    reason = sf_strerror(nullptr);
    return false;
  }
  return true;
}

const char* depthOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return "8-bit";
    case SF_FORMAT_PCM_16:
      return "16-bit";
    case SF_FORMAT_PCM_24:
      return "24-bit";
    case SF_FORMAT_PCM_32:
      return "32-bit";
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    case SF_FORMAT_VORBIS:
      return "Vorbis";
    case SF_FORMAT_OPUS:
      return "Opus";
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return "MPEG audio";
    default:
      return "compressed";
  }
}

std::string containerOf(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      return "WAV";
    case SF_FORMAT_RF64:
      return "RF64 WAV";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_OGG:
      return "Ogg";
    case SF_FORMAT_MPEG:
      return "MP3";
    case SF_FORMAT_AIFF:
      return "AIFF";
    default: {
      SF_FORMAT_INFO info = {};
      info.format = format & SF_FORMAT_TYPEMASK;
      if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) return info.name;
      return "sound file";
    }
  }
}

std::string channelsText(int channels) {
  if (channels == 1) return "mono";
  if (channels == 2) return "stereo";
  return std::to_string(channels) + " channels";
}

std::string describe(const SF_INFO& info) {
  return std::to_string(info.samplerate) + " Hz, " + depthOf(info.format) + ", " + channelsText(info.channels) + ", " +
         containerOf(info.format);
}

std::string describe(const WaveInfo& info) {
  return std::to_string(info.sampleRate) + " Hz, " + std::to_string(info.bitsPerSample) + "-bit, " +
         channelsText(info.channels) + ", WAV";
}

Refusal withReason(Refusal refusal, const std::string& reason) {
  if (!reason.empty()) refusal.text += "\n" + reason;
  return refusal;
}

Refusal cannotOpen(const std::string& path, const std::string& reason) {
  return withReason(errorRefusal("Cannot open input wave file '%s'", inputName(path).c_str()), reason);
}

// Opens `path` for reading raw bytes: a regular file as it is; standard
// input, a pipe or a device copied into an unnamed file first (so that it
// can be read by position). -1 with the refusal, or with `aborted`.
int openBytes(const std::string& path, const AudioInputRules& rules, Refusal& refusal, bool& aborted,
              bool& streamed) {
  aborted = false;
  streamed = false;
  const bool standard = path == kStandardStream;
  Descriptor fd(standard ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                         : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    refusal = cannotOpen(path, std::strerror(errno));
    return -1;
  }
  struct stat st = {};
  if (::fstat(fd.get(), &st) != 0) {
    refusal = cannotOpen(path, std::strerror(errno));
    return -1;
  }
  if (S_ISDIR(st.st_mode)) {
    refusal = cannotOpen(path, std::strerror(EISDIR));
    return -1;
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (!standard && flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  if (S_ISREG(st.st_mode)) return fd.release();
  streamed = true;
  std::string reason;
  const int copy = copyToUnnamedFile(fd.get(), rules.abort, aborted, reason);
  if (copy < 0 && !aborted) refusal = cannotOpen(path, reason);
  return copy;
}

// The classic reader's part: `file` checked as the program's own format.
// Returns the refusal (empty when accepted), `info` filled on acceptance
// and the stream at the first sample.
Refusal readClassic(std::FILE* file, std::uint32_t rate, int maxChannels, WaveInfo& info) {
  return readWaveHeader(file, info, rate, maxChannels);
}

// Any audio: a classic file that the engine reads as it is. A WAV that came
// through a pipe could not know its length when its header was written
// (writers state the largest size, or a guess): its data ends where the
// stream ended. A file on disk that states more than it holds is damaged,
// and its render fails as the classic reader's does.
bool takeAsItIs(std::FILE* file, int fd, bool streamed, const AudioInputRules& rules, AudioInput& input) {
  WaveInfo info;
  if (readClassic(file, rules.rate, 2, info)) return false;
  struct stat st = {};
  const off_t at = ftello(file);
  if (::fstat(fd, &st) != 0 || at < 0) return false;
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(info.channels) * (info.bitsPerSample / 8);
  const std::uint64_t held = st.st_size > at ? static_cast<std::uint64_t>(st.st_size - at) / frameBytes : 0;
  if (streamed && held < info.sampleCount) info.sampleCount = static_cast<std::uint32_t>(held);
  input.info = info;
  input.description = describe(info);
  return true;
}

bool decodeAnyAudio(const std::string& path, int fd, const AudioInputRules& rules, AudioInput& input,
                    Refusal& refusal, bool& aborted) {
  SoundFile sound;
  std::string reason;
  if (!openSound(fd, sound, reason)) {
    refusal = withReason(errorRefusal("Cannot read input sound file '%s'", inputName(path).c_str()), reason);
    return false;
  }
  input.description = describe(sound.info);
  if (sound.info.channels < 1 || sound.info.channels > 2) {
    refusal = withReason(errorRefusal("Cannot read input sound file '%s'", inputName(path).c_str()),
                         input.description + "; Vellomar reads mono and stereo sound");
    return false;
  }
  Spool spool;
  const ResultCode result =
      decodeToSpool(sound.sound, sound.info, rules.rate, kMaxOutputSamples, rules.abort, spool, reason, rules.progress);
  if (result == kResultAborted) {
    aborted = true;
    return false;
  }
  if (result == kResultOk && spool.tooLong) {
    std::fclose(spool.stream);
    const double hours = static_cast<double>(kMaxOutputSamples) / spool.rate / 3600.0;
    refusal = errorRefusal(
        "The input sound file '%s' is too long: more than %u samples at %u Hz (about %.1f hours) are more than "
        "a render can write.",
        inputName(path).c_str(), static_cast<unsigned>(kMaxOutputSamples), static_cast<unsigned>(spool.rate), hours);
    return false;
  }
  if (result != kResultOk) {
    if (result == kResultShortRead) {
      refusal = withReason(refusalForResult(result), inputName(path) + ": " + reason);
    } else if (result == kResultWriteFailed) {
      refusal = withReason(errorRefusal("Cannot convert input sound file '%s'", inputName(path).c_str()),
                           "Cannot write its samples at " + std::to_string(rules.rate ? rules.rate : sound.info.samplerate) +
                               " Hz: " + reason);
    } else {
      refusal = refusalForResult(result);
    }
    return false;
  }
  input.stream = spool.stream;
  input.spooled = true;
  input.floatSamples = true;
  input.info.sampleCount = static_cast<std::uint32_t>(spool.frames);
  input.info.channels = spool.channels;
  input.info.bitsPerSample = 32;
  input.info.sampleRate = spool.rate;
  return true;
}

// The classic reader's refusal with what the file is and what it needs.
Refusal classicRefusal(const Refusal& refusal, int fd, const std::string& path, const AudioInputRules& rules) {
  SoundFile sound;
  std::string found;
  if (!openSound(fd, sound, found)) return withReason(refusal, inputName(path) + ": " + found);
  std::string needs = inputName(path) + ": " + describe(sound.info) + "; the classic reader needs " +
                      std::to_string(rules.rate) + " Hz, 8 or 16-bit, " +
                      (rules.maxChannels > 1 ? "mono or stereo" : "mono") + " WAV";
  // Any audio takes mono and stereo files alone: no fix to tell for more.
  if (sound.info.channels > 2) {
    needs += "; no reader of Vellomar takes more than two channels";
  } else if (!rules.anyAudioHint.empty()) {
    needs += " \xE2\x80\x94 " + rules.anyAudioHint;
  }
  return withReason(refusal, needs);
}

}  // namespace

std::string inputName(const std::string& path) { return path == kStandardStream ? "standard input" : path; }

bool openAudioInput(const std::string& path, const AudioInputRules& rules, AudioInput& input, Refusal& refusal,
                    bool* aborted) {
  if (rules.keep) return rules.keep->open(path, rules, input, refusal, aborted);
  input = AudioInput{};
  refusal = Refusal{};
  bool stopped = false;
  bool streamed = false;
  if (aborted) *aborted = false;
  Descriptor fd(openBytes(path, rules, refusal, stopped, streamed));
  if (fd.get() < 0) {
    if (aborted) *aborted = stopped;
    return false;
  }
  std::FILE* file = ::fdopen(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0), "rb");
  if (!file) {
    refusal = cannotOpen(path, std::strerror(errno));
    return false;
  }
  input.info.rejected = false;
  if (!rules.anyAudio) {
    const Refusal classic = readClassic(file, rules.rate, rules.maxChannels, input.info);
    if (classic) {
      std::fclose(file);
      // The reasons for a format refusal; not for a file cut short.
      refusal = classicRefusal(classic, fd.get(), path, rules);
      return false;
    }
    input.stream = file;
    input.description = describe(input.info);
    return true;
  }
  if (takeAsItIs(file, fd.get(), streamed, rules, input)) {
    input.stream = file;
    return true;
  }
  std::fclose(file);
  input = AudioInput{};
  if (decodeAnyAudio(path, fd.get(), rules, input, refusal, stopped)) return true;
  if (aborted) *aborted = stopped;
  return false;
}

bool readInPlace(const std::string& path, const AudioInputRules& rules) {
  if (!rules.anyAudio || path == kStandardStream) return false;
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st = {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::FILE* file = ::fdopen(fd.release(), "rb");
  if (!file) return false;
  WaveInfo info;
  const bool classic = !readClassic(file, rules.rate, 2, info);
  std::fclose(file);
  return classic;
}

void giveToJob(AudioInput& input, RenderJob& job) {
  job.input = input.stream;
  job.sampleCount = input.info.sampleCount;
  job.input8Bit = !input.floatSamples && input.info.bitsPerSample == 8;
  job.inputFloat = input.floatSamples;
  job.inputChannels = input.info.channels;
  input.stream = nullptr;
}

void giveToJob(AudioInput& input, AnalysisJob& job) {
  job.input = input.stream;
  job.sampleCount = input.info.sampleCount;
  job.input8Bit = !input.floatSamples && input.info.bitsPerSample == 8;
  job.inputFloat = input.floatSamples;
  job.channels = input.info.channels;
  input.stream = nullptr;
}

WaveProbe probeAudioInput(const std::string& path, const AudioInputRules& rules) {
  WaveProbe probe;
  if (path.empty()) return probe;
  struct stat st = {};
  // Only a regular file is probed: a pipe read here would be gone for the
  // render.
  if (path == kStandardStream || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    AudioInput input;
    if (path != kStandardStream && ::stat(path.c_str(), &st) != 0) {
      probe.refusal = cannotOpen(path, std::strerror(errno));
    } else {
      probe.refusal = cannotOpen(path, S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file");
    }
    return probe;
  }
  if (!rules.anyAudio) {
    AudioInput input;
    if (!openAudioInput(path, rules, input, probe.refusal)) return probe;
    std::fclose(input.stream);
    probe.usable = true;
    probe.durationSeconds = static_cast<float>(input.info.sampleCount) / static_cast<float>(input.info.sampleRate);
    return probe;
  }
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  SoundFile sound;
  std::string reason;
  if (fd.get() < 0) {
    probe.refusal = cannotOpen(path, std::strerror(errno));
    return probe;
  }
  if (!openSound(fd.get(), sound, reason)) {
    probe.refusal = withReason(errorRefusal("Cannot read input sound file '%s'", path.c_str()), reason);
    return probe;
  }
  if (sound.info.channels < 1 || sound.info.channels > 2 || sound.info.samplerate <= 0) {
    probe.refusal = withReason(errorRefusal("Cannot read input sound file '%s'", path.c_str()),
                               describe(sound.info) + "; Vellomar reads mono and stereo sound");
    return probe;
  }
  probe.usable = true;
  probe.durationSeconds = static_cast<float>(static_cast<double>(sound.info.frames) / sound.info.samplerate);
  return probe;
}

}  // namespace vellomar

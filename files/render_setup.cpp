// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/render_setup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/scales.h"
#include "files/wav.h"

namespace vellomar {

const char* scaleName(FrequencyScale scale) {
  switch (scale) {
    case FrequencyScale::Linear:
      return "Linear";
    case FrequencyScale::Logarithmic:
      return "Logarithmic";
    case FrequencyScale::Mel:
      return "Mel";
  }
  return "unknown";
}

std::string bandLimitsText(FrequencyScale scale, const BandLimits& limits) {
  const double width = std::ceil(limits.leastWidthHz * 100.0) / 100.0;
  char text[200];
  std::snprintf(text, sizeof text,
                "%g ... %g Hz on the %s scale, the lowest frequency at least %g Hz below the highest",
                static_cast<double>(limits.lowestHz), static_cast<double>(limits.highestHz), scaleName(scale), width);
  return text;
}

Refusal bandRefusal(const RenderSettings& settings) {
  if (bandFits(settings)) return Refusal{};
  const FrequencyBand band = pictureBand(settings);
  const BandLimits limits = bandLimits(settings.frequencyScale, settings.sampleRate, settings.blockLength);
  return errorRefusal("The frequency band %g ... %g Hz does not suit these settings: it must lie within %s.",
                      static_cast<double>(band.lowHz), static_cast<double>(band.highHz),
                      bandLimitsText(settings.frequencyScale, limits).c_str());
}

const char* outputFileKind(const OutputFormat& format) {
  return isFlac(format.kind) ? "output FLAC file" : "output wave file";
}

namespace {

// Why `path` cannot be created, as the system says it, when it says.
std::string creationReason(const std::string& path, int error) {
  struct stat st = {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  return error != 0 ? std::strerror(error) : std::string();
}

// Opens the stream the render writes: standard output, or the output
// file through its commit path; the header or the sink made.
std::FILE* openOutput(const RenderSettings& settings, const SoundFileOptions& options, int channels,
                      PreparedRender& prepared, Refusal& refusal) {
  const OutputFormat& format = options.output;
  const std::uint64_t frames = prepared.job.sampleCount;
  std::FILE* target = nullptr;
  if (settings.outputPath == kStandardStream) {
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    target = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!target) {
      if (fd >= 0) ::close(fd);
      refusal = errorRefusal("Cannot create %s 'standard output'\n%s", outputFileKind(format), std::strerror(errno));
      return nullptr;
    }
    prepared.toStandardOutput = true;
  } else {
    errno = 0;
    target = prepared.output.openBlank(settings.outputPath, outputFileKind(format), refusal);
    if (!target) {
      // The reason, where the commit path did not give one.
      const std::string reason = creationReason(settings.outputPath, errno);
      if (!reason.empty() && refusal.text.find('\n') == std::string::npos) refusal.text += "\n" + reason;
      return nullptr;
    }
  }
  prepared.job.encoding = encodingFor(format);
  if (!isFlac(format.kind) && format.rate == 44100) {
    // The engine's own bytes, as they are.
    if (writeSoundHeader(target, format.kind, channels, format.rate, frames, refusal)) return target;
    std::fclose(target);
    return nullptr;
  }
  return openSoundSink(target, format, prepared.job.encoding, channels, frames, refusal);
}

}  // namespace

bool prepareRender(const RenderSettings& settings, const PictureData& picture, std::int32_t noiseState,
                   PreparedRender& prepared, Refusal& refusal) {
  return prepareRender(settings, picture, noiseState, SoundFileOptions{}, prepared, refusal);
}

bool prepareRender(const RenderSettings& settings, const PictureData& picture, std::int32_t noiseState,
                   const SoundFileOptions& options, PreparedRender& prepared, Refusal& refusal, bool* aborted) {
  RenderJob& job = prepared.job;
  job = RenderJob{};
  job.settings = settings;
  job.picture = picture;
  job.noiseState = noiseState;
  prepared.toStandardOutput = false;
  prepared.inputDescription.clear();
  if (aborted) *aborted = false;
  // Plans measured on this machine, kept in the user's cache folder; until
  // they are made, estimated ones (fft/fft.h).
  job.plans.planning = FftPlanning::Measured;
  refusal = bandRefusal(settings);
  if (refusal) return false;

  int channels = outputChannels(settings);
  if (settings.inputSource == InputSource::WaveFile) {
    AudioInputRules rules = options.input;
    rules.rate = settings.sampleRate;
    AudioInput input;
    if (!openAudioInput(settings.inputPath, rules, input, refusal, aborted)) return false;
    prepared.inputDescription = input.description;
    giveToJob(input, job);
    channels = outputChannels(settings, job.inputChannels);
    if (job.sampleCount > maxOutputFrames(channels)) {
      refusal = errorRefusal("The sound would be too long for a wave file: %u samples, at most %u.",
                             static_cast<unsigned>(job.sampleCount), static_cast<unsigned>(maxOutputFrames(channels)));
      std::fclose(job.input);
      job.input = nullptr;
      return false;
    }
  } else {
    if (!noiseRenderFits(settings.sampleRate, settings.durationSeconds, channels, refusal)) return false;
    job.sampleCount = noiseSampleCount(settings.sampleRate, settings.durationSeconds);
  }

  job.output = openOutput(settings, options, channels, prepared, refusal);
  if (job.output) return true;
  prepared.output.discard();
  if (job.input) {
    std::fclose(job.input);
    job.input = nullptr;
  }
  return false;
}

ResultCode finishRender(PreparedRender& prepared, ResultCode result, Refusal& refusal) {
  refusal = Refusal{};
  // Streams a render never took (it closes both) are closed here.
  RenderJob& job = prepared.job;
  if (job.input) std::fclose(job.input);
  if (job.output && std::fclose(job.output) != 0 && result == kResultOk) result = kResultWriteFailed;
  job.input = nullptr;
  job.output = nullptr;
  if (result == kResultOk) {
    if (prepared.toStandardOutput) return kResultOk;
    if (prepared.output.commit(refusal)) return kResultOk;
    return kResultWriteFailed;
  }
  prepared.output.discard();
  refusal = refusalForResult(result);
  return result;
}

}  // namespace vellomar

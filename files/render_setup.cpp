#include "files/render_setup.h"

#include <cmath>
#include <cstdio>

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

bool prepareRender(const RenderSettings& settings, const PictureData& picture, std::int32_t noiseState,
                   PreparedRender& prepared, Refusal& refusal) {
  RenderJob& job = prepared.job;
  job = RenderJob{};
  job.settings = settings;
  job.picture = picture;
  job.noiseState = noiseState;
  // Plans measured on this machine, kept in the user's cache folder; until
  // they are made, estimated ones (fft/fft.h).
  job.plans.planning = FftPlanning::Measured;
  refusal = bandRefusal(settings);
  if (refusal) return false;

  const int channels = outputChannels(settings);
  WaveInfo info;
  if (settings.inputSource == InputSource::WaveFile) {
    job.input = openInputWave(settings.inputPath, info, settings.sampleRate, refusal);
    if (!job.input) return false;
    job.input8Bit = info.bitsPerSample == 8;
  } else {
    if (!noiseRenderFits(settings.sampleRate, settings.durationSeconds, channels, refusal)) return false;
    info.sampleCount = noiseSampleCount(settings.sampleRate, settings.durationSeconds);
  }
  info.bitsPerSample = 16;
  info.channels = channels;
  info.sampleRate = settings.sampleRate;
  info.rejected = false;
  job.sampleCount = info.sampleCount;

  job.output = prepared.output.open(settings.outputPath, info, refusal);
  if (job.output) return true;
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
    if (prepared.output.commit(refusal)) return kResultOk;
    return kResultWriteFailed;
  }
  prepared.output.discard();
  refusal = refusalForResult(result);
  return result;
}

}  // namespace vellomar

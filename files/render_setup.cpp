#include "files/render_setup.h"

#include "files/wav.h"

namespace vellomar {

bool prepareRender(const RenderSettings& settings, const PictureData& picture, std::int32_t noiseState,
                   PreparedRender& prepared, Refusal& refusal) {
  RenderJob& job = prepared.job;
  job = RenderJob{};
  job.settings = settings;
  job.picture = picture;
  job.noiseState = noiseState;

  WaveInfo info;
  if (settings.inputSource == InputSource::WaveFile) {
    job.input = openInputWave(settings.inputPath, info, settings.sampleRate, refusal);
    if (!job.input) return false;
    job.input8Bit = info.bitsPerSample == 8;
  } else {
    if (!noiseRenderFits(settings.sampleRate, settings.durationSeconds, refusal)) return false;
    info.sampleCount = noiseSampleCount(settings.sampleRate, settings.durationSeconds);
  }
  info.bitsPerSample = 16;
  info.channels = 1;
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

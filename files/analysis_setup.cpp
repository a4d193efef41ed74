// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/analysis_setup.h"

#include <algorithm>
#include <functional>
#include <new>
#include <string>

#include "engine/design.h"
#include "files/picture_writer.h"

namespace vellomar {

PreparedAnalysis::~PreparedAnalysis() {
  if (job.input) std::fclose(job.input);
}

void defaultAnalysisSize(const RenderSettings& settings, std::uint32_t sampleCount, std::uint32_t& width,
                         std::uint32_t& height) {
  if (width == 0) width = kDefaultAnalysisWidth;
  if (height == 0) {
    const std::uint64_t most = std::max<std::uint64_t>(1, maxLoadablePixels() / width);
    height = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        {defaultAnalysisRows(settings, sampleCount), most, std::uint64_t{kMaxPngSide}}));
  }
}

bool prepareAnalysis(const std::string& path, const RenderSettings& settings, std::uint32_t width,
                     std::uint32_t height, PreparedAnalysis& prepared, Refusal& refusal) {
  return prepareAnalysis(path, settings, width, height, AudioInputRules{}, prepared, refusal);
}

bool prepareAnalysis(const std::string& path, const RenderSettings& settings, std::uint32_t width,
                     std::uint32_t height, const AudioInputRules& rules, PreparedAnalysis& prepared,
                     Refusal& refusal, bool* aborted) {
  AnalysisJob& job = prepared.job;
  if (job.input) std::fclose(job.input);
  job = AnalysisJob{};
  job.settings = settings;
  prepared.picture.reset();
  prepared.wave = WaveInfo{};

  AudioInputRules stereo = rules;
  stereo.maxChannels = 2;
  stereo.rate = settings.sampleRate;
  AudioInput input;
  if (!openAudioInput(path, stereo, input, refusal, aborted)) return false;
  prepared.wave = input.info;
  giveToJob(input, job);

  defaultAnalysisSize(settings, job.sampleCount, width, height);
  if (!resizeAnalysisPicture(prepared, width, height, refusal)) {
    std::fclose(job.input);
    job.input = nullptr;
    return false;
  }
  return true;
}

bool resizeAnalysisPicture(PreparedAnalysis& prepared, std::uint32_t width, std::uint32_t height, Refusal& refusal) {
  AnalysisJob& job = prepared.job;
  // The old bytes go first: a picture of each size need not fit at once.
  prepared.picture.reset();
  job.pixels = nullptr;
  try {
    auto picture = std::make_shared<PictureBitmap>();
    picture->width = width;
    picture->height = height;
    picture->stride = (width + 3) & ~3u;
    picture->pixels.assign(static_cast<std::size_t>(picture->stride) * height, 0);
    if (job.channels == 2) {
      picture->red.assign(picture->pixels.size(), 0);
      picture->green.assign(picture->pixels.size(), 0);
    }
    prepared.picture = std::move(picture);
  } catch (const std::bad_alloc&) {
    refusal = errorRefusal("Not enough memory");
    return false;
  } catch (const std::length_error&) {
    refusal = errorRefusal("Not enough memory");
    return false;
  }
  job.pixels = prepared.picture->pixels.data();
  job.width = prepared.picture->width;
  job.stride = prepared.picture->stride;
  job.height = prepared.picture->height;
  return true;
}

std::string analysisSizeLimits() {
  return "each side from 1 to " + std::to_string(std::min<std::uint32_t>(kMaxPngSide, kMaxPictureSide)) +
         ", at most " + std::to_string(maxLoadablePixels()) + " pixels in all";
}

std::string analysisSizeRefusal(std::uint64_t width, std::uint64_t height, const std::string& size) {
  if (pictureSizeLoadable(width, height)) return std::string();
  return size + " is not a picture size that can be loaded again (" + analysisSizeLimits() + ")";
}

ResultCode analysePrepared(PreparedAnalysis& prepared) {
  AnalysisJob& job = prepared.job;
  PictureBitmap* picture = prepared.picture.get();
  if (!picture) return kResultInternal;
  if (job.channels != 2) {
    job.channel = 0;
    job.pixels = picture->pixels.data();
    return analyseSound(job);
  }
  // Two passes, each reporting half of the way.
  const std::function<void(int)> progress = job.progress;
  ResultCode result = kResultOk;
  for (std::int32_t channel = 0; channel < 2 && result == kResultOk; ++channel) {
    job.channel = channel;
    job.pixels = channel == 0 ? picture->red.data() : picture->green.data();
    if (progress) job.progress = [&progress, channel](int t) { progress((channel * 1000 + t) / 2); };
    result = analyseSound(job);
  }
  job.progress = progress;
  job.pixels = picture->pixels.data();
  if (result != kResultOk) return result;
  for (std::size_t i = 0; i < picture->pixels.size(); ++i) {
    picture->pixels[i] = brightnessOf(picture->red[i], picture->green[i], 0);
  }
  return kResultOk;
}

ResultCode finishAnalysis(PreparedAnalysis& prepared, ResultCode result, Refusal& refusal) {
  if (prepared.job.input) std::fclose(prepared.job.input);
  prepared.job.input = nullptr;
  prepared.job.progress = nullptr;
  refusal = refusalForResult(result);
  return result;
}

}  // namespace vellomar

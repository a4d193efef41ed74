// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/audition.h"

#include <QFile>
#include <cstdio>
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/render.h"
#include "engine/scales.h"
#include "files/render_setup.h"
#include "files/audio_input.h"
#include "files/audio_output.h"
#include "files/wav.h"
#include "ui/document/column_scale.h"

namespace vellomar {

namespace {

std::string local(const QString& path) { return QFile::encodeName(path).toStdString(); }

PictureBitmap cropOf(const PictureBitmap& picture, const PixelRect& r) {
  PictureBitmap crop;
  crop.width = static_cast<std::uint32_t>(r.width());
  crop.height = static_cast<std::uint32_t>(r.height());
  crop.stride = (crop.width + 3u) & ~3u;
  const std::size_t bytes = static_cast<std::size_t>(crop.stride) * crop.height;
  const bool colour = picture.red.size() == picture.pixels.size() && picture.green.size() == picture.pixels.size();
  crop.pixels.assign(bytes, 0);
  if (colour) {
    crop.red.assign(bytes, 0);
    crop.green.assign(bytes, 0);
  }
  for (std::uint32_t y = 0; y < crop.height; ++y) {
    const std::size_t from = offsetOf(picture, r.x0, r.y0 + y);
    const std::size_t to = static_cast<std::size_t>(crop.height - 1 - y) * crop.stride;
    std::copy_n(picture.pixels.data() + from, crop.width, crop.pixels.data() + to);
    if (colour) {
      std::copy_n(picture.red.data() + from, crop.width, crop.red.data() + to);
      std::copy_n(picture.green.data() + from, crop.width, crop.green.data() + to);
    }
  }
  return crop;
}

// Prepares the render of the plan's stretch of its input: the input opened
// as any render opens it, read from the stretch's first frame for as many
// frames as the stretch has, and a 16-bit wave for the output.
bool prepareStretch(const AuditionPlan& plan, const PictureData& crop, std::int32_t noiseState,
                    const AudioInputRules& rules, PreparedRender& prepared, Refusal& refusal) {
  const RenderSettings& settings = plan.settings;
  AudioInputRules withRate = rules;
  withRate.rate = settings.sampleRate;
  AudioInput input;
  if (!openAudioInput(settings.inputPath, withRate, input, refusal)) return false;
  RenderJob& job = prepared.job;
  job = RenderJob{};
  job.settings = settings;
  job.picture = crop;
  job.noiseState = noiseState;
  giveToJob(input, job);
  const std::uint64_t frames = job.sampleCount;
  const std::uint64_t first = std::min<std::uint64_t>(
      frames, static_cast<std::uint64_t>(std::llround(plan.startSeconds * settings.sampleRate)));
  const std::uint64_t count = std::min<std::uint64_t>(
      frames - first, static_cast<std::uint64_t>(std::llround(plan.seconds * settings.sampleRate)) + 1);
  const std::uint64_t frameBytes =
      static_cast<std::uint64_t>(job.inputChannels) * (job.inputFloat ? 4 : job.input8Bit ? 1 : 2);
  const std::int64_t start = job.inputOffset >= 0 ? job.inputOffset : static_cast<std::int64_t>(::ftello(job.input));
  job.inputOffset = start + static_cast<std::int64_t>(first * frameBytes);
  job.sampleCount = static_cast<std::uint32_t>(count);
  const int channels = outputChannels(settings, job.inputChannels);
  std::FILE* out = ::fseeko(job.input, job.inputOffset, SEEK_SET) == 0
                       ? prepared.output.openBlank(settings.outputPath, "output wave file", refusal)
                       : nullptr;
  if (out != nullptr && !writeSoundHeader(out, OutputKind::Wav16, channels, settings.sampleRate, count, refusal)) {
    std::fclose(out);
    out = nullptr;
  }
  if (out == nullptr) {
    if (!refusal) refusal = errorRefusal("The input file '%s' could not be read.", settings.inputPath.c_str());
    std::fclose(job.input);
    job.input = nullptr;
    prepared.output.discard();
    return false;
  }
  job.output = out;
  return true;
}

}  // namespace

bool planAudition(const PictureBitmap& picture, const PixelRect& selection, const RenderSettings& settings,
                  float durationSeconds, AuditionPlan& plan, QString& reason) {
  const PixelRect r = selection.intersected(boundsOf(picture));
  if (r.width() < 2 || r.height() < 2 || picture.height < 2) {
    reason = QStringLiteral("Select at least 2 x 2 pixels to play them.");
    return false;
  }
  if (!(durationSeconds > 0.0f)) {
    reason = QStringLiteral("There is no sound to play: choose a usable input wave file first.");
    return false;
  }
  plan = AuditionPlan{};
  plan.settings = settings;
  // The band: from the first selected column's frequency to the last's.
  const ColumnScale scale(settings, picture.width);
  const auto low = static_cast<float>(scale.frequencyAt(static_cast<double>(r.x0)));
  const auto high = static_cast<float>(scale.frequencyAt(static_cast<double>(r.x1 - 1)));
  plan.settings.bandLowHz = low;
  plan.settings.bandHighHz = high;
  if (!bandFits(plan.settings)) {
    reason = QStringLiteral("The selection spans %1 ... %2 Hz, less than the %3 Hz of one frequency bin at this "
                            "frequency granularity: select more columns to play it.")
                 .arg(low, 0, 'f', 2)
                 .arg(high, 0, 'f', 2)
                 .arg(static_cast<double>(settings.sampleRate) / settings.blockLength, 0, 'f', 2);
    return false;
  }
  // The time: row r sounds at r * T / (H - 1).
  const double perRow = static_cast<double>(durationSeconds) / (picture.height - 1);
  plan.startSeconds = static_cast<double>(r.y0) * perRow;
  plan.seconds = static_cast<double>(r.height() - 1) * perRow;
  if (plan.seconds < kMinDurationSeconds) {
    reason = QStringLiteral("The selection lasts %1 s; select at least %2 s to play it.")
                 .arg(plan.seconds, 0, 'f', 3)
                 .arg(static_cast<double>(kMinDurationSeconds), 0, 'f', 2);
    return false;
  }
  plan.settings.durationSeconds = static_cast<float>(plan.seconds);
  plan.crop = cropOf(picture, r);
  return true;
}

QString renderAudition(AuditionPlan plan, const QString& folder, std::int32_t noiseState, const AudioInputRules& rules,
                       QString& reason) {
  RenderSettings& settings = plan.settings;
  const QString output = folder + QStringLiteral("/selection.wav");
  settings.outputPath = local(output);
  PreparedRender prepared;
  Refusal refusal;
  const PictureData crop = pictureDataOf(plan.crop);
  const bool ready = settings.inputSource == InputSource::WaveFile
                         ? prepareStretch(plan, crop, noiseState, rules, prepared, refusal)
                         : prepareRender(settings, crop, noiseState, prepared, refusal);
  if (!ready) {
    reason = QString::fromStdString(refusal.text);
    return QString();
  }
  ResultCode result = renderSound(prepared.job);
  result = finishRender(prepared, result, refusal);
  if (result != kResultOk) {
    reason = QString::fromStdString(refusal.text);
    return QString();
  }
  return output;
}

}  // namespace vellomar

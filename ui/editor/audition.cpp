#include "ui/editor/audition.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/render.h"
#include "engine/scales.h"
#include "files/render_setup.h"
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

// Copies frames first ... first + count - 1 of the wave at `from` into a
// new wave file at `to`. False with `reason`.
bool cutWave(const std::string& from, const std::string& to, std::uint32_t rate, std::uint64_t first,
             std::uint64_t count, QString& reason) {
  WaveInfo info;
  Refusal refusal;
  std::FILE* in = openInputWave(from, info, rate, refusal);
  if (!in) {
    reason = QString::fromStdString(refusal.text);
    return false;
  }
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(info.channels) * (info.bitsPerSample / 8);
  first = std::min<std::uint64_t>(first, info.sampleCount);
  count = std::min<std::uint64_t>(count, info.sampleCount - first);
  WaveInfo cut = info;
  cut.sampleCount = static_cast<std::uint32_t>(count);
  std::FILE* out = createOutputWave(to, cut, refusal);
  bool ok = out != nullptr && std::fseek(in, static_cast<long>(first * frameBytes), SEEK_CUR) == 0;
  std::vector<char> buffer(1 << 16);
  for (std::uint64_t left = count * frameBytes; ok && left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    ok = std::fread(buffer.data(), 1, n, in) == n && std::fwrite(buffer.data(), 1, n, out) == n;
    left -= n;
  }
  std::fclose(in);
  if (out != nullptr && std::fclose(out) != 0) ok = false;
  if (!ok) reason = refusal ? QString::fromStdString(refusal.text) : QStringLiteral("The input wave file could not be read.");
  return ok;
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

QString renderAudition(AuditionPlan plan, const QString& folder, std::int32_t noiseState, QString& reason) {
  RenderSettings& settings = plan.settings;
  if (settings.inputSource == InputSource::WaveFile) {
    const QString cut = folder + QStringLiteral("/selection-input.wav");
    const auto first = static_cast<std::uint64_t>(std::llround(plan.startSeconds * settings.sampleRate));
    const auto count = static_cast<std::uint64_t>(std::llround(plan.seconds * settings.sampleRate)) + 1;
    if (!cutWave(settings.inputPath, local(cut), settings.sampleRate, first, count, reason)) return QString();
    settings.inputPath = local(cut);
  }
  const QString output = folder + QStringLiteral("/selection.wav");
  settings.outputPath = local(output);
  PreparedRender prepared;
  Refusal refusal;
  if (!prepareRender(settings, pictureDataOf(plan.crop), noiseState, prepared, refusal)) {
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

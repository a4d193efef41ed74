// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/edit_setup.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "engine/positional_read.h"
#include "engine/spectral_edit.h"
#include "files/analysis_setup.h"
#include "files/edit_render.h"
#include "files/output_file.h"
#include "files/picture_writer.h"
#include "files/wav.h"

namespace vellomar {
namespace {

constexpr std::size_t kHashFrames = 65536;

// A sample of the wave in the engine's units (16-bit values; 8-bit ones
// scaled up to them).
inline double sampleAt(const unsigned char* p, bool eightBit) {
  if (eightBit) return (static_cast<double>(p[0]) - 128.0) * 256.0;
  return static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8))));
}

// SHA-256 of the decoded samples, interleaved, each as a little-endian
// 32-bit float of value / 32768: the same for the same sound in any sample
// format that holds it exactly. The stream stands at the first sample and
// is read to the end of the data.
bool hashSamples(std::FILE* stream, const WaveInfo& info, std::string& hex) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const bool eightBit = info.bitsPerSample == 8;
  const std::size_t width = eightBit ? 1 : 2;
  const auto channels = static_cast<std::size_t>(info.channels);
  std::vector<unsigned char> raw(kHashFrames * channels * width);
  std::vector<unsigned char> floats(kHashFrames * channels * 4);
  std::uint64_t left = info.sampleCount;
  while (left > 0) {
    const std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(left, kHashFrames));
    if (std::fread(raw.data(), width * channels, frames, stream) != frames) return false;
    for (std::size_t i = 0; i < frames * channels; ++i) {
      const float v = static_cast<float>(sampleAt(raw.data() + i * width, eightBit) / 32768.0);
      std::uint32_t bits = 0;
      std::memcpy(&bits, &v, 4);
      for (int b = 0; b < 4; ++b) floats[i * 4 + static_cast<std::size_t>(b)] = static_cast<unsigned char>(bits >> (8 * b));
    }
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(floats.data()), static_cast<qsizetype>(frames * channels * 4)));
    left -= frames;
  }
  hex = hash.result().toHex().toStdString();
  return true;
}

// SHA-256 of the picture's planes, rows top first without padding: the
// brightness of a mono picture, the red and then the green of a stereo one.
std::string hashPlanes(const std::uint8_t* const planes[2], std::int32_t channels, std::uint32_t width,
                       std::uint32_t stride, std::uint32_t height) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const std::array<std::uint32_t, 3> header{width, height, static_cast<std::uint32_t>(channels)};
  hash.addData(QByteArrayView(reinterpret_cast<const char*>(header.data()), sizeof header));
  for (std::int32_t c = 0; c < channels; ++c) {
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::uint8_t* row = planes[c] + static_cast<std::size_t>(height - 1 - y) * stride;
      hash.addData(QByteArrayView(reinterpret_cast<const char*>(row), width));
    }
  }
  return hash.result().toHex().toStdString();
}

void planesOf(const PictureBitmap& picture, std::int32_t channels, const std::uint8_t* planes[2]) {
  if (channels == 2 && !picture.red.empty() && !picture.green.empty()) {
    planes[0] = picture.red.data();
    planes[1] = picture.green.data();
  } else {
    planes[0] = picture.pixels.data();
    planes[1] = picture.pixels.data();
  }
}

// Opens the recording and checks its length and channels against the
// record. The stream stands at the first sample.
std::FILE* openRecording(const std::string& path, const EditRecord& record, WaveInfo& info, Refusal& refusal) {
  std::FILE* stream = openInputWave(path, info, record.sampleRate, refusal, 2);
  if (!stream) return nullptr;
  if (info.sampleCount != record.sampleCount || info.channels != record.channels) {
    refusal = errorRefusal(
        "The recording '%s' is not the one the picture was made from: it has %llu samples in %d channels, the "
        "picture was made from %llu samples in %d channels.",
        path.c_str(), static_cast<unsigned long long>(info.sampleCount), info.channels,
        static_cast<unsigned long long>(record.sampleCount), record.channels);
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

}  // namespace

ResultCode analyseForEditing(const std::string& path, const RenderSettings& grid, std::uint32_t width,
                             std::uint32_t height, const EditControl& control,
                             std::shared_ptr<PictureBitmap>& picture, EditRecord& record, Refusal& refusal) {
  const RenderSettings settings = editingSettings(grid);
  PreparedAnalysis prepared;
  if (!prepareAnalysis(path, settings, width, height, prepared, refusal)) return kResultInternal;
  AnalysisJob& job = prepared.job;
  job.abort = control.abort;
  job.threads = control.threads;
  job.progress = control.progress;
  const std::int64_t start = ::ftello(job.input);
  ResultCode result = analysePrepared(prepared);
  std::string hex;
  if (result == kResultOk && (::fseeko(job.input, start, SEEK_SET) != 0 || !hashSamples(job.input, prepared.wave, hex))) {
    result = kResultShortRead;
  }
  result = finishAnalysis(prepared, result, refusal);
  if (result != kResultOk) return result;

  picture = prepared.picture;
  const std::int32_t channels = prepared.wave.channels;
  const std::uint8_t* planes[2] = {nullptr, nullptr};
  planesOf(*picture, channels, planes);
  record = EditRecord{};
  record.program = editProgramName();
  record.scale = settings.frequencyScale;
  record.bandLowHz = settings.bandLowHz;
  record.bandHighHz = settings.bandHighHz;
  record.blockLength = settings.blockLength;
  record.rangeDb = settings.logRangeDb;
  record.referenceDb = settings.masterGainDb;
  record.width = picture->width;
  record.height = picture->height;
  record.sampleCount = prepared.wave.sampleCount;
  record.channels = channels;
  record.sampleRate = settings.sampleRate;
  record.recordingSha256 = hex;
  record.pictureSha256 = hashPlanes(planes, channels, picture->width, picture->stride, picture->height);
  return kResultOk;
}

bool savePictureForEditing(const PictureBitmap& picture, const std::string& path, const EditRecord& record,
                           Refusal& refusal) {
  if (!savePicturePng(picture, path, refusal, kEditRecordKey, formatEditRecord(record))) return false;
  return writeEditSidecar(path, record, refusal);
}

bool loadEditedPicture(const std::string& path, EditedPicture& edited, Refusal& refusal) {
  std::string reason;
  if (readEditRecord(path, edited.record, reason, edited.note) == EditRecordSource::None) {
    refusal = errorRefusal("The picture '%s' cannot be rendered back into its recording: %s. Analyse the recording "
                           "again for editing.",
                           path.c_str(), reason.c_str());
    return false;
  }
  std::string why;
  edited.picture = loadPicture(path, &why);
  if (!edited.picture) {
    refusal = pictureRefusal(path, why);
    return false;
  }
  const PictureBitmap& p = *edited.picture;
  if (p.width != edited.record.width || p.height != edited.record.height) {
    refusal = errorRefusal("The picture '%s' is %u x %u pixels, but it was made %u x %u: a resized or cropped picture "
                           "cannot be rendered back. Paint on the picture at its own size.",
                           path.c_str(), p.width, p.height, edited.record.width, edited.record.height);
    return false;
  }
  return true;
}

std::string levelShiftReport(const std::uint8_t* const original[2], const std::uint8_t* const edited[2],
                             std::int32_t channels, std::uint32_t width, std::uint32_t stride, std::uint32_t height) {
  // counts[v][e]: pixels of original brightness v painted e.
  std::vector<std::uint64_t> counts(256 * 256, 0);
  std::uint64_t total = 0, changed = 0;
  for (std::int32_t c = 0; c < channels; ++c) {
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::size_t row = static_cast<std::size_t>(y) * stride;
      for (std::uint32_t x = 0; x < width; ++x) {
        const int v = original[c][row + x];
        const int e = edited[c][row + x];
        ++counts[static_cast<std::size_t>(v * 256 + e)];
        ++total;
        if (v != e) ++changed;
      }
    }
  }
  if (total == 0 || changed * 2 < total) return {};
  // How many changed pixels follow their brightness's most common change.
  std::uint64_t following = 0;
  int exampleFrom = -1, exampleTo = -1;
  std::uint64_t exampleCount = 0;
  for (int v = 0; v < 256; ++v) {
    std::uint64_t best = 0;
    int to = v;
    for (int e = 0; e < 256; ++e) {
      const std::uint64_t n = counts[static_cast<std::size_t>(v * 256 + e)];
      if (e != v && n > best) {
        best = n;
        to = e;
      }
    }
    following += best;
    if (best > exampleCount) {
      exampleCount = best;
      exampleFrom = v;
      exampleTo = to;
    }
  }
  if (following * 10 < changed * 9) return {};
  char text[400];
  std::snprintf(text, sizeof text,
                "%.0f%% of its pixels differ from the recording's analysis, each by an amount that depends only on "
                "its brightness (such as %d becoming %d): its levels were changed as a whole, as colour management "
                "or a gamma change in an image editor does",
                100.0 * static_cast<double>(changed) / static_cast<double>(total), exampleFrom, exampleTo);
  return text;
}

ResultCode renderEditedPicture(const std::string& recordingPath, const EditedPicture& edited,
                               const std::string& outputPath, bool acceptLevelChange, const EditControl& control,
                               Refusal& refusal) {
  const EditRecord& record = edited.record;
  WaveInfo info;
  std::FILE* input = openRecording(recordingPath, record, info, refusal);
  if (!input) return kResultInternal;
  struct Closer {
    std::FILE*& f;
    ~Closer() {
      if (f) std::fclose(f);
    }
  } closer{input};

  // The recording's own analysis, which the painted picture is compared with.
  const RenderSettings settings = editRecordSettings(record);
  std::shared_ptr<PictureBitmap> analysed;
  EditRecord fresh;
  ResultCode result = analyseForEditing(recordingPath, settings, record.width, record.height,
                                        EditControl{control.abort, nullptr, control.threads}, analysed, fresh, refusal);
  if (result != kResultOk) return result;
  if (fresh.recordingSha256 != record.recordingSha256) {
    refusal = errorRefusal(
        "The recording '%s' is not the one the picture was made from: its samples differ (their SHA-256 is %s, "
        "the picture's record says %s).",
        recordingPath.c_str(), fresh.recordingSha256.c_str(), record.recordingSha256.c_str());
    return kResultInternal;
  }
  if (fresh.pictureSha256 != record.pictureSha256) {
    refusal = errorRefusal("The recording '%s' analyses into another picture than the one the painted picture was "
                           "made from (that was made by %s, this is %s, on the same grid): it cannot be rendered "
                           "back losslessly. Analyse the recording again for editing.",
                           recordingPath.c_str(), record.program.c_str(), editProgramName().c_str());
    return kResultInternal;
  }
  const std::uint8_t* original[2] = {nullptr, nullptr};
  const std::uint8_t* painted[2] = {nullptr, nullptr};
  planesOf(*analysed, record.channels, original);
  planesOf(*edited.picture, record.channels, painted);
  const PictureBitmap& p = *edited.picture;
  if (!acceptLevelChange) {
    const std::string shift = levelShiftReport(original, painted, record.channels, p.width, p.stride, p.height);
    if (!shift.empty()) {
      refusal = errorRefusal("The picture was not rendered: %s. Save it again without colour management or gamma, "
                             "or render it as painted (--accept-level-change).",
                             shift.c_str());
      return kResultInternal;
    }
  }
  return renderEditToWave(input, info, settings, p, original, painted, outputPath, control, refusal);
}

}  // namespace vellomar

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
#include "files/edit_sound.h"
#include "files/output_file.h"
#include "files/picture_writer.h"
#include "files/wav.h"

namespace vellomar {

ResultCode analyseForEditing(const std::string& path, const RenderSettings& grid, std::uint32_t width,
                             std::uint32_t height, const EditControl& control,
                             std::shared_ptr<PictureBitmap>& picture, EditRecord& record, Refusal& refusal) {
  SoundForEditing sound;
  const ResultCode result = openSoundForEditing(path, grid, width, height, control, sound, refusal);
  if (result != kResultOk) return result;
  picture = std::const_pointer_cast<PictureBitmap>(sound.original);
  record = sound.record;
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

namespace {

// Why the open recording is not the one the record was made from; empty
// when its length and channels match.
std::string lengthMismatch(const EditRecording& recording, const EditRecord& record) {
  const WaveInfo& info = recording.info();
  if (info.sampleCount == record.sampleCount && info.channels == record.channels) return {};
  char text[400];
  std::snprintf(text, sizeof text,
                "it has %llu samples in %d channels, the picture was made from %llu samples in %d channels",
                static_cast<unsigned long long>(info.sampleCount), info.channels,
                static_cast<unsigned long long>(record.sampleCount), record.channels);
  return text;
}

// The refusal for a recording that analyses otherwise than the record
// says; nothing when it matches.
Refusal recordMismatch(const std::string& recordingPath, const EditRecord& record, const EditRecord& fresh) {
  if (fresh.recordingSha256 != record.recordingSha256) {
    return errorRefusal(
        "The recording '%s' is not the one the picture was made from: its samples differ (their SHA-256 is %s, "
        "the picture's record says %s).",
        recordingPath.c_str(), fresh.recordingSha256.c_str(), record.recordingSha256.c_str());
  }
  if (fresh.pictureSha256 != record.pictureSha256) {
    return errorRefusal("The recording '%s' analyses into another picture than the one the painted picture was "
                        "made from (that was made by %s, this is %s, on the same grid): it cannot be rendered "
                        "back losslessly. Analyse the recording again for editing.",
                        recordingPath.c_str(), record.program.c_str(), editProgramName().c_str());
  }
  return Refusal{};
}

}  // namespace

ResultCode renderEditedPicture(const std::string& recordingPath, const EditedPicture& edited,
                               const std::string& outputPath, const OutputFormat& format, bool acceptLevelChange,
                               const EditControl& control, Refusal& refusal) {
  const EditRecord& record = edited.record;
  auto recording = std::make_shared<EditRecording>();
  bool aborted = false;
  // At the rate the picture was analysed at: the recording's own, or
  // 44100 Hz for a picture made before recordings were edited at theirs.
  if (!recording->open(recordingPath, record.sampleRate, control.abort, refusal, &aborted)) {
    return aborted ? kResultAborted : kResultInternal;
  }
  if (const std::string wrong = lengthMismatch(*recording, record); !wrong.empty()) {
    refusal = errorRefusal("The recording '%s' is not the one the picture was made from: %s.", recordingPath.c_str(),
                           wrong.c_str());
    return kResultInternal;
  }
  // The recording's own analysis, which the painted picture is compared with.
  SoundForEditing sound;
  ResultCode result = analyseSoundForEditing(std::move(recording), editRecordSettings(record), record.width,
                                             record.height, EditControl{control.abort, nullptr, control.threads},
                                             sound, refusal);
  if (result != kResultOk) return result;
  if (const Refusal wrong = recordMismatch(recordingPath, record, sound.record)) {
    refusal = wrong;
    return kResultInternal;
  }
  const PictureBitmap& p = *edited.picture;
  if (!acceptLevelChange) {
    const std::uint8_t* original[2] = {nullptr, nullptr};
    const std::uint8_t* painted[2] = {nullptr, nullptr};
    editPlanesOf(*sound.original, record.channels, original);
    editPlanesOf(p, record.channels, painted);
    const std::string shift = levelShiftReport(original, painted, record.channels, p.width, p.stride, p.height);
    if (!shift.empty()) {
      refusal = errorRefusal("The picture was not rendered: %s. Save it again without colour management or gamma, "
                             "or render it as painted (--accept-level-change).",
                             shift.c_str());
      return kResultInternal;
    }
  }
  return writeSoundEdit(sound, p, outputPath, format, control, refusal);
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a recording as a picture, shared by the window and the command
// line: the picture for editing with its record, and the render of a
// painted picture back into a sound file, with the checks that keep a
// picture from being rendered against a recording it does not belong to.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "files/audio_output.h"
#include "files/edit_record.h"
#include "files/messages.h"
#include "files/picture.h"

namespace vellomar {

struct EditControl {
  const std::atomic<bool>* abort = nullptr;
  std::function<void(int)> progress;  // thousandths, in order, on the calling thread
  std::int32_t threads = 0;
};

// The picture for editing of the recording at `path` on the grid of
// `grid` (scale, band, block length; 0 sides for the default size), with
// its record. Returns 0 with the picture, 111 when aborted, or another
// result with the refusal.
ResultCode analyseForEditing(const std::string& path, const RenderSettings& grid, std::uint32_t width,
                             std::uint32_t height, const EditControl& control,
                             std::shared_ptr<PictureBitmap>& picture, EditRecord& record, Refusal& refusal);

// Writes the picture as PNG with its record in a text chunk, then the
// record's sidecar beside it. False with the refusal.
bool savePictureForEditing(const PictureBitmap& picture, const std::string& path, const EditRecord& record,
                           Refusal& refusal);

// A painted picture and its record.
struct EditedPicture {
  std::shared_ptr<const PictureBitmap> picture;
  EditRecord record;
  std::string note;  // what was wrong with a sidecar that the text chunk stood in for
};

// Loads a painted picture and finds its record. False with the refusal:
// no record, a picture that does not load, or one of another size than
// the record's (resized or cropped).
bool loadEditedPicture(const std::string& path, EditedPicture& edited, Refusal& refusal);

// Whether the painted planes differ from the original ones in a way that
// only a change of the whole picture's levels makes (colour management, a
// gamma change): most pixels changed, each by an amount that depends only
// on its original brightness. Empty when not; else the report.
std::string levelShiftReport(const std::uint8_t* const original[2], const std::uint8_t* const edited[2],
                             std::int32_t channels, std::uint32_t width, std::uint32_t stride, std::uint32_t height);

// Renders `edited` back against the recording at `recordingPath` (any
// sound file the input reader takes) into `outputPath` in `format`
// (through the safe replacement of OutputFile). Refuses a recording whose
// samples or analysis differ from the record's and, unless
// `acceptLevelChange`, a picture whose levels were shifted as a whole.
// Returns 0, 111 (aborted, nothing left behind) or another result with the
// refusal.
ResultCode renderEditedPicture(const std::string& recordingPath, const EditedPicture& edited,
                               const std::string& outputPath, const OutputFormat& format, bool acceptLevelChange,
                               const EditControl& control, Refusal& refusal);

}  // namespace vellomar

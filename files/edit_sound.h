// SPDX-License-Identifier: GPL-3.0-or-later
// A recording kept open while its picture is edited: read by position from
// any thread, analysed once into the picture for editing, and rendered
// back (whole, into any output format; or a range of it, for the live
// path) against that one analysis.
//
// Any sound file the input reader takes can be edited, at its own rate: a
// classic 8 or 16-bit wave is read where it lies; anything else is decoded
// once into the reader's float spool, which stays open with the recording.
// Outside the edit the samples come back exactly as decoded: a 16-bit
// recording to a 16-bit (or deeper) output, a decoded one to a float or
// 24-bit output (or 16-bit where its samples fit 16 bits).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "engine/spectral_edit.h"
#include "files/audio_output.h"
#include "files/edit_record.h"
#include "files/edit_setup.h"
#include "files/messages.h"
#include "files/picture.h"
#include "files/wav.h"

namespace vellomar {

class EditRecording {
 public:
  EditRecording() = default;
  ~EditRecording();
  EditRecording(const EditRecording&) = delete;
  EditRecording& operator=(const EditRecording&) = delete;

  // Opens the sound file at `path` (mono or stereo, any format the input
  // reader takes) at `rate`: 0 for its own, else resampled to it (as
  // pictures made before recordings were edited at their own rate have
  // it). False with the refusal, or with `aborted` set (and no refusal)
  // when `abort` stopped the decode.
  bool open(const std::string& path, std::uint32_t rate, const std::atomic<bool>* abort, Refusal& refusal,
            bool* aborted = nullptr);

  // Samples [from, from + count) of `channel` in the engine's units (16-bit
  // full scale). Any thread, several at once. Returns 0, 3 or 4 (short).
  ResultCode read(std::int32_t channel, std::uint64_t from, std::size_t count, double* out) const;

  // SHA-256 of the samples as the record keeps it (each sample a
  // little-endian float of value / 32768). False when a read fails.
  bool hash(std::string& hex, const std::atomic<bool>* abort) const;

  const std::string& path() const { return path_; }
  const WaveInfo& info() const { return info_; }
  bool floatSamples() const { return float_; }
  // The file as found, e.g. "48000 Hz, 24-bit, stereo, FLAC".
  const std::string& description() const { return description_; }
  // A stream of its own at the first sample (for an analysis, which closes
  // it); null without memory or descriptors.
  std::FILE* duplicateStream() const;

 private:
  std::string path_;
  std::FILE* stream_ = nullptr;
  int fd_ = -1;
  std::int64_t offset_ = 0;
  WaveInfo info_;
  bool float_ = false;
  std::string description_;
};

// A recording with its picture for editing.
struct SoundForEditing {
  std::shared_ptr<const EditRecording> recording;
  std::shared_ptr<const PictureBitmap> original;  // the analysis, as the record hashes it
  EditRecord record;
  // Parts of the complex spectrum carried elsewhere (a move tool's).
  std::vector<SpectralMove> moves;
};

// Analyses the open `recording` for editing on the grid of `grid` (scale,
// band, block length) at the recording's rate into a width x height
// picture (0 sides: the default size). Returns 0, 111 (aborted) or another
// result with the refusal.
ResultCode analyseSoundForEditing(std::shared_ptr<const EditRecording> recording, const RenderSettings& grid,
                                  std::uint32_t width, std::uint32_t height, const EditControl& control,
                                  SoundForEditing& sound, Refusal& refusal);

// Opens the recording at `path` at its own rate and analyses it as above.
ResultCode openSoundForEditing(const std::string& path, const RenderSettings& grid, std::uint32_t width,
                               std::uint32_t height, const EditControl& control, SoundForEditing& sound,
                               Refusal& refusal);

// The planes of a picture for editing: brightness twice for a mono
// recording, red and green for a stereo one.
void editPlanesOf(const PictureBitmap& picture, std::int32_t channels, const std::uint8_t* planes[2]);

// The job that renders `painted` (the original's size) against the sound:
// settings, planes and the recording's reader filled in, and a writer
// that fails (7) until the caller sets its own (and abort, progress,
// threads). `painted` and the sound's picture must outlive it.
SpectralEditJob soundEditJob(const SoundForEditing& sound, const PictureBitmap& painted);

// Renders `painted` against the sound into `outputPath` in `format`,
// through the safe replacement (nothing under the name until complete).
// At the recording's rate (a format's rate 0 asks for it) the samples no
// edit reaches come back exactly as the format holds them; another rate
// resamples the whole sound.
// Returns 0, 111 (nothing left behind) or another result with the refusal.
ResultCode writeSoundEdit(const SoundForEditing& sound, const PictureBitmap& painted, const std::string& outputPath,
                          OutputFormat format, const EditControl& control, Refusal& refusal);

}  // namespace vellomar

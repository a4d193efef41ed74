// SPDX-License-Identifier: GPL-3.0-or-later
// The record a picture for editing carries so that it can be rendered back
// into its recording: the grid and mapping it was analysed on, the
// program's version, the recording's length and channels, and SHA-256
// hashes of the recording's decoded samples and of the analysis's pixels.
// It travels twice: in the PNG's text chunks and in a small sidecar file
// beside the picture ("PICTURE.png.vellomar-edit"), because image editors
// often drop text chunks.
#pragma once

#include <cstdint>
#include <string>

#include "engine/settings.h"
#include "files/messages.h"

namespace vellomar {

// The PNG text key under which the record is kept.
inline constexpr const char* kEditRecordKey = "Vellomar-Edit";

struct EditRecord {
  std::string program;  // "vellomar 1.0.0"
  FrequencyScale scale = FrequencyScale::Mel;
  float bandLowHz = 0.0f;  // 0: the scale's own end
  float bandHighHz = 0.0f;
  std::int32_t blockLength = 0;
  std::int32_t rangeDb = 0;
  std::int32_t referenceDb = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint64_t sampleCount = 0;
  std::int32_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::string recordingSha256;  // 64 hex digits
  std::string pictureSha256;
};

// The program name and version written into records.
std::string editProgramName();

// The record as text: one "key: value" line each, closed by a line with
// the SHA-256 of the lines before it, so that damage shows.
std::string formatEditRecord(const EditRecord& record);

// Reads a record's text. Empty when it is whole; else what is wrong with it.
std::string parseEditRecord(const std::string& text, EditRecord& record);

// The sidecar file of a picture: its name with ".vellomar-edit" added.
std::string editSidecarPath(const std::string& picturePath);

// Writes the sidecar of `picturePath` (beside it first, then renamed into
// place). False with the refusal.
bool writeEditSidecar(const std::string& picturePath, const EditRecord& record, Refusal& refusal);

// Where the record was found.
enum class EditRecordSource { None, Sidecar, TextChunk };

// Finds the record of the picture at `path`: its sidecar, or, when that is
// missing or damaged, the PNG's text chunk. With neither, Source None and
// `reason` says what is missing (and what is wrong with a damaged sidecar).
// When the sidecar failed but the text chunk served, `note` says why.
EditRecordSource readEditRecord(const std::string& path, EditRecord& record, std::string& reason, std::string& note);

// The settings the record's picture was analysed with.
RenderSettings editRecordSettings(const EditRecord& record);

}  // namespace vellomar

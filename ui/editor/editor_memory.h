// SPDX-License-Identifier: GPL-3.0-or-later
// How big a picture the editor edits on this computer.
//
// Editing a picture takes about kEditorBytesPerPixel bytes a pixel: the
// document's editable colour and brightness planes (4), up to three
// snapshot buffers that renders and the preview read (12), the editor's
// colour view (4), the preview (1) and the spectrogram underneath (4); and
// the undo history's memory (HistoryMemory's budget) besides. The editor's
// budget is half the physical memory. A picture that needs more opens
// read-only, saying why.
#pragma once

#include <QString>
#include <cstdint>

namespace vellomar {

inline constexpr std::uint64_t kEditorBytesPerPixel = 25;

// The editor's memory budget in bytes (half the physical memory, unless a
// test has set another).
std::uint64_t editorMemoryBudget();
void setEditorMemoryBudget(std::uint64_t bytes);  // 0: the default again

// The most pixels the editor edits: what the budget leaves after the
// history's, at kEditorBytesPerPixel a pixel.
std::uint64_t editablePixels();

// Whether a width x height picture can be edited; otherwise `reason`
// says why, in a sentence.
bool editable(std::uint64_t width, std::uint64_t height, QString* reason = nullptr);

// The sides a new picture may have, and the check with its message: each
// side 1 ... kMaxNewSide, and at most editablePixels() in all.
std::uint64_t maxNewSide();
bool newPictureSizeAllowed(std::uint64_t width, std::uint64_t height, QString* reason = nullptr);

}  // namespace vellomar

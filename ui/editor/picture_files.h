// SPDX-License-Identifier: GPL-3.0-or-later
// The document's picture and its file: saving it as a PNG file that keeps
// its colours, and asking before unsaved edits would be lost.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace vellomar {

class PictureDocument;

// Whether `path` names a PNG file (by its extension).
bool isPngPath(const std::string& path);

// Writes the picture to `path` as a PNG file (beside it first, renamed
// into place when complete) and takes it as saved there. Shows why not
// and returns false when it cannot be written.
bool writeDocument(QWidget* owner, PictureDocument& document, const std::string& path);

// File > Save: writes to the picture's own file when that is a PNG file,
// otherwise asks for one as saveDocumentAs does.
bool saveDocument(QWidget* owner, PictureDocument& document);

// File > Save as: asks for a PNG file (proposing the picture's own PNG
// file, else `suggested`), asks before replacing an existing file, and
// writes. False when cancelled or not written.
bool saveDocumentAs(QWidget* owner, PictureDocument& document, const std::string& suggested = std::string());

// Before something replaces or drops the picture: when it has unsaved
// edits, asks Save / Discard / Cancel, `action` saying what is about to
// happen ("Loading another picture"). True when the action may go on:
// nothing unsaved, the edits saved, or discarded.
bool mayDropEdits(QWidget* owner, PictureDocument& document, const QString& action);

}  // namespace vellomar

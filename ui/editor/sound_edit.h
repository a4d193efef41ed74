// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a recording in the picture editor: View > "Edit a sound..."
// analyses a recording for editing (in the background, with progress) on
// the window's scale and band, shows its picture and opens the editor on
// it with the recording attached. While it is attached, the editor's
// File > "Save sound..." renders the painted picture back against the
// recording into any output format, unchanged wherever it was not
// painted, and saving the picture writes the record that lets it be
// rendered back later (vellomar-render --edit), after another image
// editor too.
#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <vector>
#include <string>

#include "files/edit_sound.h"
#include "ui/document/picture_planes.h"

class QUndoCommand;
class QWidget;

namespace vellomar {

class EditorWindow;
class MainWindow;
class PictureDocument;
class SoundEditLive;

// The recording a picture document's picture was analysed from. A child
// of the document ("soundEdit"); it goes when the document takes another
// picture, unless that is a saved picture of this recording's analysis.
class SoundEdit : public QObject {
  Q_OBJECT

 public:
  SoundEdit(PictureDocument& document, SoundForEditing sound);

  // The recording, its analysis and the moves of the spectrum that are in
  // effect now (those of the history's steps that are done).
  SoundForEditing sound() const;
  const EditRecord& record() const { return sound_.record; }
  const std::string& recordingPath() const { return sound_.recording->path(); }
  // The recording's file name, for titles and messages.
  QString recordingName() const;
  // The edited recording as the player hears it, made on first use and
  // following every revision from then on; null when it cannot be made.
  SoundEditLive* live();

  // The step on top of the history moved the pixels of `from` by (dx,
  // dy): the spectrum under them moves with it, for as long as the step
  // is done.
  void selectionMoved(const PixelRect& from, std::int64_t dx, std::int64_t dy);
  std::vector<SpectralMove> activeMoves() const;

 signals:
  // The moves in effect changed (a move made, undone or redone).
  void movesChanged();

 private:
  void documentReplaced();

  PictureDocument& document_;
  SoundForEditing sound_;
  SoundEditLive* live_ = nullptr;
  // The moves by the history's step that made them.
  std::map<const QUndoCommand*, SpectralMove> moves_;
  std::vector<SpectralMove> lastMoves_;
};

// The recording attached to `document`, or null.
SoundEdit* soundEditOf(const PictureDocument& document);

// The grid a recording is analysed on from the window: its scale and band,
// the editing frame length for the recording's rate.
RenderSettings soundEditGrid();

// What the editor's axes and readouts describe: the grid, rate and length
// of the recording attached to `document`; else the window's render.
struct EditorAxes {
  RenderSettings settings;
  float durationSeconds = 0.0f;
};
EditorAxes editorAxes(const PictureDocument& document);

// View > "Edit a sound...": asks for a recording, then editSound.
bool editSoundFile(MainWindow& window);
// Analyses the recording at `path` for editing, shows its picture and
// opens the editor on it. False (after saying why, unless cancelled) when
// it cannot; the window's picture is then the one it had.
bool editSound(MainWindow& window, const std::string& path);

// File > "Save sound...": asks for a sound file (.wav or .flac; the
// Options' format at the depth the name's container has, at the
// recording's own rate), then saveEditedSoundTo.
bool saveEditedSound(QWidget* owner, PictureDocument& document);
// Renders the document's picture against its recording into `path` in
// the window's output format for that name, at the recording's own rate
// (so that what was not painted comes back as it was). Asks before replacing the
// recording itself. False after saying why (or when cancelled).
bool saveEditedSoundTo(QWidget* owner, PictureDocument& document, const std::string& path);

// Writes the document's picture as PNG with its recording's record (text
// chunk and sidecar); false with the refusal.
bool savePictureWithRecord(const SoundEdit& edit, const PictureBitmap& picture, const std::string& path,
                           Refusal& refusal);

// Adds File > "Save sound..." and Play > "Play sound" (the edited
// recording, following the edits as they are made) to the editor, shown
// while its picture has a recording attached.
void installSoundEditActions(EditorWindow& editor);

}  // namespace vellomar

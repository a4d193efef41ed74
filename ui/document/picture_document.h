// SPDX-License-Identifier: GPL-3.0-or-later
// The one picture the whole window works on: the main window's preview,
// the editor and the renders all read it, and nothing keeps a private copy
// that could drift from it.
//
// What it holds: the picture's colours (red, green, blue; the brightness
// bytes always derived from them by the loader's formula), its size, the
// file it came from, a revision number, and whether it has unsaved edits.
//
// Edits are commands on its undo stack (PictureCommand): each applies
// itself, undoes itself, and tells which rows it touched. Every change is
// published as a new revision, with the union of the rows touched since the
// last one: at once for a command, an undo or a redo, and about every
// kRevisionIntervalMs while a drag goes on (a stroke being drawn), so that
// the sound can follow the brush before the stroke is done.
//
// Readers that must not see the picture change under them (a render, the
// player) take a snapshot: an immutable copy in the render's own layout,
// kept alive by its shared pointer however long they hold it. Snapshots
// are cheap: one taken when nothing changed is the same one; otherwise a
// buffer no reader holds any more is brought up to date by copying only
// the rows changed since it was last filled.
#pragma once

#include <QObject>
#include <QRect>
#include <QUndoStack>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/picture.h"
#include "ui/document/history_memory.h"
#include "ui/document/picture_planes.h"
#include "ui/document/row_spans.h"

namespace vellomar {

class PictureCommand;

// How often a drag publishes a revision.
inline constexpr int kRevisionIntervalMs = 30;

class PictureDocument : public QObject {
  Q_OBJECT

 public:
  explicit PictureDocument(QObject* parent = nullptr);
  ~PictureDocument() override;

  bool hasPicture() const { return width() > 0 && height() > 0; }
  std::uint32_t width() const;
  std::uint32_t height() const;
  // The picture as it is now, for reading on this thread (the editor's
  // view, the commands). Null without a picture. Its colour planes may be
  // missing until the picture is made editable.
  const PictureBitmap* picture() const;

  // Makes the picture editable: its own copy with every colour plane (the
  // first edit would make it otherwise). False when there is no picture
  // or no memory for the copy.
  bool makeEditable();
  bool isEditable() const { return current_ != nullptr; }
  // The editable picture, for commands; makeEditable() first.
  PictureBitmap& editablePicture() { return *current_; }

  // The revision last published (0 for a picture just loaded, counting up
  // from there; a new picture counts on from the last).
  std::uint64_t revision() const { return revision_; }
  // Unsaved edits: the undo stack is away from where the picture was
  // loaded or last saved.
  bool isModified() const { return !undo_.isClean(); }
  // The file the picture was loaded from or saved to; empty for none.
  const std::string& filePath() const { return path_; }

  QUndoStack& undoStack() { return undo_; }
  HistoryMemory& history() { return history_; }

  // An immutable copy of the picture as it is now (its brightness, red,
  // green and blue planes in the render's layout); null without a picture.
  std::shared_ptr<const PictureBitmap> snapshot();

  // A new picture in place of the old (a file loaded, a new blank picture,
  // an analysis), from `path` (empty: from no file): the history starts
  // afresh, with nothing unsaved. Null clears.
  void replace(std::shared_ptr<const PictureBitmap> picture, const std::string& path);
  // The picture has been written to `path` as it is now.
  void markSaved(const std::string& path);

  // ---- For commands ----
  // Pixels of the editable picture have changed, within `areas` and on
  // `rows`: views on this thread hear of each area at once (areaChanged);
  // the rows are published at once, or with the next throttled revision
  // while a drag goes on.
  void touch(const RowSpans& rows, const std::vector<PixelRect>& areas);
  void touch(const RowSpans& rows, const PixelRect& area) { touch(rows, std::vector<PixelRect>{area}); }
  // A drag is going on: revisions are throttled until it ends, when the
  // rows still pending are published at once.
  void setDragging(bool dragging);
  bool dragging() const { return dragging_; }
  // Publishes the rows touched since the last revision now, if any.
  void publish();

  // Keeps the history within its memory budget (HistoryMemory::settle).
  // When its file refuses the overflow, the history is cleared after the
  // command running now, and the editor's status line says why.
  void settleHistory();

 signals:
  // A new revision: `rows` are the rows changed since the previous one.
  // Take a snapshot to read them.
  void revised(std::uint64_t revision, const vellomar::RowSpans& rows);
  // The whole picture was replaced (its size may differ); a revision with
  // every row follows.
  void replaced();
  // Pixels within `area` have just changed (unthrottled: for views of the
  // picture on this thread, which redraw them at once).
  void areaChanged(const QRect& area);
  // Whether there are unsaved edits changed.
  void modifiedChanged(bool modified);
  void filePathChanged();
  // A drag began or ended.
  void draggingChanged(bool dragging);
  // The picture has been written to `path` (markSaved).
  void saved(const std::string& path);
  void historyReport(const QString& text);

 private:
  struct Slot;
  std::shared_ptr<const PictureBitmap> handOut(const std::shared_ptr<Slot>& slot);

  // The picture as loaded, shared with whoever gave it (never written), until
  // the first edit makes current_.
  std::shared_ptr<const PictureBitmap> base_;
  std::shared_ptr<PictureBitmap> current_;
  std::string path_;
  HistoryMemory history_;  // outlives the commands on the stack
  QUndoStack undo_;
  std::uint64_t revision_ = 0;
  // Every change counts up `changes_`; blockChange_ holds, for each block
  // of kBlockSide x kBlockSide pixels, the count when it last changed, so a
  // snapshot buffer filled at count c needs the blocks whose count is
  // above c.
  static constexpr std::uint32_t kBlockSide = 64;
  std::uint64_t changes_ = 0;
  std::vector<std::uint64_t> blockChange_;
  std::uint32_t blocksAcross_ = 0;
  std::vector<std::shared_ptr<Slot>> slots_;
  std::weak_ptr<const PictureBitmap> lastSnapshot_;
  std::uint64_t lastSnapshotChanges_ = 0;
  RowSpans pending_;
  bool dragging_ = false;
  QTimer throttle_;
};

}  // namespace vellomar

Q_DECLARE_METATYPE(vellomar::RowSpans)

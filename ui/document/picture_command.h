// SPDX-License-Identifier: GPL-3.0-or-later
// Commands that change the document's picture and undo themselves.
//
// A command keeps, in its TileStore, the other state of every tile it
// changed, and knows the rows it touched; undo and redo exchange those
// tiles with the picture and publish the rows. How the change is made the
// first time is the subclass's: a one-step command (a fill, a paste) makes
// it when the stack first runs it; a drag (a stroke, a shape being pulled
// out) makes it bit by bit while the mouse moves, through the document's
// ongoing command (OngoingCommand), and is pushed once it is done. Either
// way the history holds one step for it.
#pragma once

#include <QString>
#include <QUndoCommand>
#include <functional>
#include <memory>

#include "ui/document/picture_planes.h"
#include "ui/document/row_spans.h"
#include "ui/document/tile_store.h"

namespace vellomar {

class PictureDocument;

class PictureCommand : public QUndoCommand {
 public:
  PictureCommand(PictureDocument& document, const QString& text);
  ~PictureCommand() override;

  void redo() override;
  void undo() override;

  // The rows the command changes.
  const RowSpans& rows() const { return rows_; }
  const TileStore& store() const { return store_; }

  // For a drag: the change has been made already (the next redo, the push,
  // only takes note), and the kept tiles can be packed.
  void finishDrag();

 protected:
  // Makes the change for the first time: keep (store().capture) every tile
  // before writing into it, and report the rect written with changed().
  virtual void apply(PictureBitmap& picture) = 0;

  TileStore& keptTiles() { return store_; }
  PictureDocument& document() { return document_; }
  // The pixels of `rect` have changed: its rows join the command's rows
  // and are published to the document's readers.
  void changed(const PixelRect& rect);
  // The same for `rows`, the pixels within `area`.
  void changed(const RowSpans& rows, const PixelRect& area);

  // Merges a later command's tiles and rows into this one (mergeWith).
  void absorb(PictureCommand& later);

 private:
  void exchange();
  void joinHistory();

  // New: not made yet; Made: made by a drag, not on the stack yet (the
  // push's redo only takes note); Done and Undone: on the stack.
  enum class State { New, Made, Done, Undone };
  PictureDocument& document_;
  TileStore store_;
  RowSpans rows_;
  State state_ = State::New;
  bool inHistory_ = false;
};

// A one-step command whose change is a function of the picture and the
// store: it keeps the tiles it writes and returns the rect it wrote.
using PictureEdit = std::function<PixelRect(PictureBitmap& picture, TileStore& store)>;

class EditCommand : public PictureCommand {
 public:
  EditCommand(PictureDocument& document, const QString& text, PictureEdit edit, int mergeId = -1);
  int id() const override { return mergeId_; }
  // Consecutive commands of one merge id (-1: none) become one step, as a
  // run of nudges of a selection by the arrow keys does.
  bool mergeWith(const QUndoCommand* other) override;

 protected:
  void apply(PictureBitmap& picture) override;

 private:
  PictureEdit edit_;
  int mergeId_;
};

// A drag's command while it is being made. Strokes add to it; shapes
// replace what they drew before (the picture goes back to the state before
// the drag where they had drawn, and they draw anew).
class DragCommand : public PictureCommand {
 public:
  DragCommand(PictureDocument& document, const QString& text);

  // Adds to the change: `edit` keeps what it writes and returns the rect.
  void add(const PictureEdit& edit);
  // Replaces the change made so far with `edit`'s.
  void replace(const PictureEdit& edit);
  // Takes the picture back to the state before the drag (Esc).
  void cancel();
  // The store of kept tiles, for edits that read the state before the drag.
  const TileStore& before() const { return store(); }

 protected:
  void apply(PictureBitmap&) override {}

 private:
  PixelRect drawn_;  // what the edits have written so far
};

// The document's drag in progress: begun on a press, fed on every move,
// and committed (pushed onto the stack as one step) on the release, or
// cancelled. While it lasts the document publishes throttled revisions.
class OngoingCommand {
 public:
  explicit OngoingCommand(PictureDocument& document) : document_(document) {}
  ~OngoingCommand();
  OngoingCommand(const OngoingCommand&) = delete;
  OngoingCommand& operator=(const OngoingCommand&) = delete;

  // Starts a drag command named `text` (ending one still going on first).
  DragCommand& begin(const QString& text);
  bool active() const { return command_ != nullptr; }
  DragCommand* command() const { return command_.get(); }
  // Pushes the drag's command as one step (nothing when it changed nothing).
  void commit();
  // Undoes what the drag did and forgets it.
  void cancel();
  // Forgets the drag without touching the picture: after the document has
  // been given another picture, what the drag kept belongs to the old one.
  void abandon();

 private:
  PictureDocument& document_;
  std::unique_ptr<DragCommand> command_;
};

}  // namespace vellomar

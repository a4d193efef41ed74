// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/picture_command.h"

#include "ui/document/picture_document.h"

namespace vellomar {

PictureCommand::PictureCommand(PictureDocument& document, const QString& text) : document_(document) {
  setText(text);
}

PictureCommand::~PictureCommand() {
  if (inHistory_) document_.history().remove(&store_);
}

void PictureCommand::joinHistory() {
  if (document_.isEditable()) {
    store_.settle(document_.editablePicture());
  } else {
    store_.pack();
  }
  if (!inHistory_) {
    document_.history().add(&store_);
    inHistory_ = true;
  } else {
    document_.history().use(&store_);
  }
  document_.settleHistory();
}

void PictureCommand::redo() {
  switch (state_) {
    case State::New:
      if (!document_.makeEditable()) return;
      apply(document_.editablePicture());
      state_ = State::Done;
      joinHistory();
      return;
    case State::Made:
      state_ = State::Done;
      return;
    case State::Undone:
      exchange();
      state_ = State::Done;
      return;
    case State::Done:
      return;
  }
}

void PictureCommand::undo() {
  if (state_ != State::Done) return;
  exchange();
  state_ = State::Undone;
}

void PictureCommand::exchange() {
  if (!document_.isEditable()) return;
  if (inHistory_ && !document_.history().use(&store_)) return;
  store_.exchange(document_.editablePicture());
  document_.touch(rows_, store_.areas());
  joinHistory();
}

void PictureCommand::finishDrag() {
  state_ = State::Made;
  joinHistory();
}

void PictureCommand::changed(const PixelRect& rect) {
  if (rect.empty()) return;
  changed(RowSpans(static_cast<std::uint32_t>(rect.y0), static_cast<std::uint32_t>(rect.y1)), rect);
}

void PictureCommand::changed(const RowSpans& rows, const PixelRect& area) {
  rows_.add(rows);
  document_.touch(rows, area);
}

void PictureCommand::absorb(PictureCommand& later) {
  store_.absorb(later.store_, document_.editablePicture());
  rows_.add(later.rows_);
  joinHistory();
}

EditCommand::EditCommand(PictureDocument& document, const QString& text, PictureEdit edit, int mergeId)
    : PictureCommand(document, text), edit_(std::move(edit)), mergeId_(mergeId) {}

void EditCommand::apply(PictureBitmap& picture) { changed(edit_(picture, keptTiles())); }

bool EditCommand::mergeWith(const QUndoCommand* other) {
  if (mergeId_ < 0 || other->id() != mergeId_) return false;
  // The stack hands the later command over as const; it deletes it after a
  // merge, so its tiles may be taken.
  absorb(*const_cast<PictureCommand*>(static_cast<const PictureCommand*>(other)));
  return true;
}

DragCommand::DragCommand(PictureDocument& document, const QString& text) : PictureCommand(document, text) {}

void DragCommand::add(const PictureEdit& edit) {
  if (!document().makeEditable()) return;
  const PixelRect rect = edit(document().editablePicture(), keptTiles());
  drawn_ = drawn_.united(rect);
  changed(rect);
}

void DragCommand::replace(const PictureEdit& edit) {
  if (!document().makeEditable()) return;
  PictureBitmap& picture = document().editablePicture();
  RowSpans rows;
  PixelRect area = drawn_;
  if (!drawn_.empty()) {
    keptTiles().restore(picture, drawn_);
    rows.add(static_cast<std::uint32_t>(drawn_.y0), static_cast<std::uint32_t>(drawn_.y1));
  }
  drawn_ = edit(picture, keptTiles());
  if (!drawn_.empty()) rows.add(static_cast<std::uint32_t>(drawn_.y0), static_cast<std::uint32_t>(drawn_.y1));
  changed(rows, area.united(drawn_));
}

void DragCommand::cancel() {
  if (drawn_.empty() || !document().isEditable()) return;
  keptTiles().restore(document().editablePicture(), drawn_);
  document().touch(RowSpans(static_cast<std::uint32_t>(drawn_.y0), static_cast<std::uint32_t>(drawn_.y1)), drawn_);
  drawn_ = {};
}

OngoingCommand::~OngoingCommand() {
  if (command_) cancel();
}

DragCommand& OngoingCommand::begin(const QString& text) {
  if (command_) commit();
  command_ = std::make_unique<DragCommand>(document_, text);
  document_.setDragging(true);
  return *command_;
}

void OngoingCommand::commit() {
  if (!command_) return;
  std::unique_ptr<DragCommand> command = std::move(command_);
  if (!command->store().empty()) {
    command->finishDrag();
    document_.undoStack().push(command.release());
  }
  document_.setDragging(false);
}

void OngoingCommand::abandon() {
  command_.reset();
  document_.setDragging(false);
}

void OngoingCommand::cancel() {
  if (!command_) return;
  command_->cancel();
  command_.reset();
  document_.setDragging(false);
}

}  // namespace vellomar

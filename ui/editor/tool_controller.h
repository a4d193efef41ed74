// SPDX-License-Identifier: GPL-3.0-or-later
// What the editor's tools do with the pointer, and the selection.
//
// The canvas hands over presses, moves and releases in picture
// coordinates; the controller turns them into the document's commands:
// a drag (a stroke, a shape being pulled out, a selection being moved) is
// one ongoing command, pushed as one step on the release; a click of the
// fill is one command. The selection is a rectangle of whole pixels that
// the selection commands (cut, copy, paste, flip, scale, brightness and
// contrast, play) work on.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <optional>

#include "ui/document/picture_command.h"
#include "ui/document/region_ops.h"
#include "ui/editor/tool_settings.h"

namespace vellomar {

class PictureDocument;

class ToolController : public QObject {
  Q_OBJECT

 public:
  explicit ToolController(PictureDocument& document, QObject* parent = nullptr);

  ToolSettings& settings() { return settings_; }
  const ToolSettings& settings() const { return settings_; }
  // A read-only picture takes no edits.
  void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool readOnly() const { return readOnly_; }

  // The pointer, in picture coordinates, with the pen's pressure (1 for a
  // mouse).
  void press(PointF at, float pressure);
  void move(PointF at, float pressure);
  void release(PointF at);
  bool dragging() const { return ongoing_.active() || selecting_; }
  // Esc: a drag going on is taken back; otherwise the selection goes.
  // False when there was nothing to do.
  bool cancel();
  // Ends a drag in progress as its release would, where the pointer last was.
  void finishDrag();
  // The document has another picture: a drag in progress and the selection
  // are dropped without touching it.
  void pictureReplaced();

  // The selection (empty: none), within the picture.
  const PixelRect& selection() const { return selection_; }
  void setSelection(const PixelRect& rect);
  void selectAll();
  // The selection, or the whole picture when there is none.
  PixelRect selectionOrAll() const;

  // Selection commands. Those that need a selection do nothing without
  // one. paste() takes the clipboard's image to the selection's top-left
  // corner (or `at` without a selection) and selects it; without an image
  // there it changes nothing and says so through status().
  void copy();
  void cut();
  void erase();
  bool paste(std::int64_t atX, std::int64_t atY);
  void flip(FlipAxis axis);
  void scaleSelection(std::int64_t width, std::int64_t height);
  // Moves the selected pixels (and the selection) by whole pixels; runs of
  // nudges make one step.
  void nudge(std::int64_t dx, std::int64_t dy);

  // Brightness and contrast of the selection (or the whole picture), shown
  // while the dialog's sliders move and pushed as one step when accepted.
  void previewAdjustment(int brightness, double contrast);
  void acceptAdjustment();
  void rejectAdjustment();

 signals:
  void selectionChanged();
  void status(const QString& text);
  // A drag has moved the selected pixels of `from` by (dx, dy), as the
  // command now on top of the history.
  void selectionMoved(const vellomar::PixelRect& from, std::int64_t dx, std::int64_t dy);

 private:
  PictureEdit strokeEdit(PointF from, PointF to, float pressureFrom, float pressureTo, bool withStart);
  PictureEdit shapeEdit(PointF to);
  Rgb colour() const;
  PixelRect clippedToPicture(const PixelRect& rect) const;

  PictureDocument& document_;
  OngoingCommand ongoing_;
  ToolSettings settings_;
  bool readOnly_ = false;

  // The drag in progress.
  Tool dragTool_ = Tool::Brush;
  PointF anchor_;
  PointF last_;
  float lastPressure_ = 1.0f;
  std::optional<Stroke> stroke_;
  bool selecting_ = false;      // pulling out a new selection
  bool movingSelection_ = false;  // dragging the selected pixels
  PixelRect moveFrom_;
  bool adjusting_ = false;

  PixelRect selection_;
  // Nudges merge only while the same selection is nudged: this counts up
  // whenever the selection is set by other means.
  int nudgeRun_ = 0;
};

// The merge id of nudges of the selection (EditCommand).
inline constexpr int kNudgeMergeId = 0x4e554447;

}  // namespace vellomar

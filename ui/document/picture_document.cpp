// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/picture_document.h"

#include <atomic>
#include <new>

#include "ui/document/picture_planes.h"

namespace vellomar {

namespace {

// Free snapshot buffers kept for reuse beyond those readers hold.
constexpr std::size_t kSpareSlots = 2;

}  // namespace

// One snapshot buffer. Readers hold it through the handle handOut makes;
// when the last of them lets go (on any thread) it is free again. Only
// this flag crosses threads: the buffer is written on the document's
// thread, and only while no reader holds it.
struct PictureDocument::Slot {
  std::shared_ptr<PictureBitmap> planes;
  std::uint64_t filledAt = 0;
  std::atomic<bool> held{false};
};

PictureDocument::PictureDocument(QObject* parent) : QObject(parent), throttle_(this) {
  qRegisterMetaType<vellomar::RowSpans>();
  throttle_.setSingleShot(true);
  connect(&throttle_, &QTimer::timeout, this, &PictureDocument::publish);
  connect(&undo_, &QUndoStack::cleanChanged, this, [this](bool clean) { emit modifiedChanged(!clean); });
}

PictureDocument::~PictureDocument() {
  // The commands leave the history before it goes.
  undo_.clear();
}

std::uint32_t PictureDocument::width() const {
  const PictureBitmap* p = picture();
  return p ? p->width : 0;
}

std::uint32_t PictureDocument::height() const {
  const PictureBitmap* p = picture();
  return p ? p->height : 0;
}

const PictureBitmap* PictureDocument::picture() const {
  if (current_) return current_.get();
  return base_.get();
}

bool PictureDocument::makeEditable() {
  if (current_) return true;
  if (!base_ || base_->width == 0 || base_->height == 0) return false;
  std::shared_ptr<PictureBitmap> copy = editableCopy(*base_);
  if (!copy) return false;
  try {
    rowChange_.assign(copy->height, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  current_ = std::move(copy);
  // Readers keep the loaded picture as long as they hold it; snapshots
  // come from the editable copy from now on.
  base_.reset();
  ++changes_;
  return true;
}

std::shared_ptr<const PictureBitmap> PictureDocument::handOut(const std::shared_ptr<Slot>& slot) {
  slot->held.store(true, std::memory_order_relaxed);
  // The handle owns nothing itself: letting go of it frees the slot, which
  // the deleter keeps alive (with its planes) as long as it needs them.
  return std::shared_ptr<const PictureBitmap>(slot->planes.get(), [slot](const PictureBitmap*) {
    slot->held.store(false, std::memory_order_release);
  });
}

std::shared_ptr<const PictureBitmap> PictureDocument::snapshot() {
  if (!current_) return base_;
  if (auto last = lastSnapshot_.lock(); last && lastSnapshotChanges_ == changes_) return last;

  std::shared_ptr<Slot> best;
  for (const std::shared_ptr<Slot>& slot : slots_) {
    if (slot->held.load(std::memory_order_acquire)) continue;
    if (!best || slot->filledAt > best->filledAt) best = slot;
  }
  if (best) {
    // Only the rows changed since the buffer was filled, in runs.
    PictureBitmap& planes = *best->planes;
    const std::uint32_t h = current_->height;
    for (std::uint32_t y = 0; y < h;) {
      if (rowChange_[y] <= best->filledAt) {
        ++y;
        continue;
      }
      std::uint32_t end = y + 1;
      while (end < h && rowChange_[end] > best->filledAt) ++end;
      copyRows(*current_, planes, y, end);
      y = end;
    }
  } else {
    try {
      best = std::make_shared<Slot>();
      best->planes = std::make_shared<PictureBitmap>(*current_);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    slots_.push_back(best);
  }
  best->filledAt = changes_;

  // Free buffers beyond the spares go.
  std::size_t spare = 0;
  for (auto it = slots_.begin(); it != slots_.end();) {
    const bool free = *it != best && !(*it)->held.load(std::memory_order_acquire);
    if (free && ++spare > kSpareSlots) {
      it = slots_.erase(it);
    } else {
      ++it;
    }
  }

  std::shared_ptr<const PictureBitmap> handle = handOut(best);
  lastSnapshot_ = handle;
  lastSnapshotChanges_ = changes_;
  return handle;
}

void PictureDocument::replace(std::shared_ptr<const PictureBitmap> picture, const std::string& path) {
  throttle_.stop();
  dragging_ = false;
  undo_.clear();
  current_.reset();
  base_ = std::move(picture);
  slots_.clear();
  lastSnapshot_.reset();
  rowChange_.clear();
  ++changes_;
  pending_.clear();
  const bool pathChanged = path != path_;
  path_ = path;
  if (pathChanged) emit filePathChanged();
  emit replaced();
  ++revision_;
  emit revised(revision_, RowSpans::all(height()));
}

void PictureDocument::markSaved(const std::string& path) {
  undo_.setClean();
  if (path != path_) {
    path_ = path;
    emit filePathChanged();
  }
  emit saved(path);
}

void PictureDocument::touch(const RowSpans& rows) {
  if (rows.empty() || !current_) return;
  ++changes_;
  const std::uint32_t h = current_->height;
  for (const RowSpan& s : rows.spans()) {
    for (std::uint32_t y = s.begin; y < s.end && y < h; ++y) rowChange_[y] = changes_;
  }
  pending_.add(rows);
  if (!dragging_) {
    publish();
  } else if (!throttle_.isActive()) {
    throttle_.start(kRevisionIntervalMs);
  }
}

void PictureDocument::setDragging(bool dragging) {
  if (dragging == dragging_) return;
  dragging_ = dragging;
  if (!dragging) {
    throttle_.stop();
    publish();
  }
}

void PictureDocument::settleHistory() {
  if (history_.settle()) return;
  // Not from inside the command the stack is running.
  QMetaObject::invokeMethod(
      this,
      [this] {
        undo_.clear();
        emit historyReport(QStringLiteral("The undo history was cleared: there is no room on the disk to keep it"));
      },
      Qt::QueuedConnection);
}

void PictureDocument::publish() {
  if (pending_.empty()) return;
  RowSpans rows = std::move(pending_);
  pending_.clear();
  ++revision_;
  emit revised(revision_, rows);
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/picture_document.h"

#include <algorithm>
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
    blocksAcross_ = (copy->width + kBlockSide - 1) / kBlockSide;
    blockChange_.assign(static_cast<std::size_t>(blocksAcross_) * ((copy->height + kBlockSide - 1) / kBlockSide), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  current_ = std::move(copy);
  // Readers keep the loaded picture as long as they hold it; snapshots
  // come from the editable copy from now on. Two buffers are filled now,
  // one for a reader to hold while the other takes the next revision, so
  // that no edit waits for a whole copy.
  base_.reset();
  ++changes_;
  try {
    for (int i = 0; i < 2; ++i) {
      auto slot = std::make_shared<Slot>();
      slot->planes = std::make_shared<PictureBitmap>(*current_);
      slot->filledAt = changes_;
      slots_.push_back(std::move(slot));
    }
  } catch (const std::bad_alloc&) {
    // Snapshots will be made as they are needed.
  }
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
    // Only the blocks changed since the buffer was filled, each row of
    // blocks in runs.
    PictureBitmap& planes = *best->planes;
    const std::size_t down = blockChange_.size() / std::max<std::uint32_t>(blocksAcross_, 1);
    for (std::size_t by = 0; by < down; ++by) {
      const std::uint64_t* row = blockChange_.data() + by * blocksAcross_;
      for (std::uint32_t bx = 0; bx < blocksAcross_;) {
        if (row[bx] <= best->filledAt) {
          ++bx;
          continue;
        }
        std::uint32_t end = bx + 1;
        while (end < blocksAcross_ && row[end] > best->filledAt) ++end;
        const auto y0 = static_cast<std::int64_t>(by * kBlockSide);
        copyRect(*current_, planes, PixelRect{static_cast<std::int64_t>(bx) * kBlockSide, y0,
                                              static_cast<std::int64_t>(end) * kBlockSide, y0 + kBlockSide});
        bx = end;
      }
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
  blockChange_.clear();
  blocksAcross_ = 0;
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

void PictureDocument::touch(const RowSpans& rows, const std::vector<PixelRect>& areas) {
  if (!current_) return;
  ++changes_;
  for (const PixelRect& wanted : areas) {
    const PixelRect area = wanted.intersected(boundsOf(*current_));
    if (area.empty()) continue;
    for (auto by = static_cast<std::size_t>(area.y0 / kBlockSide); by <= static_cast<std::size_t>((area.y1 - 1) / kBlockSide); ++by) {
      for (auto bx = static_cast<std::size_t>(area.x0 / kBlockSide); bx <= static_cast<std::size_t>((area.x1 - 1) / kBlockSide); ++bx) {
        blockChange_[by * blocksAcross_ + bx] = changes_;
      }
    }
    emit areaChanged(QRect(static_cast<int>(area.x0), static_cast<int>(area.y0), static_cast<int>(area.width()),
                           static_cast<int>(area.height())));
  }
  if (rows.empty()) return;
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
  emit draggingChanged(dragging);
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

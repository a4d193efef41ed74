// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/sound_edit_live.h"

#include <exception>

#include "ui/document/picture_document.h"

namespace vellomar {

SoundEditLive::SoundEditLive(PictureDocument& document, SoundForEditing sound, QObject* parent)
    : QObject(parent), document_(document), sound_(std::move(sound)) {
  moves_ = sound_.moves;
  sound_.moves.clear();
  std::shared_ptr<BlockTable> table = makeTable();
  if (!table) return;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::exception&) {
    return;
  }
  table_ = std::move(table);
  connect(&document_, &PictureDocument::revised, this, [this](std::uint64_t revision, const RowSpans&) { revised(revision); });
  revised(document_.revision());
}

SoundEditLive::~SoundEditLive() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  abort_.store(true);
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::shared_ptr<FrameSource> SoundEditLive::source() const {
  if (!table_) return nullptr;
  return std::make_shared<SoundEditSource>(table_, sound_.record.sampleRate);
}

void SoundEditLive::setMoves(std::vector<SpectralMove> moves) {
  moves_ = std::move(moves);
  revised(document_.revision());
}

void SoundEditLive::revised(std::uint64_t revision) {
  std::shared_ptr<const PictureBitmap> picture = document_.snapshot();
  if (!picture || picture->width != sound_.original->width || picture->height != sound_.original->height) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = Request{std::move(picture), moves_, revision};
    hasPending_ = true;
  }
  wake_.notify_all();
}

void SoundEditLive::run() {
  for (;;) {
    Request request;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || hasPending_; });
      if (stopping_) return;
      request = std::move(pending_);
      hasPending_ = false;
    }
    if (renderChange(previous_.get(), request) != kResultOk) {
      // Some blocks may hold that revision: the next one renders them all.
      previous_.reset();
      continue;
    }
    previous_ = request.picture;
    previousMoves_ = request.moves;
    rendered_.store(request.revision + 1);
    QMetaObject::invokeMethod(this, [this, revision = request.revision] { emit revisionRendered(revision); },
                              Qt::QueuedConnection);
  }
}


}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/history_memory.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <algorithm>

#include "ui/document/tile_store.h"

namespace vellomar {

std::uint64_t defaultHistoryBudget() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  const std::uint64_t memory = pages > 0 && pageSize > 0
                                   ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                                   : std::uint64_t{4} << 30;
  return std::min<std::uint64_t>(std::uint64_t{512} << 20, memory / 8);
}

HistoryMemory::HistoryMemory(std::uint64_t budgetBytes) : budget_(budgetBytes) {}

HistoryMemory::~HistoryMemory() {
  if (fd_ >= 0) ::close(fd_);
}

bool HistoryMemory::openFile() {
  if (fd_ >= 0) return true;
  // A file without a name in the temporary folder: nothing is left behind.
  const QByteArray folder = QFile::encodeName(QDir::tempPath());
  fd_ = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    QByteArray name = folder + "/.vellomar-history-XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) ::unlink(name.constData());
  }
  return fd_ >= 0;
}

void HistoryMemory::add(TileStore* store) { stores_.push_back(store); }

bool HistoryMemory::use(TileStore* store) {
  auto it = std::find(stores_.begin(), stores_.end(), store);
  if (it != stores_.end()) stores_.splice(stores_.end(), stores_, it);
  return !store->spilled() || (fd_ >= 0 && store->recall(fd_));
}

void HistoryMemory::remove(TileStore* store) { stores_.remove(store); }

std::uint64_t HistoryMemory::bytesInMemory() const {
  std::uint64_t total = 0;
  for (const TileStore* s : stores_) total += s->bytes();
  return total;
}

bool HistoryMemory::settle() {
  std::uint64_t total = bytesInMemory();
  if (total <= budget_) return true;
  for (auto it = stores_.begin(); it != stores_.end() && std::next(it) != stores_.end() && total > budget_; ++it) {
    TileStore* s = *it;
    if (s->spilled() || s->empty()) continue;
    if (!openFile()) return false;
    const std::uint64_t before = s->bytes();
    if (!s->spill(fd_, fileEnd_)) return false;
    total -= before - std::min(before, s->bytes());
  }
  // What is left over the budget is the most recent step alone.
  return true;
}

}  // namespace vellomar

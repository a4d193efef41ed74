// SPDX-License-Identifier: GPL-3.0-or-later
// The memory of the undo history, and where the history goes beyond it.
//
// The history is unbounded in the number of steps; what it keeps in memory
// is bounded by a budget. Every command's kept tiles (TileStore) are listed
// here, the most recently used last. When the tiles in memory come to more
// than the budget, the least recently used stores move to the history's
// file, an unnamed temporary file that disappears with the program (a
// crash included), and come back from it when their step is undone or
// redone. Space in the file is not reused while the document lives.
#pragma once

#include <cstdint>
#include <list>

namespace vellomar {

class TileStore;

// The default budget: 512 MB, or an eighth of the physical memory when that
// is less.
std::uint64_t defaultHistoryBudget();

class HistoryMemory {
 public:
  explicit HistoryMemory(std::uint64_t budgetBytes = defaultHistoryBudget());
  ~HistoryMemory();
  HistoryMemory(const HistoryMemory&) = delete;
  HistoryMemory& operator=(const HistoryMemory&) = delete;

  std::uint64_t budget() const { return budget_; }
  void setBudget(std::uint64_t bytes) { budget_ = bytes; }

  // A command's store joins, is used (it moves to the most recent end and
  // is read back from the file when it was moved there), or leaves.
  void add(TileStore* store);
  // False when the store's tiles could not be read back.
  bool use(TileStore* store);
  void remove(TileStore* store);

  // Moves the least recently used stores, all but the most recent one, out
  // to the file until the memory is within the budget (the most recent
  // step stays in memory even when it alone is larger). False when the
  // file refuses them (no room on the disk).
  bool settle();

  // Bytes the listed stores hold in memory; bytes moved to the file.
  std::uint64_t bytesInMemory() const;
  std::uint64_t bytesInFile() const { return fileEnd_; }
  std::size_t storeCount() const { return stores_.size(); }

 private:
  bool openFile();

  std::list<TileStore*> stores_;  // least recently used first
  std::uint64_t budget_;
  int fd_ = -1;
  std::int64_t fileEnd_ = 0;
};

}  // namespace vellomar

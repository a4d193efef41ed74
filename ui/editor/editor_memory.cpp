// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/editor_memory.h"

#include <unistd.h>

#include <algorithm>

#include "files/picture_writer.h"
#include "ui/document/history_memory.h"

namespace vellomar {

namespace {

std::uint64_t gBudget = 0;

std::uint64_t physicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                                   : std::uint64_t{4} << 30;
}

QString millions(std::uint64_t pixels) { return QString::number(static_cast<double>(pixels) / 1e6, 'f', 1); }

}  // namespace

std::uint64_t editorMemoryBudget() { return gBudget != 0 ? gBudget : physicalMemory() / 2; }

void setEditorMemoryBudget(std::uint64_t bytes) { gBudget = bytes; }

std::uint64_t editablePixels() {
  const std::uint64_t budget = editorMemoryBudget();
  const std::uint64_t history = std::min(defaultHistoryBudget(), budget / 4);
  return (budget - history) / kEditorBytesPerPixel;
}

bool editable(std::uint64_t width, std::uint64_t height, QString* reason) {
  const std::uint64_t pixels = width * height;
  if (pixels <= editablePixels()) return true;
  if (reason != nullptr) {
    *reason = QStringLiteral(
                  "The picture is %1 x %2 pixels (%3 million). Editing it takes about %4 MB, more than the editor's "
                  "budget of %5 MB on this computer (half its memory): the editor edits at most %6 million pixels. "
                  "It is shown read-only.")
                  .arg(width)
                  .arg(height)
                  .arg(millions(pixels))
                  .arg(pixels * kEditorBytesPerPixel >> 20)
                  .arg(editorMemoryBudget() >> 20)
                  .arg(millions(editablePixels()));
  }
  return false;
}

std::uint64_t maxNewSide() { return std::min<std::uint64_t>(kMaxPngSide, std::max<std::uint64_t>(1, editablePixels())); }

bool newPictureSizeAllowed(std::uint64_t width, std::uint64_t height, QString* reason) {
  const std::uint64_t side = maxNewSide();
  if (width >= 1 && height >= 1 && width <= side && height <= side && width * height <= editablePixels()) return true;
  if (reason != nullptr) {
    *reason = QStringLiteral(
                  "A new picture of %1 x %2 pixels cannot be made. Each side may be 1 ... %3 pixels, and the "
                  "picture at most %4 million pixels in all on this computer.")
                  .arg(width)
                  .arg(height)
                  .arg(side)
                  .arg(millions(editablePixels()));
  }
  return false;
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// What vellomar-render tells the user: its exit codes, its messages (each
// line begins "vellomar-render: ") and the progress bar.
#pragma once

#include <cstdio>
#include <string>

namespace vellomar::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Writes `text` to stderr, each of its lines after "vellomar-render: ".
void printMessage(const std::string& text);

// Shows every refusal of the files layer through printMessage.
void installMessagePrinter();

// Says what is wrong with the command line; returns kExitUsage.
int usageError(const std::string& text);

// Says that the run was interrupted; returns the exit code for the signal.
int reportInterrupted();

// A bar on stderr, "<label> [####----]  42%", redrawn when the percentage
// changes; nothing at all when not shown.
class ProgressBar {
 public:
  ProgressBar(bool shown, const char* label) : shown_(shown), label_(label) {}
  void update(int thousandths) {
    const int percent = thousandths / 10;
    if (!shown_ || percent == last_) return;
    last_ = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_, bar, percent);
    std::fflush(stderr);
  }
  void finish() {
    if (shown_ && last_ >= 0) std::fputc('\n', stderr);
    last_ = -1;
  }

 private:
  bool shown_;
  const char* label_;
  int last_ = -1;
};

}  // namespace vellomar::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal.h"

#include "cli/interrupt.h"
#include "files/messages.h"

namespace vellomar::cli {

void printMessage(const std::string& text) {
  std::string lines;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t end = text.find('\n', from);
    const std::string line = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
    lines += "vellomar-render: " + line + "\n";
    if (end == std::string::npos) break;
    from = end + 1;
  }
  std::fputs(lines.c_str(), stderr);
}

void installMessagePrinter() {
  setMessagePresenter([](MessageOwner, unsigned boxType, const std::string&, const std::string& text) {
    printMessage(text);
    return (boxType & 0xF) == kBoxYesNo ? kButtonYes : kButtonOk;
  });
}

int usageError(const std::string& text) {
  printMessage(text + "\nRun with --help for more information.");
  return kExitUsage;
}

int reportInterrupted() {
  printMessage("Interrupted: no output was written.");
  return interruptedExitCode();
}

}  // namespace vellomar::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/messages.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace vellomar {
namespace {

constexpr std::size_t kMaxMessageLength = 2999;

std::string gTitle = "Vellomar";
std::string gErrorCaption = "Vellomar: ERROR";
MessagePresenter gPresenter;

int defaultPresenter(MessageOwner, unsigned boxType, const std::string&, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  if ((boxType & 0xF) == kBoxSaveDiscardCancel) return kButtonCancel;
  return (boxType & 0xF) == kBoxYesNo ? kButtonYes : kButtonOk;
}

std::string formatText(const char* format, std::va_list args) {
  char buffer[kMaxMessageLength + 1];
  const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (written < 0) return std::string();
  return std::string(buffer);
}

int present(MessageOwner owner, unsigned boxType, const std::string& caption, const std::string& text) {
  if (gPresenter) return gPresenter(owner, boxType, caption, text);
  return defaultPresenter(owner, boxType, caption, text);
}

}  // namespace

void setMessagePresenter(MessagePresenter presenter) { gPresenter = std::move(presenter); }

const std::string& appTitle() { return gTitle; }
const std::string& errorCaption() { return gErrorCaption; }

void setAppTitle(const std::string& title) {
  gTitle = title.substr(0, 99);
  gErrorCaption = gTitle + ": ERROR";
}

int showMessage(MessageOwner owner, unsigned boxType, const std::string& caption, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = formatText(format, args);
  va_end(args);
  return present(owner, boxType, caption, text);
}

int showErrorBox(MessageOwner owner, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = formatText(format, args);
  va_end(args);
  return present(owner, kBoxIconError | kBoxOk, gErrorCaption, text);
}

Refusal errorRefusal(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  Refusal refusal;
  refusal.caption = gErrorCaption;
  refusal.text = formatText(format, args);
  va_end(args);
  return refusal;
}

Refusal internalErrorRefusal(int number) {
  return errorRefusal(
      "Internal error #%02d occured. The program may malfunction or hang.\n"
      "It is recommended to close the program and launch it again.",
      number);
}

Refusal refusalForResult(ResultCode code) {
  switch (code) {
    case kResultOk:
    case kResultAborted:
      return Refusal{};  // nothing to tell
    case kResultNoMemory:
      return errorRefusal("Not enough memory");
    case kResultShortRead:
      return errorRefusal("Failed to read a part of input wave file. The file may be damaged or incomplete");
    case kResultWriteFailed:
      return errorRefusal("Cannot write to output wave file. You may be running out of disk space");
    case kResultBadSegment:
      return internalErrorRefusal(7);
    case kResultEmptyTimeSpan:
      return internalErrorRefusal(8);
    case kResultInternal:
      return internalErrorRefusal(6);
    default:
      return errorRefusal("Unknown error %u occured while generating the sound", static_cast<unsigned>(code));
  }
}

int showRefusal(MessageOwner owner, const Refusal& refusal) {
  if (!refusal) return kButtonOk;
  return present(owner, refusal.boxType, refusal.caption, refusal.text);
}

void showInternalError(MessageOwner owner, int number) { showRefusal(owner, internalErrorRefusal(number)); }

void messageForResult(MessageOwner owner, ResultCode code) { showRefusal(owner, refusalForResult(code)); }

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Result codes in words, the numbered internal errors, and the one routine
// through which every message of the program is shown. Showing is
// pluggable: the window shows message boxes, the command line prints.
#pragma once

#include <functional>
#include <string>

#include "engine/result_code.h"

namespace vellomar {

// Box types: one button set plus one icon, added together.
inline constexpr unsigned kBoxOk = 0;
inline constexpr unsigned kBoxYesNo = 4;
// Unsaved edits: Save (kButtonYes), Discard (kButtonNo) or Cancel.
inline constexpr unsigned kBoxSaveDiscardCancel = 3;
inline constexpr unsigned kBoxIconError = 16;
inline constexpr unsigned kBoxIconWarning = 48;
inline constexpr unsigned kBoxIconInformation = 64;
// With a question: No, not Yes, is the button that Enter presses.
inline constexpr unsigned kBoxDefaultButton2 = 256;

// Buttons a box returns.
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonCancel = 2;
inline constexpr int kButtonYes = 6;
inline constexpr int kButtonNo = 7;

// The window a box belongs to (a QWidget* in the window program), or null.
using MessageOwner = void*;

// Shows one message and returns the button that closed it.
using MessagePresenter =
    std::function<int(MessageOwner owner, unsigned boxType, const std::string& caption, const std::string& text)>;

// Installs the presenter; an empty one restores the default, which writes
// the text to standard error and answers OK (Yes for a question, Cancel
// for unsaved edits).
void setMessagePresenter(MessagePresenter presenter);

// Program title and the caption of every error box ("%s: ERROR").
const std::string& appTitle();
const std::string& errorCaption();
void setAppTitle(const std::string& title);

// What a reader, a writer or a check has to tell the user instead of doing
// its work: a box type, a caption and the program's own text. Readers and
// writers return it; the front-ends show it (or print it).
struct Refusal {
  unsigned boxType = kBoxIconError | kBoxOk;
  std::string caption;
  std::string text;
  // Whether there is anything to tell.
  explicit operator bool() const { return !text.empty(); }
};

// An error box's refusal: caption errorCaption(), the text formatted by the
// printf rules into at most 2999 characters.
Refusal errorRefusal(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "Internal error #%02d occured. ..." as an error box's refusal.
Refusal internalErrorRefusal(int number);
// What a render result other than 0 and 111 tells the user; nothing for
// those two.
Refusal refusalForResult(ResultCode code);

// Shows a refusal through the presenter (nothing when it is empty) and
// returns the button that closed it.
int showRefusal(MessageOwner owner, const Refusal& refusal);

// Formats by the printf rules into at most 2999 characters and shows it.
int showMessage(MessageOwner owner, unsigned boxType, const std::string& caption, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The error box: error icon, OK, caption errorCaption().
int showErrorBox(MessageOwner owner, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "Internal error #%02d occured. ..." in the error box.
void showInternalError(MessageOwner owner, int number);

// The message for a render result other than 0 and 111.
void messageForResult(MessageOwner owner, ResultCode code);

}  // namespace vellomar

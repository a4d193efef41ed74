// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the program's messages as message boxes.
#pragma once

#include <string>

#include "files/messages.h"

namespace vellomar {

// One message box: the box type's icon and buttons, owned by `owner` (a
// QWidget*, or null), modal. Returns kButtonOk, kButtonYes or kButtonNo
// (or kButtonCancel, for unsaved edits).
int presentMessageBox(MessageOwner owner, unsigned boxType, const std::string& caption, const std::string& text);

// Makes presentMessageBox the presenter of every message.
void installMessageBoxPresenter();

}  // namespace vellomar

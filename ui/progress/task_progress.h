// SPDX-License-Identifier: GPL-3.0-or-later
// Work run on a thread of its own while a progress dialog shows how far it
// is and offers to stop it: a recording analysed for editing or saved, an
// input decoded.
#pragma once

#include <QString>
#include <functional>

#include "engine/result_code.h"
#include "files/edit_setup.h"

class QWidget;

namespace vellomar {

// Runs `work` on a worker thread with a control whose progress moves the
// dialog's bar and whose abort flag its Cancel sets; returns what `work`
// returned (111 when cancelled, as the work itself reports). The dialog
// ("soundEditProgress") is window-modal over `owner` and shows once the
// work has run a moment.
ResultCode runWithProgress(QWidget* owner, const QString& label, const std::function<ResultCode(const EditControl&)>& work);

}  // namespace vellomar

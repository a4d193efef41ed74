// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icons: 107 (large, 32 x 32) and 108 (small, 16 x 16).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vellomar {

QPixmap largeIcon();
QPixmap smallIcon();
// Both sizes in one icon, for the windows.
QIcon appIcon();

// Makes the program's built-in resources (icons, manual) available.
void ensureResources();

}  // namespace vellomar

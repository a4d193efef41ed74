// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/icons.h"

// The resources live in a static library; this pulls them into the program.
static void loadResourcesOnce() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  (void)loaded;
}

namespace vellomar {

void ensureResources() { loadResourcesOnce(); }

QPixmap largeIcon() {
  ensureResources();
  return QPixmap(QStringLiteral(":/icons/vellomar-32.png"));
}

QPixmap smallIcon() {
  ensureResources();
  return QPixmap(QStringLiteral(":/icons/vellomar-16.png"));
}

QIcon appIcon() {
  QIcon icon;
  icon.addPixmap(smallIcon());
  icon.addPixmap(largeIcon());
  return icon;
}

}  // namespace vellomar

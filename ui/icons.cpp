#include "ui/icons.h"

namespace vellomar {

QPixmap largeIcon() { return QPixmap(QStringLiteral(":/icons/vellomar-32.png")); }
QPixmap smallIcon() { return QPixmap(QStringLiteral(":/icons/vellomar-16.png")); }

QIcon appIcon() {
  QIcon icon;
  icon.addPixmap(smallIcon());
  icon.addPixmap(largeIcon());
  return icon;
}

}  // namespace vellomar

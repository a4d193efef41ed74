#include "ui/help/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "ui/common/icons.h"

namespace vellomar {
namespace {

UrlOpener gOpener;
bool gHelpUnavailable = false;

std::unique_ptr<QTemporaryDir>& extractedManualDir() {
  static std::unique_ptr<QTemporaryDir> dir;
  return dir;
}

QString extractBuiltInManual() {
  auto& dir = extractedManualDir();
  if (!dir) {
    dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid()) {
      dir.reset();
      return {};
    }
  }
  const QString target = dir->filePath(QString::fromUtf8(kManualFileName));
  if (QFileInfo::exists(target)) return target;
  ensureResources();
  if (!QFile::copy(QStringLiteral(":/help/vellomar.html"), target)) return {};
  QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  return target;
}

}  // namespace

QString findManual() {
  const QString name = QString::fromUtf8(kManualFileName);
  const QDir programDir(QCoreApplication::applicationDirPath());
  for (const QString& candidate :
       {programDir.filePath(name), programDir.filePath(QStringLiteral("../share/doc/vellomar/") + name)}) {
    if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).canonicalFilePath();
  }
  return extractBuiltInManual();
}

void setUrlOpener(UrlOpener opener) { gOpener = std::move(opener); }

void resetHelpState() { gHelpUnavailable = false; }

void showHelp(QWidget*) {
  if (gHelpUnavailable) return;
  const QString manual = findManual();
  const QUrl url = QUrl::fromLocalFile(manual);
  const bool opened = !manual.isEmpty() && (gOpener ? gOpener(url) : QDesktopServices::openUrl(url));
  if (!opened) gHelpUnavailable = true;
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/help/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "files/messages.h"
#include "ui/common/icons.h"
#include "ui/help/help_window.h"

namespace vellomar {
namespace {

UrlOpener gOpener;
ManualFinder gFinder;

const QString kBuiltInManual = QStringLiteral(":/help/vellomar.html");

// Copies the built-in manual and its pictures into a folder of the
// program's own; the manual's path there, or empty.
QString extractBuiltInManual() {
  static std::unique_ptr<QTemporaryDir> dir;
  if (!dir) {
    auto made = std::make_unique<QTemporaryDir>();
    if (!made->isValid()) return {};
    dir = std::move(made);
  }
  const QString target = dir->filePath(QString::fromUtf8(kManualFileName));
  if (QFileInfo::exists(target)) return target;
  ensureResources();
  const auto copy = [](const QString& from, const QString& to) {
    if (!QFile::copy(from, to)) return false;
    // Resources are read-only; the copies need not be.
    QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
  };
  if (!QDir(dir->path()).mkpath(QStringLiteral("images"))) return {};
  for (QDirIterator images(QStringLiteral(":/help/images"), QDir::Files); images.hasNext();) {
    const QString image = images.next();
    if (!copy(image, dir->filePath(QStringLiteral("images/") + QFileInfo(image).fileName()))) return {};
  }
  // The manual last: once it is there, everything is.
  if (!copy(kBuiltInManual, target)) return {};
  return target;
}

}  // namespace

QUrl findManual() {
  const QString name = QString::fromUtf8(kManualFileName);
  const QDir programDir(QCoreApplication::applicationDirPath());
  for (const QString& candidate :
       {programDir.filePath(name), programDir.filePath(QStringLiteral("../share/doc/vellomar/") + name)}) {
    const QFileInfo file(candidate);
    if (file.isFile() && file.isReadable()) return QUrl::fromLocalFile(file.canonicalFilePath());
  }
  ensureResources();
  if (QFileInfo(kBuiltInManual).isFile()) return QUrl(QStringLiteral("qrc") + kBuiltInManual);
  return {};
}

QString manualFileForBrowser(const QUrl& manual) {
  if (manual.isLocalFile()) return manual.toLocalFile();
  if (manual.scheme() == QLatin1String("qrc")) return extractBuiltInManual();
  return {};
}

void setUrlOpener(UrlOpener opener) { gOpener = std::move(opener); }

bool openInDesktopBrowser(const QUrl& url) { return gOpener ? gOpener(url) : QDesktopServices::openUrl(url); }

void setManualFinder(ManualFinder finder) { gFinder = std::move(finder); }

void showHelp(QWidget* owner) {
  const QUrl manual = gFinder ? gFinder() : findManual();
  if (manual.isEmpty()) {
    showErrorBox(owner,
                 "Cannot find the manual '%s': it is neither beside the program nor in its documentation "
                 "folder (share/doc/vellomar), and the program holds no copy of its own.",
                 kManualFileName);
    return;
  }
  HelpWindow* window = owner ? owner->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
  if (!window) {
    window = new HelpWindow(owner);
    // A help window without an owner goes when it is closed.
    if (!owner) window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->showManual(manual);
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace vellomar

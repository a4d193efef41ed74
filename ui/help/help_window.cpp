// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/help/help_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/common/icons.h"
#include "ui/help/help.h"

namespace vellomar {
namespace {

QPushButton* addButton(QHBoxLayout* row, const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setAutoDefault(false);
  row->addWidget(button);
  return button;
}

}  // namespace

HelpWindow::HelpWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("helpWindow"));
  setWindowTitle(QStringLiteral("Vellomar manual"));
  ensureResources();
  setWindowIcon(appIcon());

  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  back_ = addButton(row, QStringLiteral("Back"), "helpBackButton", this);
  forward_ = addButton(row, QStringLiteral("Forward"), "helpForwardButton", this);
  contents_ = addButton(row, QStringLiteral("Contents"), "helpContentsButton", this);
  row->addStretch(1);
  openInBrowser_ = addButton(row, QStringLiteral("Open in browser"), "openInBrowserButton", this);
  close_ = addButton(row, QStringLiteral("Close"), "helpCloseButton", this);
  layout->addLayout(row);

  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("helpBrowser"));
  // Links to other sites go to the desktop's browser; the manual's own
  // sections stay here.
  browser_->setOpenExternalLinks(true);
  layout->addWidget(browser_, 1);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("helpStatus"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_->hide();
  layout->addWidget(status_);

  back_->setShortcut(QKeySequence::Back);
  forward_->setShortcut(QKeySequence::Forward);
  back_->setToolTip(QStringLiteral("Back (%1)").arg(QKeySequence(QKeySequence::Back).toString()));
  forward_->setToolTip(QStringLiteral("Forward (%1)").arg(QKeySequence(QKeySequence::Forward).toString()));
  back_->setEnabled(false);
  forward_->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QPushButton::setEnabled);
  connect(back_, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward_, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(contents_, &QPushButton::clicked, browser_, &QTextBrowser::home);
  connect(openInBrowser_, &QPushButton::clicked, this, [this] { openInBrowser(); });
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Vellomar manual") : title);
  });

  // Wide enough for the manual's pictures, as tall as the screen allows.
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  const QSize available = screen ? screen->availableGeometry().size() : QSize(1024, 768);
  resize(qMin(860, available.width() * 9 / 10), qMin(760, available.height() * 9 / 10));
}

void HelpWindow::showManual(const QUrl& manual) {
  const bool sameManual = manual_ == manual;
  manual_ = manual;
  status_->hide();
  if (sameManual && !browser_->source().isEmpty()) return;
  browser_->clearHistory();
  browser_->setSource(manual, QTextDocument::HtmlResource);
  browser_->setFocus();
}

bool HelpWindow::openInBrowser() {
  const QString file = manualFileForBrowser(manual_);
  if (file.isEmpty()) {
    showStatus(QStringLiteral("The manual could not be written to a temporary folder for the web browser."));
    return false;
  }
  QUrl page = QUrl::fromLocalFile(file);
  page.setFragment(browser_->source().fragment());
  if (!openInDesktopBrowser(page)) {
    showStatus(QStringLiteral("No web browser could be started. The manual is the file %1, and it stays open here.")
                   .arg(file));
    return false;
  }
  status_->hide();
  return true;
}

void HelpWindow::showStatus(const QString& text) {
  status_->setText(text);
  status_->show();
}

}  // namespace vellomar

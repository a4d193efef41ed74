// SPDX-License-Identifier: GPL-3.0-or-later
// The help window: the manual in a text browser inside the program, with
// Back, Forward and Contents, and "Open in browser" to show the same page
// in the desktop's web browser.
#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;
class QTextBrowser;

namespace vellomar {

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  // A window of its own that belongs to `owner` (it closes with it).
  explicit HelpWindow(QWidget* owner);

  // Shows the manual at `manual` (a file: or qrc: URL) from its start, or
  // keeps the page shown when it is already this manual's.
  void showManual(const QUrl& manual);
  const QUrl& manual() const { return manual_; }

  QTextBrowser* browser() const { return browser_; }
  QPushButton* backButton() const { return back_; }
  QPushButton* forwardButton() const { return forward_; }
  QPushButton* contentsButton() const { return contents_; }
  QPushButton* openInBrowserButton() const { return openInBrowser_; }
  QPushButton* closeButton() const { return close_; }
  // Says when the manual could not be shown in a browser; hidden otherwise.
  QLabel* statusLabel() const { return status_; }

  // The page shown (its section included), in the desktop's web browser.
  // False, with the reason in the status line, when no browser took it.
  bool openInBrowser();

 private:
  void showStatus(const QString& text);

  QTextBrowser* browser_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* forward_ = nullptr;
  QPushButton* contents_ = nullptr;
  QPushButton* openInBrowser_ = nullptr;
  QPushButton* close_ = nullptr;
  QLabel* status_ = nullptr;
  QUrl manual_;
};

}  // namespace vellomar

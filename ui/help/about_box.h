// SPDX-License-Identifier: GPL-3.0-or-later
// The About box: product name, version, a description and the known
// limitations, with an OK button.
#pragma once

#include <QDialog>

namespace vellomar {

// The About box (not yet shown), owned by `owner`. OK and Enter end it with
// 1, Esc and the close button with 2.
class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(QWidget* owner);

 public slots:
  void reject() override;
};

// Runs the About box modally over `owner` and returns how it ended.
int showAboutBox(QWidget* owner);

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/help/about_box.h"

#include <QPushButton>

#include "resources/dialog_templates.h"
#include "ui/common/dialog_builder.h"
#include "ui/common/dialog_units.h"

namespace vellomar {

AboutBox::AboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(QString::fromUtf8(templates::kAboutBoxTemplate.caption));
  setFont(dialogFont());
  const DialogBaseUnits base = dialogBaseUnits(font());
  setFixedSize(dialogClientSize(templates::kAboutBoxTemplate, base));
  const BuiltDialog built = buildDialogControls(templates::kAboutBoxTemplate, this, base);
  auto* ok = qobject_cast<QPushButton*>(built.byId(1));
  connect(ok, &QPushButton::clicked, this, [this] { done(1); });
  ok->setFocus();
}

void AboutBox::reject() { done(2); }

int showAboutBox(QWidget* owner) {
  AboutBox box(owner);
  return box.exec();
}

}  // namespace vellomar

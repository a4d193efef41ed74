// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the controls of a dialog template as Qt widgets.
#pragma once

#include <QPushButton>
#include <QSpinBox>
#include <vector>

#include "resources/dialog_templates.h"
#include "ui/common/dialog_units.h"

class QLineEdit;

namespace vellomar {

// A push button whose text wraps onto several lines when it does not fit.
class WrappingPushButton : public QPushButton {
  Q_OBJECT
 public:
  using QPushButton::QPushButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// An edit with up-down arrows: the template's edit and its up-down in one
// widget. edit() is the text field, the spin box itself the arrows.
class UpDownSpinBox : public QSpinBox {
  Q_OBJECT
 public:
  using QSpinBox::QSpinBox;
  QLineEdit* edit() const { return lineEdit(); }
};

// The widget of each template entry, in template order (an up-down's entry
// holds the spin box, the edit before it the spin box's text field).
struct BuiltDialog {
  std::vector<QWidget*> widgets;
  QWidget* byId(int id) const;
  const templates::DialogTemplate* source = nullptr;
};

// Creates every control of `dialog` as a child of `parent`, placed from
// dialog units with `base`, with its object name, text, visibility and
// enabled state, and chains the tab order in template order. Group boxes
// are stacked beneath the controls they frame. Template ids are stored in
// each widget's "templateId" property.
BuiltDialog buildDialogControls(const templates::DialogTemplate& dialog, QWidget* parent, const DialogBaseUnits& base);

// The client size of a template in pixels.
QSize dialogClientSize(const templates::DialogTemplate& dialog, const DialogBaseUnits& base);

}  // namespace vellomar

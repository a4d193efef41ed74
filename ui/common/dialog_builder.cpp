// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/dialog_builder.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ui/common/digits_field.h"
#include "ui/common/icons.h"
#include "ui/axes/preview_frame.h"

namespace vellomar {

using templates::ControlKind;
using templates::ControlTemplate;

void WrappingPushButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString label = option.text;
  option.text.clear();
  painter.drawControl(QStyle::CE_PushButton, option);
  const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).adjusted(1, 0, -1, 0);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, label);
}

QWidget* BuiltDialog::byId(int id) const {
  if (!source || id == templates::kNoId) return nullptr;
  for (std::size_t i = 0; i < widgets.size() && i < source->controlCount; ++i)
    if (source->controls[i].id == id) return widgets[i];
  return nullptr;
}

namespace {

// Win32 static text breaks "\r\n"; Qt labels want "\n".
QString labelText(const char* text) { return QString::fromUtf8(text).replace(QStringLiteral("\r\n"), "\n"); }

QWidget* createControl(const ControlTemplate& c, QWidget* parent, const DialogBaseUnits& base) {
  const QString text = QString::fromUtf8(c.text);
  QRect rect = dluToPixels(c.x, c.y, c.width, c.height, base);
  QWidget* widget = nullptr;
  switch (c.kind) {
    case ControlKind::RadioButton:
      widget = new QRadioButton(text, parent);
      break;
    case ControlKind::GroupBox:
      widget = new QGroupBox(text, parent);
      break;
    case ControlKind::PictureFrame:
      widget = new PreviewFrame(parent);
      break;
    case ControlKind::Label: {
      auto* label = new QLabel(labelText(c.text), parent);
      label->setWordWrap((c.flags & templates::kMultiLine) != 0);
      label->setAlignment(((c.flags & templates::kAlignRight) ? Qt::AlignRight : Qt::AlignLeft) |
                          ((c.flags & templates::kMultiLine) ? Qt::AlignTop : Qt::AlignVCenter));
      widget = label;
      break;
    }
    case ControlKind::DropDownList: {
      auto* combo = new QComboBox(parent);
      // The template's height includes the dropped-down list.
      rect.setHeight(std::min(rect.height(), combo->sizeHint().height()));
      widget = combo;
      break;
    }
    case ControlKind::PushButton:
      widget = (c.flags & templates::kMultiLine) ? new WrappingPushButton(text, parent) : new QPushButton(text, parent);
      break;
    case ControlKind::DefaultButton: {
      auto* button = new QPushButton(text, parent);
      button->setDefault(true);
      widget = button;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(parent);
      if (c.flags & templates::kDigitsOnly)
        makeDigitsOnly(edit);
      widget = edit;
      break;
    }
    case ControlKind::UpDown:
      // Built by the caller together with the edit before it.
      break;
    case ControlKind::Trackbar: {
      auto* slider = new QSlider(Qt::Horizontal, parent);
      slider->setTickPosition(QSlider::NoTicks);
      widget = slider;
      break;
    }
    case ControlKind::BitmapStatic:
      widget = new QLabel(parent);
      break;
    case ControlKind::Icon: {
      auto* label = new QLabel(parent);
      label->setPixmap(c.resource == templates::kSmallIconId ? smallIcon() : largeIcon());
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
    case ControlKind::Rule: {
      auto* rule = new QFrame(parent);
      rule->setFrameShape(QFrame::NoFrame);
      rule->setAutoFillBackground(true);
      QPalette palette = rule->palette();
      palette.setColor(QPalette::Window, Qt::black);
      rule->setPalette(palette);
      widget = rule;
      break;
    }
  }
  if (!widget) widget = new QWidget(parent);
  widget->setObjectName(QString::fromUtf8(c.objectName));
  widget->setGeometry(rect);
  return widget;
}

}  // namespace

BuiltDialog buildDialogControls(const templates::DialogTemplate& dialog, QWidget* parent, const DialogBaseUnits& base) {
  BuiltDialog built;
  built.source = &dialog;
  for (std::size_t i = 0; i < dialog.controlCount; ++i) {
    const ControlTemplate& c = dialog.controls[i];
    QWidget* widget = nullptr;
    auto* edit = built.widgets.empty() ? nullptr : qobject_cast<QLineEdit*>(built.widgets.back());
    if (c.kind == ControlKind::UpDown && edit) {
      // The arrows join the edit before them: one spin box takes the edit's
      // place, and the edit's entry becomes the spin box's text field.
      auto* spin = new UpDownSpinBox(parent);
      spin->setGeometry(edit->geometry());
      spin->edit()->setObjectName(edit->objectName());
      spin->edit()->setProperty("templateId", edit->property("templateId"));
      spin->setObjectName(QString::fromUtf8(c.objectName));
      built.widgets.back() = spin->edit();
      delete edit;
      widget = spin;
    } else {
      widget = createControl(c, parent, base);
    }
    widget->setProperty("templateId", c.id);
    if (c.flags & templates::kHidden) widget->setVisible(false);
    if (c.flags & templates::kDisabled) widget->setEnabled(false);
    built.widgets.push_back(widget);
  }
  for (QWidget* widget : built.widgets)
    if (qobject_cast<QGroupBox*>(widget)) widget->lower();

  // Tab order: the focusable controls in template order.
  QWidget* last = nullptr;
  for (QWidget* widget : built.widgets) {
    if (widget->parentWidget() != parent) continue;  // a spin box's text field goes with its spin box
    if (widget->focusPolicy() == Qt::NoFocus) continue;
    if (last) QWidget::setTabOrder(last, widget);
    last = widget;
  }
  return built;
}

QSize dialogClientSize(const templates::DialogTemplate& dialog, const DialogBaseUnits& base) {
  return {dluToPixelsX(dialog.width, base), dluToPixelsY(dialog.height, base)};
}

}  // namespace vellomar

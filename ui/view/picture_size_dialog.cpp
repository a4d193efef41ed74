// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/picture_size_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "files/analysis_setup.h"
#include "files/messages.h"
#include "ui/common/dialog_units.h"
#include "ui/common/digits_field.h"

namespace vellomar {

namespace {

// Digits enough for any side and a little more, so that a side too long
// is refused in words rather than cut.
constexpr int kSideDigits = 10;

QLineEdit* sideField(QWidget* parent, const char* name, std::uint32_t value) {
  auto* field = new QLineEdit(QString::number(value), parent);
  field->setObjectName(QString::fromUtf8(name));
  field->setMaxLength(kSideDigits);
  makeDigitsOnly(field);
  return field;
}

// A side as typed: digits only (the field takes nothing else); -1 when empty.
long long sideOf(const QString& text) {
  if (text.isEmpty()) return -1;
  bool ok = false;
  const qulonglong value = text.toULongLong(&ok);
  return ok ? static_cast<long long>(value) : -1;
}

}  // namespace

PictureSizeDialog::PictureSizeDialog(QWidget* owner, const QString& waveName, std::uint32_t defaultWidth,
                                     std::uint32_t defaultHeight)
    : QDialog(owner),
      defaultWidth_(defaultWidth),
      defaultHeight_(defaultHeight),
      chosenWidth_(defaultWidth),
      chosenHeight_(defaultHeight) {
  setObjectName(QStringLiteral("pictureSizeDialog"));
  setWindowTitle(QStringLiteral("Picture size"));
  setFont(dialogFont());

  auto* intro = new QLabel(QStringLiteral("The picture made from '%1':").arg(waveName), this);
  width_ = sideField(this, "widthField", defaultWidth);
  height_ = sideField(this, "heightField", defaultHeight);
  auto* form = new QFormLayout;
  const auto withUnit = [this](QLineEdit* field) {
    auto* row = new QHBoxLayout;
    row->addWidget(field);
    row->addWidget(new QLabel(QStringLiteral("pixels"), this));
    return row;
  };
  // The labels name their fields, so that Alt and the letter go to them.
  const auto label = [this](const char* text, QLineEdit* field) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setBuddy(field);
    return l;
  };
  form->addRow(label("&Width (frequency):", width_), withUnit(width_));
  form->addRow(label("&Height (time):", height_), withUnit(height_));
  auto* limits = new QLabel(QStringLiteral("Default %1 x %2: %3 columns, one row per hop of the sound.\nSizes: %4.")
                                .arg(defaultWidth)
                                .arg(defaultHeight)
                                .arg(defaultWidth)
                                .arg(QString::fromStdString(analysisSizeLimits())),
                            this);
  limits->setObjectName(QStringLiteral("sizeLimits"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  default_ = buttons->addButton(QStringLiteral("&Default"), QDialogButtonBox::ResetRole);
  default_->setObjectName(QStringLiteral("defaultSizeButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &PictureSizeDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PictureSizeDialog::reject);
  connect(default_, &QPushButton::clicked, this, [this] {
    width_->setText(QString::number(defaultWidth_));
    height_->setText(QString::number(defaultHeight_));
  });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addWidget(limits);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  width_->setFocus();
  width_->selectAll();
}

void PictureSizeDialog::accept() {
  const long long w = sideOf(width_->text());
  const long long h = sideOf(height_->text());
  QLineEdit* wrongField = w < 0 ? width_ : height_;
  std::string wrong;
  if (w < 0 || h < 0) {
    wrong = "The width and the height must be whole numbers of pixels (" + analysisSizeLimits() + ")";
  } else {
    wrong = analysisSizeRefusal(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h),
                                "The size " + std::to_string(w) + " x " + std::to_string(h));
    // The side past the limit, or the height when only their product is.
    if (!wrong.empty()) wrongField = analysisSizeRefusal(static_cast<std::uint64_t>(w), 1, "").empty() ? height_ : width_;
  }
  if (!wrong.empty()) {
    showErrorBox(this, "%s", wrong.c_str());
    wrongField->setFocus();
    wrongField->selectAll();
    return;
  }
  chosenWidth_ = static_cast<std::uint32_t>(w);
  chosenHeight_ = static_cast<std::uint32_t>(h);
  QDialog::accept();
}

bool askPictureSize(QWidget* owner, const QString& waveName, std::uint32_t& width, std::uint32_t& height) {
  PictureSizeDialog dialog(owner, waveName, width, height);
  if (dialog.exec() != QDialog::Accepted) return false;
  width = dialog.chosenWidth();
  height = dialog.chosenHeight();
  return true;
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/digits_field.h"

#include <QApplication>
#include <QLineEdit>
#include <QToolTip>

namespace vellomar {
namespace {

std::function<void()> gDefaultSound;

bool onlyDigits(const QString& text) {
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

}  // namespace

void playDefaultSound() {
  if (gDefaultSound) {
    gDefaultSound();
  } else {
    QApplication::beep();
  }
}

void setDefaultSound(std::function<void()> sound) { gDefaultSound = std::move(sound); }

DigitsOnlyValidator::DigitsOnlyValidator(QLineEdit* field) : QValidator(field), field_(field) {}

QValidator::State DigitsOnlyValidator::validate(QString& input, int&) const {
  if (onlyDigits(input)) return Acceptable;
  // The field keeps its text; tell the user why the key did nothing.
  playDefaultSound();
  if (field_) {
    const QPoint below = field_->mapToGlobal(QPoint(0, field_->height()));
    QToolTip::showText(below, QString::fromLatin1(kOnlyDigitsTip), field_);
  }
  return Invalid;
}

void makeDigitsOnly(QLineEdit* field) { field->setValidator(new DigitsOnlyValidator(field)); }

}  // namespace vellomar

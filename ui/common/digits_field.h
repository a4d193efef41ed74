// SPDX-License-Identifier: GPL-3.0-or-later
// Digits-only text fields that refuse other keystrokes where the user sees
// and hears it, and the system's default sound the window plays whenever it
// refuses or corrects what was typed.
#pragma once

#include <QValidator>
#include <functional>

class QLineEdit;

namespace vellomar {

// What a digits-only field says, next to it, when a keystroke is refused.
inline constexpr const char* kOnlyDigitsTip = "Only digits";

// Accepts a text of digits only (an empty text too). Anything else typed or
// pasted into the field is refused as before, but no longer silently: the
// default sound plays and a tooltip at the field says kOnlyDigitsTip, so
// that "12.5" typed into a gain field cannot quietly become 125.
class DigitsOnlyValidator : public QValidator {
 public:
  explicit DigitsOnlyValidator(QLineEdit* field);
  State validate(QString& input, int& position) const override;

 private:
  QLineEdit* field_;
};

// Makes `field` a digits-only field (its validator is owned by it).
void makeDigitsOnly(QLineEdit* field);

// The system's default sound (QApplication::beep). Tests replace it with
// setDefaultSound; an empty function restores the beep.
void playDefaultSound();
void setDefaultSound(std::function<void()> sound);

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the widget tests: the window's process-wide state.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "support/test_support.h"
#include "ui/common/app_state.h"

namespace vellomar::test {

// Puts the window's settings, run state and picture back to program start.
void resetWindowState();

// Runs `act` on the modal dialog named `objectName` as soon as it opens
// (within five seconds), for a command that runs it with exec(); `act`
// ends it. answered() tells, after the command, whether it opened.
class ModalAnswer {
 public:
  ModalAnswer(const QString& objectName, std::function<void(QWidget*)> act);
  ~ModalAnswer();
  ModalAnswer(const ModalAnswer&) = delete;
  ModalAnswer& operator=(const ModalAnswer&) = delete;
  bool answered() const { return *answered_; }

 private:
  std::shared_ptr<bool> answered_;
  std::shared_ptr<bool> live_;
};

// Presses Cancel on the progress dialog of work run in the background
// (runWithProgress) as soon as it exists, and sets `pressed`.
void pressCancelOnBackgroundWork(bool& pressed);

// A test picture that is the window's current picture while it lives.
class WindowPicture : public TestPicture {
 public:
  template <typename F>
  WindowPicture(std::uint32_t width, std::uint32_t height, F brightness) : TestPicture(width, height, brightness) {
    pictureData = data();
  }
  ~WindowPicture() { pictureData = PictureData{}; }
};

}  // namespace vellomar::test

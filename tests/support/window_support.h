// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the widget tests: the window's process-wide state.
#pragma once

#include <cstdint>

#include "support/test_support.h"
#include "ui/common/app_state.h"

namespace vellomar::test {

// Puts the window's settings, run state and picture back to program start.
void resetWindowState();

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

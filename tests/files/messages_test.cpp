// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace vellomar {
namespace {

const std::string kInternal06 =
    "Internal error #06 occured. The program may malfunction or hang.\n"
    "It is recommended to close the program and launch it again.";

TEST(Messages, EachResultInItsWords) {
  const std::pair<ResultCode, std::string> cases[] = {
      {3, "Not enough memory"},
      {4, "Failed to read a part of input wave file. The file may be damaged or incomplete"},
      {7, "Cannot write to output wave file. You may be running out of disk space"},
      {8,
       "Internal error #07 occured. The program may malfunction or hang.\n"
       "It is recommended to close the program and launch it again."},
      {9,
       "Internal error #08 occured. The program may malfunction or hang.\n"
       "It is recommended to close the program and launch it again."},
      {110, kInternal06},
      {5, "Unknown error 5 occured while generating the sound"},
      {-1, "Unknown error 4294967295 occured while generating the sound"},
  };
  for (const auto& [code, text] : cases) {
    SCOPED_TRACE(code);
    test::MessageRecorder shown;
    messageForResult(nullptr, code);
    const auto m = shown.only();
    EXPECT_EQ(m.text, text);
    EXPECT_EQ(m.caption, "Vellomar: ERROR");
    EXPECT_EQ(m.boxType, kBoxIconError | kBoxOk);
  }
  test::MessageRecorder shown;
  messageForResult(nullptr, 0);
  messageForResult(nullptr, 111);
  EXPECT_TRUE(shown.messages().empty());
}

TEST(Messages, PrintfFormattingIsCutAt2999Characters) {
  test::MessageRecorder shown;
  const std::string longName(5000, 'n');
  EXPECT_EQ(showMessage(nullptr, kBoxYesNo | kBoxIconWarning, "Warning", "%d-%s", 42, longName.c_str()), kButtonYes);
  ASSERT_EQ(shown.messages().size(), 1u);
  const auto& m = shown.messages()[0];
  EXPECT_EQ(m.text.size(), 2999u);
  EXPECT_EQ(m.text.substr(0, 4), "42-n");
  EXPECT_EQ(m.caption, "Warning");
  EXPECT_EQ(m.boxType, kBoxYesNo | kBoxIconWarning);
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers on vellomar-render's command line are plain decimals: CLI11 would
// read "0x10" as sixteen and "010" as eight (C's own number syntax), which
// no one means by a duration or a gain.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace vellomar::cli {

// Whether `text` is a decimal number: an optional sign, digits with at most
// one point (at least one digit), and an optional exponent.
inline bool isDecimal(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == start) return false;
  }
  return i == text.size();
}

// Refuses anything but a decimal number, and drops the leading zeros of
// its whole part so that the parser reads "010" as ten.
inline CLI::Validator decimalNumber() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (!isDecimal(text)) return "'" + text + "' is not a decimal number";
        const std::size_t start = text[0] == '+' || text[0] == '-' ? 1 : 0;
        std::size_t zeros = start;
        while (zeros + 1 < text.size() && text[zeros] == '0' && text[zeros + 1] >= '0' && text[zeros + 1] <= '9') {
          ++zeros;
        }
        text.erase(start, zeros - start);
        return std::string();
      },
      "");
}

}  // namespace vellomar::cli

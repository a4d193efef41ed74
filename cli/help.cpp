// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/help.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace vellomar::cli {
namespace {

// The names' column: option names and placeholders up to this width.
constexpr std::size_t kNameColumn = 30;
constexpr std::size_t kLeastWidth = 60;

const char* const kDescription =
    "Renders a picture into a sound: rows are time (top first), columns are frequency, brightness is gain. The "
    "sound is rendered at 44100 Hz from pink or white noise or an input sound file, and written as WAV or FLAC.";

const char* const kPlaceholders =
    "FILE is a file name (- for standard input or output), HZ a frequency or rate in hertz, DB decibels, SEC "
    "seconds, N and S whole numbers, NAME one of the words listed.";

const char* const kExamples[] = {
    "vellomar-render picture.png out.wav",
    "vellomar-render --input voice.flac --format flac24 --rate 96000 picture.png out.flac",
    "vellomar-render --stereo --duration 30 --scale log picture.png out.wav",
    "vellomar-render picture.png - | sox -t wav - -n stat",
    "vellomar-render --analyse recording.mp3 picture.png",
};

// CLI11's formatter with every text wrapped to the terminal.
class WrappingFormatter : public CLI::Formatter {
 public:
  explicit WrappingFormatter(std::size_t width) : width_(width) { column_width(kNameColumn); }

  std::string make_option_desc(const CLI::Option* option) const override {
    return wrapText(CLI::Formatter::make_option_desc(option), width_ - kNameColumn, 0);
  }
  std::string make_description(const CLI::App* app) const override {
    return wrapText(app->get_description(), width_, 0) + "\n\n" + wrapText(kPlaceholders, width_, 0) + "\n\n";
  }
  std::string make_footer(const CLI::App*) const override {
    std::string text = "\nExamples:\n";
    for (const char* example : kExamples) text += "  " + wrapText(example, width_ - 2, 4) + "\n";
    text += "\n" + wrapText("Exit codes: 0 written; 1 a file cannot be used or the render fails; 2 a usage error; "
                            "130, 143 or 129 when interrupted by SIGINT, SIGTERM or SIGHUP.",
                            width_, 0);
    return text + "\n";
  }

 private:
  std::size_t width_;
};

}  // namespace

int terminalColumns() {
  struct winsize size = {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int value = std::atoi(columns);
    if (value > 0) return value;
  }
  return 80;
}

std::string wrapText(const std::string& text, std::size_t width, std::size_t indent) {
  std::string out;
  std::size_t column = 0;
  std::size_t from = 0;
  while (from < text.size()) {
    if (text[from] == '\n') {
      out += '\n';
      column = 0;
      ++from;
      continue;
    }
    std::size_t end = text.find_first_of(" \n", from);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(from, end - from);
    if (column > 0 && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (column > 0) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    from = end < text.size() && text[end] == ' ' ? end + 1 : end;
  }
  return out;
}

void describeProgram(CLI::App& app) {
  const auto width = std::max<std::size_t>(kLeastWidth, static_cast<std::size_t>(terminalColumns()) - 1);
  app.description(kDescription);
  app.formatter(std::make_shared<WrappingFormatter>(width));
  app.footer(" ");
  app.set_version_flag("--version", std::string("vellomar-render ") + VELLOMAR_VERSION +
                                        "\nLicence: GPL-3.0-or-later (GNU General Public License, version 3 or "
                                        "later).\nThis is free software: you may change and share it. There is "
                                        "NO WARRANTY, to the extent permitted by law.");
}

}  // namespace vellomar::cli

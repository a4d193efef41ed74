// SPDX-License-Identifier: GPL-3.0-or-later
// The manual page docs/vellomar-render.1 against the options that
// `vellomar-render --help` lists: every option in one is in the other, with
// the same value choices. A failure names the options to add or remove.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace vellomar {
namespace {

// Option name (each spelling, "-q" and "--quiet" apart) to its value
// choices, empty when it takes no fixed list.
using OptionTable = std::map<std::string, std::set<std::string>>;

std::string helpText() {
  const std::string program = VELLOMAR_RENDER_EXE;
  const std::string command = "'" + program + "' --help";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  pclose(pipe);
  return text;
}

std::string manPageText() {
  std::ifstream in(VELLOMAR_MAN_PAGE);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> split(const std::string& text, const std::string& separators) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : text + separators.substr(0, 1)) {
    if (separators.find(c) == std::string::npos) {
      part += c;
    } else if (!part.empty()) {
      parts.push_back(part);
      part.clear();
    }
  }
  return parts;
}

// The Options section of --help: a line that starts with two spaces and a
// dash names an option ("  -q,--quiet", "  --scale TEXT:{linear,log,mel}").
OptionTable helpOptions(const std::string& help) {
  OptionTable table;
  bool inOptions = false;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Options:", 0) == 0) inOptions = true;
    if (!inOptions || line.rfind("  -", 0) != 0) continue;
    const std::vector<std::string> words = split(line, " ");
    std::set<std::string> choices;
    if (words.size() > 1) {
      const std::size_t open = words[1].find(":{");
      const std::size_t close = words[1].rfind('}');
      if (open != std::string::npos && close != std::string::npos && close > open) {
        for (const std::string& c : split(words[1].substr(open + 2, close - open - 2), ",")) choices.insert(c);
      }
    }
    for (const std::string& name : split(words[0], ",")) table[name] = choices;
  }
  return table;
}

// The tag line of a .TP entry with fonts and quotes taken out, "\-" read as
// "-": ".BR \-\-scale " " \fIlinear\fR|\fIlog\fR" gives "--scale linear|log".
std::string plainTag(std::string line) {
  for (const char* macro : {".BR ", ".BI ", ".IR ", ".B ", ".I "}) {
    if (line.rfind(macro, 0) == 0) {
      line = line.substr(std::string(macro).size());
      break;
    }
  }
  std::string plain;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '-') {
      plain += '-';
      ++i;
    } else if (line[i] == '\\' && i + 2 < line.size() && line[i + 1] == 'f') {
      i += 2;
    } else if (line[i] != '"') {
      plain += line[i];
    }
  }
  return plain;
}

// The OPTIONS section of the page: the line after each .TP names one option
// or several ("-q, --quiet"), then its value, a list "a|b|c" of choices.
OptionTable manOptions(const std::string& page) {
  OptionTable table;
  bool inOptions = false;
  bool tagNext = false;
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".SH", 0) == 0) inOptions = line.find("OPTIONS") != std::string::npos;
    if (!inOptions) continue;
    if (line.rfind(".TP", 0) == 0) {
      tagNext = true;
      continue;
    }
    if (!tagNext) continue;
    tagNext = false;
    std::vector<std::string> names;
    std::set<std::string> choices;
    for (const std::string& word : split(plainTag(line), " ,")) {
      if (word[0] == '-') {
        names.push_back(word);
      } else if (word.find('|') != std::string::npos) {
        for (const std::string& c : split(word, "|")) choices.insert(c);
      }
    }
    for (const std::string& name : names) table[name] = choices;
  }
  return table;
}

std::string missingFrom(const OptionTable& have, const OptionTable& other) {
  std::string names;
  for (const auto& [name, choices] : have) {
    if (other.count(name) == 0) names += " " + name;
  }
  return names;
}

std::string joined(const std::set<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : "|") + w;
  return text.empty() ? "(none)" : text;
}

TEST(ManPage, ListsTheOptionsOfHelpAndNoOthers) {
  const OptionTable help = helpOptions(helpText());
  const OptionTable man = manOptions(manPageText());
  // Both parsers must see the long-standing options, or the comparison
  // below would pass on two empty tables.
  for (const char* known : {"--help", "--source", "--quiet", "-q"}) {
    ASSERT_EQ(help.count(known), 1u) << known << " not found in vellomar-render --help";
    ASSERT_EQ(man.count(known), 1u) << known << " not found under .SH OPTIONS in " << VELLOMAR_MAN_PAGE;
  }

  EXPECT_EQ(missingFrom(help, man), "")
      << "vellomar-render --help lists these options, the man page does not; add a .TP entry for each under "
         ".SH OPTIONS in docs/vellomar-render.1";
  EXPECT_EQ(missingFrom(man, help), "")
      << "docs/vellomar-render.1 describes these options, vellomar-render --help does not list them; remove their "
         ".TP entries or add the options";
  for (const auto& [name, choices] : help) {
    const auto entry = man.find(name);
    if (entry == man.end()) continue;
    EXPECT_EQ(joined(entry->second), joined(choices))
        << "the value choices of " << name << " in docs/vellomar-render.1 (left) differ from --help (right)";
  }
}

// The Positionals section of --help: "  PICTURE TEXT REQUIRED  Picture file".
std::vector<std::string> helpPositionals(const std::string& help) {
  std::vector<std::string> names;
  bool inPositionals = false;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Positionals:", 0) == 0) inPositionals = true;
    if (line.rfind("Options:", 0) == 0) inPositionals = false;
    if (inPositionals && line.size() > 2 && line.rfind("  ", 0) == 0 && line[2] != ' ') {
      names.push_back(split(line, " ")[0]);
    }
  }
  return names;
}

TEST(ManPage, SynopsisNamesThePositionalArguments) {
  const std::vector<std::string> positionals = helpPositionals(helpText());
  ASSERT_FALSE(positionals.empty()) << "no positional arguments found in vellomar-render --help";
  const std::string page = manPageText();
  const std::size_t synopsis = page.find(".SH SYNOPSIS");
  ASSERT_NE(synopsis, std::string::npos);
  const std::string text = page.substr(synopsis, page.find(".SH", synopsis + 1) - synopsis);
  for (const std::string& name : positionals) {
    EXPECT_NE(text.find(name), std::string::npos) << name << " missing from the SYNOPSIS of docs/vellomar-render.1";
  }
}

}  // namespace
}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/settings_logic.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>

#include "engine/settings.h"

namespace vellomar {
namespace {

// The digits of a field read as an integer, as the window system's integer
// read-out does: blanks around it allowed, an optional sign when `signed_`,
// anything else makes it no number.
bool parseInteger(const std::string& text, bool signed_, long long& value) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (signed_ && i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t digitsStart = i;
  long long v = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    if (v < 1000000000LL) v = v * 10 + (text[i] - '0');
    ++i;
  }
  if (i == digitsStart) return false;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i != text.size()) return false;
  value = negative ? -v : v;
  return true;
}

std::string printf1(const char* format, int digits, double value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, digits, value);
  return buffer;
}

}  // namespace

std::int32_t rangeDbFromText(const std::string& text) {
  bool clamped = false;
  return rangeDbFromText(text, clamped);
}

std::int32_t rangeDbFromText(const std::string& text, bool& clamped) {
  long long v = 0;
  const bool number = parseInteger(text, false, v);
  clamped = number && (v < kMinRangeDb || v > kMaxRangeDb);
  return roundRangeDb(number ? v : 0);
}

std::int32_t gainDbFromText(const std::string& text, bool& rewrite) {
  long long v = 0;
  if (!parseInteger(text, true, v)) v = 0;
  const std::int32_t clamped = clampGainDb(v);
  rewrite = clamped != v;
  return clamped;
}

DurationEntry durationFromText(const std::string& text, float previous) {
  std::string s = text.substr(0, 499);
  const std::size_t comma = s.find(',');
  if (comma != std::string::npos) s[comma] = '.';
  const char* begin = s.c_str();
  char* end = nullptr;
  // Nothing parsed leaves end at the start: 0, and any text left refuses it.
  const float value = static_cast<float>(std::strtod(begin, &end));
  DurationEntry entry;
  // "nan" reads as a number but is none: refused like any other bad text.
  if (*end != '\0' || std::isnan(value) || value < 0.0f || value > kMaxDurationSeconds) {
    entry.accepted = false;
    entry.seconds = previous;
    return entry;
  }
  entry.accepted = true;
  entry.seconds = value > kMinDurationSeconds ? value : kMinDurationSeconds;
  return entry;
}

std::string formatDuration(float seconds) {
  // Six digits, or as many more as the field needs to read back the same
  // duration: 220430 samples are 4.99841261 s, and 4.99841 s renders one
  // sample less.
  char buffer[64];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(seconds));
    if (static_cast<float>(std::strtod(buffer, nullptr)) == seconds) break;
  }
  return buffer;
}

float durationOfSamples(std::uint32_t count, std::uint32_t rate) {
  if (rate == 0) return 0.0f;
  float d = static_cast<float>(static_cast<double>(count) / static_cast<double>(rate));
  const float infinity = std::numeric_limits<float>::infinity();
  while (noiseSampleCount(rate, d) < count && d < infinity) d = std::nextafter(d, infinity);
  while (noiseSampleCount(rate, d) > count && d > 0.0f && noiseSampleCount(rate, std::nextafter(d, 0.0f)) >= count) {
    d = std::nextafter(d, 0.0f);
  }
  return d;
}

int timePerLineDigits(float t) {
  const double td = t;
  if (td < 0.0199) return 4;
  if (td < 0.199) return 3;
  if (td < 1.99) return 2;
  return 1;
}

float timePerLine(float durationSeconds, std::uint32_t pictureHeight) {
  if (pictureHeight == 0 || durationSeconds == 0.0f) return 0.0f;
  return durationSeconds / static_cast<float>(pictureHeight);
}

std::string timePerLineText(float t) {
  return printf1("Time per picture line is %.*f sec", timePerLineDigits(t), static_cast<double>(t));
}

float timeGranularity(std::int32_t blockLength, std::int32_t subBlocks, std::uint32_t sampleRate) {
  const float denominator = static_cast<float>(subBlocks) * static_cast<float>(sampleRate);
  if (denominator == 0.0f) return 0.0f;
  return static_cast<float>(blockLength) / denominator;
}

bool granularityNeedsWarning(float g, float t) {
  if (t == 0.0f) return false;
  if (0.5f * t <= g) return false;
  if (static_cast<double>(g) > 0.5) return false;
  return true;
}

std::string granularityWarningText(float g, float t) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer,
                "Selected time granularity is %.*f sec while the time per "
                "picture line is %.*f sec.\nThis will "
                "extend calculation time without significant improvement in "
                "sound quality. Do you wish to continue?",
                static_cast<double>(g) < 0.199 ? 3 : 2, static_cast<double>(g), timePerLineDigits(t),
                static_cast<double>(t));
  return buffer;
}

}  // namespace vellomar

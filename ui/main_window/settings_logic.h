// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window's number fields and read-outs do with their text,
// apart from the widgets that show it.
#pragma once

#include <cstdint>
#include <string>

namespace vellomar {

// The dB range field: the text as an unsigned integer (0 when it is not
// one), rounded to the nearest multiple of 10 (halves up), clamped to 20..120.
std::int32_t rangeDbFromText(const std::string& text);
// The same, telling whether a typed number lay outside 20..120 (and so was
// clamped, not only rounded).
std::int32_t rangeDbFromText(const std::string& text, bool& clamped);

// The master gain field: the text as a signed integer (0 when it is not
// one), clamped to 0..48. `rewrite` tells whether the field must show the
// clamped value (it keeps its text otherwise, an empty field included).
std::int32_t gainDbFromText(const std::string& text, bool& rewrite);

// The duration field. The first comma counts as the decimal point. A text
// with characters after the number, or a value below 0 or above 1000000,
// is refused (`accepted` false, `seconds` = previous). Otherwise the value,
// at least 0.02.
struct DurationEntry {
  bool accepted = false;
  float seconds = 0.0f;
};
DurationEntry durationFromText(const std::string& text, float previous);

// A duration as the field shows it: "%g", with as many more digits (up to
// nine) as it takes for the text to read back as the same float.
std::string formatDuration(float seconds);

// The duration whose noise render has `count` samples at `rate`
// (noiseSampleCount): the float nearest count / rate when that one has,
// else the nearest that has. A sound too long for a float to count its
// samples gets the nearest duration that renders no fewer.
float durationOfSamples(std::uint32_t count, std::uint32_t rate);

// Digits after the point for a time per picture line t: 4 below 0.0199,
// 3 below 0.199, 2 below 1.99, else 1.
int timePerLineDigits(float t);

// The time one picture row covers: d / height as a float (0 when either is 0).
float timePerLine(float durationSeconds, std::uint32_t pictureHeight);

// "Time per picture line is %.*f sec".
std::string timePerLineText(float t);

// The hop length in seconds: N / (S * rate) as a float.
float timeGranularity(std::int32_t blockLength, std::int32_t subBlocks, std::uint32_t sampleRate);

// Whether a render with hop length g over picture lines of t seconds asks
// first: only when a hop is shorter than half a line and at most 0.5 s.
// t = 0 (no picture or no duration) never asks.
bool granularityNeedsWarning(float g, float t);

// The text of that question.
std::string granularityWarningText(float g, float t);

}  // namespace vellomar

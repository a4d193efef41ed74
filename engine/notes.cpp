// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/notes.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace vellomar {
namespace {

constexpr const char* kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
// Semitones of C D E F G A B above C.
constexpr int kLetterSemitones[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kLowestOctave = -1;
constexpr int kHighestOctave = 10;

int floorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string noteName(int note) {
  const int octave = floorDiv(note, 12) - 1;
  const int within = note - 12 * (octave + 1);
  return std::string(kNames[within]) + std::to_string(octave);
}

std::optional<int> parseNote(std::string_view text) {
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
  if (letter < 'A' || letter > 'G') return std::nullopt;
  // C D E F G A B in order from C.
  static constexpr char kOrder[8] = "CDEFGAB";
  int semitone = 0;
  for (int i = 0; i < 7; ++i) {
    if (kOrder[i] == letter) semitone = kLetterSemitones[i];
  }
  text.remove_prefix(1);
  if (!text.empty() && text.front() == '#') {
    ++semitone;
    text.remove_prefix(1);
  } else if (!text.empty() && text.front() == 'b') {
    --semitone;
    text.remove_prefix(1);
  }
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 2) return std::nullopt;
  int octave = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    octave = octave * 10 + (c - '0');
  }
  if (negative) octave = -octave;
  if (octave < kLowestOctave || octave > kHighestOctave) return std::nullopt;
  return 12 * (octave + 1) + semitone;
}

double noteFrequency(int note, double a4Hz) { return a4Hz * std::exp2(static_cast<double>(note - kNoteA4) / 12.0); }

double notePosition(double hz, double a4Hz) { return kNoteA4 + 12.0 * std::log2(hz / a4Hz); }

std::optional<NoteRange> parseNoteRange(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::optional<int> low = parseNote(text.substr(0, colon));
  const std::optional<int> high = parseNote(text.substr(colon + 1));
  if (!low || !high) return std::nullopt;
  return NoteRange{*low, *high};
}

NoteLimits noteLimits(double a4Hz, std::uint32_t sampleRate, std::int32_t blockLength) {
  const BandLimits band = bandLimits(FrequencyScale::Logarithmic, sampleRate, blockLength);
  NoteLimits limits;
  // A hair inside, so that a note on an end (rounded to float) stays in.
  limits.lowest = static_cast<int>(std::ceil(notePosition(band.lowestHz, a4Hz) - 1e-9));
  limits.highest = static_cast<int>(std::floor(notePosition(band.highestHz, a4Hz) + 1e-9));
  limits.leastWidthHz = band.leastWidthHz;
  return limits;
}

std::string noteLimitsText(const NoteLimits& limits, double a4Hz) {
  char text[200];
  std::snprintf(text, sizeof text, "%s ... %s at A4 = %g Hz, the lowest note below the highest and at least %g Hz from it",
                noteName(limits.lowest).c_str(), noteName(limits.highest).c_str(), a4Hz,
                std::ceil(limits.leastWidthHz * 100.0) / 100.0);
  return text;
}

bool noteRangeFits(const NoteRange& range, double a4Hz, const NoteLimits& limits) {
  if (!(a4Hz >= kMinA4Hz && a4Hz <= kMaxA4Hz)) return false;
  if (range.lowest < limits.lowest || range.highest > limits.highest || range.highest <= range.lowest) return false;
  const FrequencyBand band = noteBand(range, a4Hz);
  return static_cast<double>(band.highHz) - static_cast<double>(band.lowHz) >= limits.leastWidthHz &&
         band.lowHz >= kLowestWarpedFrequency;
}

FrequencyBand noteBand(const NoteRange& range, double a4Hz) {
  return FrequencyBand{static_cast<float>(noteFrequency(range.lowest, a4Hz)),
                       static_cast<float>(noteFrequency(range.highest, a4Hz))};
}

std::uint64_t noteColumns(const NoteRange& range, int columnsPerSemitone) {
  if (range.highest <= range.lowest || columnsPerSemitone < 1) return 1;
  return static_cast<std::uint64_t>(range.highest - range.lowest) * static_cast<std::uint64_t>(columnsPerSemitone) + 1;
}

double semitoneSeparationHz(std::uint32_t sampleRate, std::int32_t blockLength) {
  if (blockLength < 1) return 0.0;
  const double bin = static_cast<double>(sampleRate) / static_cast<double>(blockLength);
  return bin / (std::exp2(1.0 / 12.0) - 1.0);
}

int lowestSeparableNote(double a4Hz, std::uint32_t sampleRate, std::int32_t blockLength) {
  return static_cast<int>(std::ceil(notePosition(semitoneSeparationHz(sampleRate, blockLength), a4Hz)));
}

void applyNoteRange(RenderSettings& settings, const NoteRange& range, double a4Hz) {
  const FrequencyBand band = noteBand(range, a4Hz);
  settings.frequencyScale = FrequencyScale::Logarithmic;
  settings.bandLowHz = band.lowHz;
  settings.bandHighHz = band.highHz;
}

}  // namespace vellomar

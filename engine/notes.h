// SPDX-License-Identifier: GPL-3.0-or-later
// Notes of the equal-tempered scale in scientific pitch notation: note
// numbers count semitones with C4 (middle C) at 60 and A4, the tuning
// reference, at 69; names use sharps ("C4", "C#4", ... "B4"). A range of
// notes puts the picture's columns on notes: the Logarithmic scale over
// the band from the lowest note to the highest, K columns a semitone, in a
// picture (highest - lowest) * K + 1 columns wide.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/scales.h"
#include "engine/settings.h"

namespace vellomar {

inline constexpr int kNoteA4 = 69;
inline constexpr double kDefaultA4Hz = 440.0;
// The tunings a user may choose for A4, in Hz.
inline constexpr double kMinA4Hz = 380.0;
inline constexpr double kMaxA4Hz = 500.0;
inline constexpr int kMaxColumnsPerSemitone = 100;

// "C", "C#", ... "B" and the octave: note 60 is "C4", note 1 "C#-1".
std::string noteName(int note);

// The note a name stands for: a letter A ... G (either case), an optional
// '#' (or 'b' for a flat), and an octave -1 ... 10, blanks around it
// allowed. Nothing when the text is not such a name.
std::optional<int> parseNote(std::string_view text);

// a4Hz * 2^((note - 69) / 12).
double noteFrequency(int note, double a4Hz);

// The note number of a frequency, fractional: 69 + 12 log2(hz / a4Hz).
double notePosition(double hz, double a4Hz);

struct NoteRange {
  int lowest = 33;    // A1
  int highest = 117;  // A8
};

// "LOW:HIGH", such as "A1:A8". Nothing when either name is not a note or
// the colon is missing.
std::optional<NoteRange> parseNoteRange(std::string_view text);

// The notes a range may span at a tuning: those whose frequencies the
// Logarithmic scale holds (from its lowest frequency up to half the rate),
// the lowest below the highest by at least one semitone, and a band at
// least one bin (rate / N) wide.
struct NoteLimits {
  int lowest = 0;
  int highest = 0;
  double leastWidthHz = 0.0;
};
NoteLimits noteLimits(double a4Hz, std::uint32_t sampleRate, std::int32_t blockLength);

// The limits in words: "C0 ... E10 at A4 = 440 Hz, the lowest note below
// the highest and at least 5.39 Hz from it" (the least width rounded up
// to hundredths).
std::string noteLimitsText(const NoteLimits& limits, double a4Hz);

// Whether `range` keeps to `limits` at `a4Hz` (a tuning outside
// kMinA4Hz ... kMaxA4Hz never does).
bool noteRangeFits(const NoteRange& range, double a4Hz, const NoteLimits& limits);

// The band from the lowest note's frequency to the highest's.
FrequencyBand noteBand(const NoteRange& range, double a4Hz);

// Columns of a picture whose every K-th column, from the first, falls on a
// note of `range`: (highest - lowest) * K + 1.
std::uint64_t noteColumns(const NoteRange& range, int columnsPerSemitone);

// The lowest frequency at which neighbouring semitones lie a frequency
// bin (rate / N) apart or more: below it a noise or wave render cannot
// tell them apart. bin / (2^(1/12) - 1): about 90.5 Hz at N = 8192.
double semitoneSeparationHz(std::uint32_t sampleRate, std::int32_t blockLength);

// The lowest note at or above semitoneSeparationHz.
int lowestSeparableNote(double a4Hz, std::uint32_t sampleRate, std::int32_t blockLength);

// Settings for a range of notes: the Logarithmic scale over its band.
void applyNoteRange(RenderSettings& settings, const NoteRange& range, double a4Hz);

}  // namespace vellomar

#include "cli/options.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "engine/granularity.h"
#include "engine/scales.h"

namespace vellomar::cli {
namespace {

std::string entryNumbers(const std::vector<std::string>& list) {
  std::string text;
  for (const std::string& entry : list) {
    if (!text.empty()) text += ", ";
    text += entry.substr(0, entry.find(' '));
  }
  return text;
}

// Picks N and S from the options the way the window's granularity lists do.
// Returns 0 or a usage-error exit code (after saying why).
int applyGranularity(const Options& o, const CLI::App& app, RenderSettings& settings) {
  const bool blockGiven = app.count("--block-length") > 0;
  const bool subGiven = app.count("--subblocks") > 0;
  const bool freqGiven = app.count("--freq-granularity") > 0;
  const bool timeGiven = app.count("--time-granularity") > 0;

  if (!isPowerOfTwo(o.blockLength) || o.blockLength < kMinBlockLength || o.blockLength > kMaxBlockLength) {
    return usageError("--block-length must be a power of two from 2048 to 32768");
  }
  if (!isPowerOfTwo(o.subBlocks) || o.subBlocks > kMaxSubBlocks) {
    return usageError("--subblocks must be a power of two from 1 to 16");
  }
  std::int32_t n = o.blockLength;
  std::int32_t s = o.subBlocks;
  const GranularityLists lists = buildGranularityLists(settings.sampleRate);

  float seconds = 0.0f;
  if (timeGiven) {
    const int entry = matchListEntry(lists.time, o.timeGranularity);
    if (entry < 0) return usageError("--time-granularity must be one of " + entryNumbers(lists.time) + " (seconds)");
    seconds = leadingNumber(lists.time[static_cast<std::size_t>(entry)]);
  }
  if (freqGiven) {
    const int entry = matchListEntry(lists.frequency, o.freqGranularity);
    if (entry < 0) return usageError("--freq-granularity must be one of " + entryNumbers(lists.frequency) + " (Hz)");
    if (!timeGiven && !subGiven) {
      // The time list keeps showing the entry that matched before.
      const int shown = matchTimeEntry(lists.time, settings.sampleRate, n, s);
      if (shown >= 0) seconds = leadingNumber(lists.time[static_cast<std::size_t>(shown)]);
    }
    const float hz = leadingNumber(lists.frequency[static_cast<std::size_t>(entry)]);
    if (seconds > 0.0f) {
      if (!applyFrequencyGranularity(hz, seconds, settings.sampleRate, n, s)) {
        return usageError("no sub-block count fits this time granularity");
      }
    } else {
      n = blockLengthForFrequency(hz, settings.sampleRate);
    }
  } else if (timeGiven) {
    if (!deriveSubBlocks(seconds, settings.sampleRate, n, s, !blockGiven)) {
      return usageError("no block length fits this time granularity");
    }
  }
  if (s > n) return usageError("--subblocks must not exceed the block length");
  settings.blockLength = n;
  settings.subBlocksPerBlock = s;
  return 0;
}

// Puts the picture between --low-hz and --high-hz, after the scale and the
// block length are known (the band must hold a bin). Returns 0 or a
// usage-error exit code (after saying which bands are allowed).
int applyBand(const Options& o, const CLI::App& app, const std::string& scale, RenderSettings& settings) {
  const bool lowGiven = app.count("--low-hz") > 0;
  const bool highGiven = app.count("--high-hz") > 0;
  if (!lowGiven && !highGiven) return 0;
  const BandLimits limits = bandLimits(settings.frequencyScale, settings.sampleRate, settings.blockLength);
  const float low = lowGiven ? o.lowHz : limits.lowestHz;
  const float high = highGiven ? o.highHz : limits.highestHz;
  if (!bandFits(limits, low, high)) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "--low-hz and --high-hz must lie within %g ... %g on the %s scale, --low-hz at least %g below "
                  "--high-hz (one bin at block length %d)",
                  static_cast<double>(limits.lowestHz), static_cast<double>(limits.highestHz), scale.c_str(),
                  std::ceil(limits.leastWidthHz * 100.0) / 100.0, static_cast<int>(settings.blockLength));
    return usageError(text);
  }
  settings.bandLowHz = low;
  settings.bandHighHz = high;
  return 0;
}

}  // namespace

void addOptions(CLI::App& app, Options& o) {
  app.add_option("PICTURE", o.picture,
                 "Picture file (BMP, PNG, JPEG, GIF, TIFF); with --analyse, the wave file to analyse")
      ->required();
  app.add_option("OUTPUT.wav", o.output, "Output wave file; with --analyse, the PNG picture to write")->required();
  app.add_flag("--analyse", o.analyse,
               "Analyse a wave into a picture instead: vellomar-render --analyse [options] INPUT.wav OUTPUT.png. "
               "The picture is the one whose render sounds like the wave, on the grid and mapping of the "
               "options (--source pink or white names the tilt to take out)");
  app.add_option("--size", o.size,
                 "With --analyse: the picture's WIDTHxHEIGHT (default 512 columns and one row per hop of the "
                 "time granularity)");
  app.add_option("--source", o.source, "Sound source: pink, white or wave (default pink)")
      ->check(CLI::IsMember({"pink", "white", "wave"}));
  app.add_option("--input", o.input, "Input wave file (mono, 8 or 16 bit, 44100 Hz); implies --source wave");
  app.add_option("--scale", o.scale, "Frequency scale: linear, log or mel (default mel)")
      ->check(CLI::IsMember({"linear", "log", "mel"}));
  auto* block = app.add_option("--block-length", o.blockLength,
                               "Block length N: power of two 2048 ... 32768 "
                               "(default 8192)");
  auto* sub = app.add_option("--subblocks", o.subBlocks,
                             "Sub-blocks per block S: power of two 1 ... 16, at most N "
                             "(default 4)");
  auto* freq = app.add_option("--freq-granularity", o.freqGranularity,
                              "Frequency granularity in Hz (1.35, 2.7, 5.4, 10.8, 22); picks N");
  auto* time = app.add_option("--time-granularity", o.timeGranularity,
                              "Time granularity in seconds (0.012 ... 0.74); picks S, and N when needed");
  freq->excludes(block);
  time->excludes(sub);
  app.add_option("--brightness", o.brightness, "Brightness to gain: lin or log (default lin)")
      ->check(CLI::IsMember({"lin", "log"}));
  app.add_option("--range", o.rangeDb,
                 "dB range of the log brightness mapping: 20 ... 120, rounded to a multiple "
                 "of 10 (default 60)");
  app.add_option("--gain", o.gainDb, "Master gain in dB: 0 ... 48 (default 6)");
  app.add_option("--duration", o.duration, "Seconds of noise output: 0.02 ... 1000000 (default 15)");
  app.add_option("--low-hz", o.lowHz,
                 "Frequency of the picture's leftmost column: 16 ... 22050 on the log and mel scales, 0 ... 22050 "
                 "on the linear scale (default: the scale's lowest, 16 or 0)");
  app.add_option("--high-hz", o.highHz,
                 "Frequency of the picture's rightmost column, above --low-hz by at least one bin (default 22050)");
  app.add_flag("--stereo", o.stereo,
               "Two channels: the left from the picture's red, the right from its green (blue is ignored)");
  app.add_option("--threads", o.threads,
                 "Threads that render: 1 ... 64 (default: every core this process may use)");
  app.add_flag("-q,--quiet", o.quiet, "No progress bar");

}

int settingsFromOptions(const Options& o, const CLI::App& app, RenderSettings& settings) {
  if (o.analyse) {
    if (!o.input.empty() || o.source == "wave") {
      return usageError("--analyse reads the sound from INPUT.wav; --input and --source wave do not apply");
    }
    if (app.count("--duration") > 0) return usageError("--duration does not apply to --analyse");
  } else if (app.count("--size") > 0) {
    return usageError("--size applies to --analyse only");
  }
  const bool wave = !o.input.empty() || o.source == "wave";
  if (wave && o.input.empty()) return usageError("--source wave needs --input FILE.wav");
  if (!o.input.empty() && app.count("--source") > 0 && o.source != "wave") {
    return usageError("--input cannot be combined with --source " + o.source);
  }
  if (wave && app.count("--duration") > 0) return usageError("--duration applies to the noise sources only");
  if (!(o.duration >= kMinDurationSeconds && o.duration <= kMaxDurationSeconds)) {
    return usageError("--duration must be from 0.02 to 1000000");
  }
  if (o.gainDb < kMinGainDb || o.gainDb > kMaxGainDb) return usageError("--gain must be from 0 to 48");
  // Rounded to the nearest multiple of 10, halves up, like the window's field.
  if (o.rangeDb < kMinRangeDb - 5 || o.rangeDb >= kMaxRangeDb + 5) return usageError("--range must be from 20 to 120");
  if (app.count("--threads") > 0 && (o.threads < 1 || o.threads > kMaxRenderThreads)) {
    return usageError("--threads must be from 1 to 64");
  }

  settings.inputSource =
      wave ? InputSource::WaveFile : (o.source == "white" ? InputSource::WhiteNoise : InputSource::PinkNoise);
  settings.frequencyScale = o.scale == "linear" ? FrequencyScale::Linear
                            : o.scale == "log"  ? FrequencyScale::Logarithmic
                                                : FrequencyScale::Mel;
  settings.logBrightness = o.brightness == "log";
  settings.logRangeDb = roundRangeDb(o.rangeDb);
  settings.masterGainDb = o.gainDb;
  settings.durationSeconds = o.duration;
  settings.inputPath = o.input;
  settings.outputPath = o.output;
  if (const int code = applyGranularity(o, app, settings); code != 0) return code;
  if (const int code = applyBand(o, app, o.scale, settings); code != 0) return code;
  settings.stereo = o.stereo;
  return 0;
}

}  // namespace vellomar::cli

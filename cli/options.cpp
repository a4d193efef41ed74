// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/options.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/decimal.h"
#include "cli/interrupt.h"
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
  // Both are required but for --make-plans: settingsFromOptions says so.
  app.add_option("PICTURE", o.picture,
                 "Picture file (BMP, PNG, JPEG, GIF, TIFF), or - for standard input; with --analyse, the sound file "
                 "to analyse")
      ->type_name("FILE");
  app.add_option("OUTPUT", o.output,
                 "Sound file to write (.wav or .flac; the name's extension picks the format unless --format does), "
                 "or - for standard output; with --analyse, the PNG picture to write")
      ->type_name("FILE");
  app.add_flag("--analyse", o.analyse,
               "Analyse a sound into a picture instead: vellomar-render --analyse [options] INPUT OUTPUT.png. The "
               "picture is the one whose render sounds like the sound, on the grid and mapping of the options "
               "(--source pink or white names the tilt to take out)");
  app.add_option("--size", o.size,
                 "With --analyse: the picture's size in pixels, such as 512x300 (default 512 columns and one row "
                 "per hop of the time granularity)")
      ->type_name("WxH");
  app.add_option("--source", o.source, "Sound source: pink, white, wave or sine (one sine tone per column; default pink)")
      ->type_name("NAME")
      ->check(CLI::IsMember({"pink", "white", "wave", "sine"}));
  app.add_option("--input", o.input,
                 "Input sound file, or - for standard input; implies --source wave. WAV, FLAC, Ogg Vorbis or Opus, "
                 "MP3, AIFF and more, any rate and depth, mono or stereo (a stereo input gives a stereo render)")
      ->type_name("FILE");
  app.add_flag("--strict-input", o.strictInput,
               "Read the input with the classic reader only: a mono 8 or 16-bit 44100 Hz PCM WAV file, anything "
               "else refused");
  app.add_option("--format", o.format,
                 "Output format: wav16, wav24 or float (32-bit) WAV, or flac (16-bit), flac16 or flac24 (default: "
                 "from the output's extension, else wav16)")
      ->type_name("NAME")
      ->check(CLI::IsMember({"wav16", "wav24", "float", "flac", "flac16", "flac24"}));
  app.add_option("--rate", o.rate,
                 "Output sample rate in Hz: 44100, 48000, 88200 or 96000 (default 44100); the sound is rendered at "
                 "44100 Hz and resampled")
      ->type_name("HZ")
      ->check(CLI::IsMember({"44100", "48000", "88200", "96000"}));
  app.add_option("--scale", o.scale, "Frequency scale: linear, log or mel (default mel)")
      ->type_name("NAME")
      ->check(CLI::IsMember({"linear", "log", "mel"}));
  auto* block = app.add_option("--block-length", o.blockLength,
                               "Block length: a power of two 2048 ... 32768 (default 8192)")
                    ->type_name("N");
  auto* sub = app.add_option("--subblocks", o.subBlocks,
                             "Sub-blocks per block: a power of two 1 ... 16, at most the block length (default 4)")
                  ->type_name("S");
  auto* freq = app.add_option("--freq-granularity", o.freqGranularity,
                              "Frequency granularity in Hz: 1.35, 2.7, 5.4, 10.8 or 22; picks the block length "
                              "(instead of --block-length)")
                   ->type_name("HZ");
  auto* time = app.add_option("--time-granularity", o.timeGranularity,
                              "Time granularity in seconds: 0.012 ... 0.74; picks the sub-blocks, and the block "
                              "length when needed (instead of --subblocks)")
                   ->type_name("SEC");
  freq->excludes(block);
  time->excludes(sub);
  app.add_option("--brightness", o.brightness, "Brightness to gain: lin or log (default lin)")
      ->type_name("NAME")
      ->check(CLI::IsMember({"lin", "log"}));
  app.add_option("--range", o.rangeDb,
                 "dB range of the log brightness mapping: 20 ... 120, rounded to a multiple of 10 (default 60)")
      ->type_name("DB");
  app.add_option("--gain", o.gainDb, "Master gain in dB: 0 ... 48 (default 6)")->type_name("DB");
  app.add_option("--duration", o.duration, "Seconds of noise output: 0.02 ... 1000000 (default 15)")
      ->type_name("SEC");
  app.add_option("--low-hz", o.lowHz,
                 "Frequency of the picture's leftmost column: 16 ... 22050 on the log and mel scales, 0 ... 22050 "
                 "on the linear scale (default: the scale's lowest, 16 or 0)")
      ->type_name("HZ");
  app.add_option("--high-hz", o.highHz,
                 "Frequency of the picture's rightmost column, above --low-hz by at least one bin (default 22050)")
      ->type_name("HZ");
  app.add_flag("--stereo", o.stereo,
               "Two channels: the left from the picture's red, the right from its green (blue is ignored)");
  app.add_option("--threads", o.threads, "Threads that render: 1 ... 64 (default: every core this process may use)")
      ->type_name("N");
  addNoteOptions(app, o.notes);
  app.add_flag("-q,--quiet", o.quiet, "No progress bar");
  app.add_option("--plans", o.plans,
                 "Fourier transform plans: measured (default: measured on this computer once, in the background, "
                 "and kept in the cache folder) or estimated (the same output on every run of this computer)")
      ->type_name("NAME")
      ->check(CLI::IsMember({"measured", "estimated"}));
  app.add_flag("--make-plans", o.makePlans,
               "Measure the plans for --block-length (every block length without it) now and keep them, then "
               "exit: vellomar-render --make-plans [--block-length N]");
  for (const char* number : {"--block-length", "--subblocks", "--freq-granularity", "--time-granularity", "--range",
                             "--gain", "--duration", "--low-hz", "--high-hz", "--threads", "--rate"}) {
    app.get_option(number)->transform(decimalNumber());
  }
}

// The file names must name files: none empty, and the output no folder.
// Returns 0 or a usage-error exit code (after saying why).
int checkNames(const Options& o, const CLI::App& app) {
  if (o.picture.empty()) return usageError(o.analyse ? "the sound's name is empty" : "the picture's name is empty");
  if (app.count("--input") > 0 && o.input.empty()) return usageError("--input needs a file name; it is empty");
  if (app.count("--size") > 0 && o.size.empty()) return usageError("--size needs WIDTHxHEIGHT; it is empty");
  if (o.output.empty()) return usageError("the output's name is empty");
  struct stat st = {};
  if (o.output.back() == '/' || (::stat(o.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
    return usageError("cannot write the output to '" + o.output + "': Is a directory");
  }
  return 0;
}

int settingsFromOptions(const Options& o, const CLI::App& app, RenderSettings& settings) {
  if (app.count("PICTURE") == 0) return usageError("PICTURE is required");
  if (app.count("OUTPUT") == 0) return usageError("OUTPUT is required");
  if (const int code = checkNames(o, app); code != 0) return code;
  if (o.analyse) {
    if (!o.input.empty() || o.source == "wave") {
      return usageError("--analyse reads the sound from its first argument; --input and --source wave do not apply");
    }
    if (app.count("--duration") > 0) return usageError("--duration does not apply to --analyse");
  } else if (app.count("--size") > 0) {
    return usageError("--size applies to --analyse only");
  }
  const bool wave = !o.input.empty() || o.source == "wave";
  if (wave && o.input.empty()) return usageError("--source wave needs --input FILE");
  if (!o.input.empty() && app.count("--source") > 0 && o.source != "wave") {
    return usageError("--input cannot be combined with --source " + o.source);
  }
  if (wave && app.count("--duration") > 0) return usageError("--duration does not apply to a wave source");
  if (!(o.duration >= kMinDurationSeconds && o.duration <= kMaxDurationSeconds)) {
    return usageError("--duration must be from 0.02 to 1000000");
  }
  if (o.gainDb < kMinGainDb || o.gainDb > kMaxGainDb) return usageError("--gain must be from 0 to 48");
  // Rounded to the nearest multiple of 10, halves up, like the window's field.
  if (o.rangeDb < kMinRangeDb - 5 || o.rangeDb >= kMaxRangeDb + 5) return usageError("--range must be from 20 to 120");
  if (app.count("--threads") > 0 && (o.threads < 1 || o.threads > kMaxRenderThreads)) {
    return usageError("--threads must be from 1 to 64");
  }

  settings.inputSource = wave                 ? InputSource::WaveFile
                         : o.source == "white" ? InputSource::WhiteNoise
                         : o.source == "sine"  ? InputSource::SineTones
                                               : InputSource::PinkNoise;
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
  if (app.count("--notes") > 0) {
    if (const int code = applyNoteOptions(o.notes, app, settings); code != 0) return code;
  } else if (const int code = applyBand(o, app, o.scale, settings); code != 0) {
    return code;
  }
  settings.stereo = o.stereo;
  return 0;
}

int soundFileOptionsFrom(const Options& o, const CLI::App& app, SoundFileOptions& files) {
  files = SoundFileOptions{};
  files.input.anyAudio = !o.strictInput;
  files.input.maxChannels = 1;
  files.input.anyAudioHint = "leave out --strict-input";
  files.input.abort = &interruptFlag();
  const bool formatGiven = app.count("--format") > 0;
  if (o.analyse) {
    if (formatGiven || app.count("--rate") > 0) return usageError("--format and --rate apply to rendering only");
    return 0;
  }
  bool unknown = false;
  const std::optional<OutputKind> named = outputKindFromPath(o.output, unknown);
  if (unknown) {
    return usageError("the output '" + o.output + "' ends in " + extensionOf(o.output) +
                      ", which names no format vellomar-render writes: name it .wav or .flac (--format " +
                      outputKindNames() + ")");
  }
  OutputKind kind = named.value_or(OutputKind::Wav16);
  if (formatGiven) {
    kind = outputKindFromName(o.format).value_or(OutputKind::Wav16);
    if (named && isFlac(*named) != isFlac(kind)) {
      return usageError("--format " + o.format + " writes a " + (isFlac(kind) ? "FLAC" : "WAV") +
                        " file, but the output '" + o.output + "' is named " + extensionOf(o.output));
    }
  }
  if (!outputRateAllowed(o.rate)) return usageError("--rate must be 44100, 48000, 88200 or 96000");
  files.output.kind = kind;
  files.output.rate = o.rate;
  return 0;
}

}  // namespace vellomar::cli

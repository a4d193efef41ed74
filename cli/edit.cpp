// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/edit.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "cli/analyse.h"
#include "cli/terminal.h"
#include "engine/scales.h"
#include "engine/spectral_edit.h"
#include "files/audio_output.h"
#include "files/edit_setup.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/render_setup.h"

namespace vellomar {
namespace {

struct EditOptions {
  bool analyse = false;
  bool forEditing = false;
  bool edit = false;
  std::string recording;
  std::string picture;
  std::string output;
  std::string scale = "mel";
  std::int32_t frameLength = 0;  // 0: editBlockLength at the recording's rate
  float lowHz = 0.0f;
  float highHz = 0.0f;
  std::string size;
  int threads = 0;
  bool quiet = false;
  bool acceptLevelChange = false;
  std::string format;
  std::uint32_t rate = 0;  // 0: the recording's own
};

// The output's format, as a render's: from --format, else the output's
// extension, else 16-bit WAV; at --rate, else at the recording's rate.
// Empty when fine; else the usage error.
std::string outputFormatOf(const EditOptions& o, const CLI::App& app, OutputFormat& format) {
  bool unknown = false;
  const std::optional<OutputKind> named = outputKindFromPath(o.output, unknown);
  if (unknown) {
    return "the output '" + o.output + "' ends in " + extensionOf(o.output) +
           ", which names no format vellomar-render writes: name it .wav or .flac (--format " + outputKindNames() + ")";
  }
  format.kind = named.value_or(OutputKind::Wav16);
  if (app.count("--format") > 0) {
    format.kind = outputKindFromName(o.format).value_or(OutputKind::Wav16);
    if (named && isFlac(*named) != isFlac(format.kind)) {
      return "--format " + o.format + " writes a " + (isFlac(format.kind) ? "FLAC" : "WAV") + " file, but the output '" +
             o.output + "' is named " + extensionOf(o.output);
    }
  }
  format.rate = o.rate;
  return {};
}

int reportResult(ResultCode result, const Refusal& refusal) {
  if (result == kResultAborted) {
    cli::reportInterrupted();
    return cli::kExitFailed;
  }
  if (result != kResultOk) {
    showRefusal(nullptr, refusal);
    return cli::kExitFailed;
  }
  return cli::kExitOk;
}

int analyseForEditingCommand(const EditOptions& o, const CLI::App& app, const std::atomic<bool>* interrupted) {
  RenderSettings grid;
  grid.inputSource = InputSource::WaveFile;
  grid.frequencyScale = o.scale == "linear" ? FrequencyScale::Linear
                        : o.scale == "log"  ? FrequencyScale::Logarithmic
                                            : FrequencyScale::Mel;
  if (app.count("--block-length") > 0 &&
      (!isPowerOfTwo(o.frameLength) || o.frameLength < 1024 || o.frameLength > 16384)) {
    return cli::usageError("--block-length must be a power of two from 1024 to 16384 when editing");
  }
  grid.blockLength = o.frameLength;
  if (app.count("--low-hz") > 0) grid.bandLowHz = o.lowHz;
  if (app.count("--high-hz") > 0) grid.bandHighHz = o.highHz;
  // The band's limits depend on the recording's rate: the analysis refuses
  // one that does not suit it. One that suits no rate is a usage error.
  if (grid.bandLowHz < 0.0f || grid.bandHighHz < 0.0f ||
      (grid.bandLowHz > 0.0f && grid.bandHighHz > 0.0f && grid.bandLowHz >= grid.bandHighHz)) {
    return cli::usageError("--low-hz must lie below --high-hz, both above 0 Hz");
  }
  std::uint32_t width = 0, height = 0;
  if (!o.size.empty()) {
    const std::string wrong = parsePictureSize(o.size, width, height);
    if (!wrong.empty()) return cli::usageError(wrong);
  }
  if (sameFile(o.picture, o.recording)) {
    std::fprintf(stderr, "The picture cannot be the recording '%s'.\n", o.recording.c_str());
    return cli::kExitUsage;
  }
  cli::ProgressBar bar(!o.quiet && isatty(STDERR_FILENO), "Analysing");
  EditControl control{interrupted, [&bar](int t) { bar.update(t); }, o.threads};
  std::shared_ptr<PictureBitmap> picture;
  EditRecord record;
  Refusal refusal;
  ResultCode result = analyseForEditing(o.recording, grid, width, height, control, picture, record, refusal);
  bar.finish();
  if (result == kResultOk && interrupted && interrupted->load()) result = kResultAborted;
  if (result == kResultOk && !savePictureForEditing(*picture, o.picture, record, refusal)) result = kResultWriteFailed;
  return reportResult(result, refusal);
}

int editCommand(const EditOptions& o, const OutputFormat& format, const std::atomic<bool>* interrupted) {
  if (sameFile(o.output, o.recording) || sameFile(o.output, o.picture)) {
    std::fprintf(stderr, "The output sound file cannot be the recording or the picture.\n");
    return cli::kExitUsage;
  }
  EditedPicture edited;
  Refusal refusal;
  if (!loadEditedPicture(o.picture, edited, refusal)) {
    showRefusal(nullptr, refusal);
    return cli::kExitFailed;
  }
  if (!edited.note.empty()) std::fprintf(stderr, "Note: %s.\n", edited.note.c_str());
  cli::ProgressBar bar(!o.quiet && isatty(STDERR_FILENO), "Rendering");
  EditControl control{interrupted, [&bar](int t) { bar.update(t); }, o.threads};
  const ResultCode result =
      renderEditedPicture(o.recording, edited, o.output, format, o.acceptLevelChange, control, refusal);
  bar.finish();
  return reportResult(result, refusal);
}

}  // namespace

bool editCommandRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--edit") == 0 || std::strcmp(argv[i], "--for-editing") == 0) return true;
  }
  return false;
}

void addEditOptionsToHelp(CLI::App& app) {
  app.add_flag("--for-editing")->description(std::string(
               "With --analyse: make a recording's picture for editing, which --edit renders back: "
               "vellomar-render --analyse --for-editing [--scale S] [--low-hz F] [--high-hz F] [--block-length N] "
               "[--size WxH] RECORDING PICTURE.png"));
  app.add_flag("--edit")->description(std::string(
               "Render a painted picture for editing back into its recording, unchanged wherever it was not "
               "painted: vellomar-render --edit [--format NAME] [--rate HZ] RECORDING PICTURE.png OUTPUT"));
  app.add_flag("--accept-level-change")->description(std::string(
               "With --edit: render a picture whose levels were changed as a whole as painted, instead of refusing it"));
}

int runEditCommand(int argc, char** argv, const std::atomic<bool>* interrupted) {
  CLI::App app{
      "Edits a recording as a picture: --analyse --for-editing RECORDING PICTURE.png makes the picture to "
      "paint on; --edit RECORDING PICTURE.png OUTPUT renders the painted picture back, the recording "
      "unchanged wherever the picture was not painted.",
      "vellomar-render"};
  EditOptions o;
  app.add_flag("--analyse", o.analyse, "With --for-editing: make the picture of a recording");
  app.add_flag("--for-editing", o.forEditing, "The picture is for editing: it renders back into the recording");
  app.add_flag("--edit", o.edit, "Render a painted picture back into its recording");
  app.add_option("RECORDING", o.recording,
                 "The recording, mono or stereo: WAV, FLAC, Ogg Vorbis or Opus, MP3, AIFF and more, any rate and depth")
      ->required();
  app.add_option("PICTURE.png", o.picture, "The picture for editing")->required();
  app.add_option("OUTPUT", o.output, "With --edit: the sound file to write (.wav or .flac)");
  app.add_option("--format", o.format,
                 "With --edit: wav16, wav24 or float (32-bit) WAV, or flac (16-bit), flac16 or flac24 (default: from "
                 "the output's extension, else wav16)")
      ->check(CLI::IsMember({"wav16", "wav24", "float", "flac", "flac16", "flac24"}));
  app.add_option("--rate", o.rate,
                 "With --edit: output sample rate in Hz, 44100, 48000, 88200 or 96000 (default: the recording's "
                 "own); another rate than the recording's resamples the whole sound")
      ->check(CLI::IsMember({"44100", "48000", "88200", "96000"}));
  app.add_option("--scale", o.scale, "Frequency scale of the picture: linear, log or mel (default mel)")
      ->check(CLI::IsMember({"linear", "log", "mel"}));
  app.add_option("--block-length", o.frameLength,
                 "Frame length N of the analysis: power of two 1024 ... 16384 (default 4096 at 44100 Hz, in "
                 "proportion at other rates: 8192 at 96000 Hz, 2048 at 22050 Hz)");
  app.add_option("--low-hz", o.lowHz, "Frequency of the picture's leftmost column (default: the scale's lowest)");
  app.add_option("--high-hz", o.highHz,
                 "Frequency of the picture's rightmost column (default: half the recording's rate)");
  app.add_option("--size", o.size, "The picture's WIDTHxHEIGHT (default 512 columns, one row per N/4 samples)");
  app.add_option("--threads", o.threads, "Threads: 1 ... 64 (default: every core)")->check(CLI::Range(1, 64));
  app.add_flag("--accept-level-change", o.acceptLevelChange,
               "With --edit: render a picture whose levels were changed as a whole (most pixels, by their "
               "brightness alone) as painted, instead of refusing it");
  app.add_flag("-q,--quiet", o.quiet, "No progress bar");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return cli::kExitUsage;
  }
  if (o.edit == (o.analyse && o.forEditing)) {
    return cli::usageError("use either --analyse --for-editing RECORDING PICTURE or --edit RECORDING PICTURE OUTPUT");
  }
  if (o.forEditing && !o.analyse) return cli::usageError("--for-editing goes with --analyse");
  if (o.edit) {
    if (o.output.empty()) return cli::usageError("--edit needs RECORDING PICTURE OUTPUT");
    for (const char* option : {"--scale", "--block-length", "--low-hz", "--high-hz", "--size"}) {
      if (app.count(option) > 0) {
        return cli::usageError(std::string(option) + " does not apply to --edit: the picture's record holds its grid");
      }
    }
    OutputFormat format;
    if (const std::string wrong = outputFormatOf(o, app, format); !wrong.empty()) return cli::usageError(wrong);
    return editCommand(o, format, interrupted);
  }
  if (!o.output.empty()) return cli::usageError("--analyse --for-editing takes RECORDING PICTURE only");
  if (app.count("--format") > 0 || app.count("--rate") > 0) return cli::usageError("--format and --rate apply to --edit");
  if (app.count("--accept-level-change") > 0) return cli::usageError("--accept-level-change applies to --edit");
  return analyseForEditingCommand(o, app, interrupted);
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/edit.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/analyse.h"
#include "cli/terminal.h"
#include "engine/scales.h"
#include "engine/spectral_edit.h"
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
  std::int32_t frameLength = kEditBlockLength;
  float lowHz = 0.0f;
  float highHz = 0.0f;
  std::string size;
  int threads = 0;
  bool quiet = false;
  bool acceptLevelChange = false;
};

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
  if (!isPowerOfTwo(o.frameLength) || o.frameLength < 1024 || o.frameLength > 16384) {
    return cli::usageError("--block-length must be a power of two from 1024 to 16384 when editing");
  }
  grid.blockLength = o.frameLength;
  if (app.count("--low-hz") > 0) grid.bandLowHz = o.lowHz;
  if (app.count("--high-hz") > 0) grid.bandHighHz = o.highHz;
  if (const Refusal band = bandRefusal(grid)) return cli::usageError(band.text);
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

int editCommand(const EditOptions& o, const std::atomic<bool>* interrupted) {
  if (sameFile(o.output, o.recording) || sameFile(o.output, o.picture)) {
    std::fprintf(stderr, "The output wave cannot be the recording or the picture.\n");
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
      renderEditedPicture(o.recording, edited, o.output, o.acceptLevelChange, control, refusal);
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
               "[--size WxH] RECORDING.wav PICTURE.png"));
  app.add_flag("--edit")->description(std::string(
               "Render a painted picture for editing back into its recording, unchanged wherever it was not "
               "painted: vellomar-render --edit RECORDING.wav PICTURE.png OUTPUT.wav"));
  app.add_flag("--accept-level-change")->description(std::string(
               "With --edit: render a picture whose levels were changed as a whole as painted, instead of refusing it"));
}

int runEditCommand(int argc, char** argv, const std::atomic<bool>* interrupted) {
  CLI::App app{
      "Edits a recording as a picture: --analyse --for-editing RECORDING.wav PICTURE.png makes the picture to "
      "paint on; --edit RECORDING.wav PICTURE.png OUTPUT.wav renders the painted picture back, the recording "
      "unchanged wherever the picture was not painted.",
      "vellomar-render"};
  EditOptions o;
  app.add_flag("--analyse", o.analyse, "With --for-editing: make the picture of a recording");
  app.add_flag("--for-editing", o.forEditing, "The picture is for editing: it renders back into the recording");
  app.add_flag("--edit", o.edit, "Render a painted picture back into its recording");
  app.add_option("RECORDING.wav", o.recording, "The recording (16- or 8-bit, mono or stereo, 44100 Hz)")->required();
  app.add_option("PICTURE.png", o.picture, "The picture for editing")->required();
  app.add_option("OUTPUT.wav", o.output, "With --edit: the wave file to write");
  app.add_option("--scale", o.scale, "Frequency scale of the picture: linear, log or mel (default mel)")
      ->check(CLI::IsMember({"linear", "log", "mel"}));
  app.add_option("--block-length", o.frameLength,
                 "Frame length N of the analysis: power of two 1024 ... 16384 (default 4096)");
  app.add_option("--low-hz", o.lowHz, "Frequency of the picture's leftmost column (default: the scale's lowest)");
  app.add_option("--high-hz", o.highHz, "Frequency of the picture's rightmost column (default 22050)");
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
    return editCommand(o, interrupted);
  }
  if (!o.output.empty()) return cli::usageError("--analyse --for-editing takes RECORDING PICTURE only");
  if (app.count("--accept-level-change") > 0) return cli::usageError("--accept-level-change applies to --edit");
  return analyseForEditingCommand(o, app, interrupted);
}

}  // namespace vellomar

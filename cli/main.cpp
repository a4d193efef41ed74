// SPDX-License-Identifier: GPL-3.0-or-later
// vellomar-render: renders a picture into a sound file from the command
// line, with the same engine, files and messages as the window program.

#include <CLI/CLI.hpp>
#include <string>

#include "cli/analyse.h"
#include "cli/edit.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/make_plans.h"
#include "cli/options.h"
#include "cli/render_run.h"
#include "cli/terminal.h"

using namespace vellomar;
using namespace vellomar::cli;

int main(int argc, char** argv) {
  installMessagePrinter();
  if (editCommandRequested(argc, argv)) {
    installInterruptHandler();
    return runEditCommand(argc, argv, &interruptFlag());
  }
  CLI::App app{"", "vellomar-render"};
  describeProgram(app);
  Options o;
  addOptions(app, o);
  addEditOptionsToHelp(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return usageError(e.what());
  }
  // Measuring takes seconds per block length; Ctrl-C ends it at once.
  if (o.makePlans) return makePlans(o, app);
  // From here on Ctrl-C asks the run to stop; the run then removes what it
  // created.
  installInterruptHandler();
  RenderSettings settings;
  if (const int code = settingsFromOptions(o, app, settings); code != 0) return code;
  if (o.analyse) {
    SoundFileOptions files;
    if (const int code = soundFileOptionsFrom(o, app, files); code != 0) return code;
    AnalyseRequest request;
    request.input = o.picture;
    request.output = o.output;
    request.size = o.size;
    request.threads = app.count("--threads") > 0 ? o.threads : 0;
    request.quiet = o.quiet;
    request.strictInput = o.strictInput;
    request.interrupted = &interruptFlag();
    return runAnalyse(settings, request);
  }
  return runRender(o, app, settings);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/make_plans.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "engine/context.h"
#include "fft/wisdom.h"

namespace vellomar::cli {
namespace {

int runMakePlans(const std::vector<std::int32_t>& blockLengths, bool quiet) {
  const std::string folder = userWisdomFolder();
  if (folder.empty()) {
    printMessage("no cache folder for the plans: neither XDG_CACHE_HOME nor HOME is set");
    return kExitFailed;
  }
  for (const std::int32_t n : blockLengths) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!makeWisdom(folder, renderTransforms(n), error)) {
      printMessage("cannot make the plans for block length " + std::to_string(n) + ": " + error);
      return kExitFailed;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet) std::printf("Block length %d: plans ready (%.1f s)\n", static_cast<int>(n), seconds);
  }
  if (!quiet) std::printf("Kept in %s/%s\n", folder.c_str(), wisdomFileName().c_str());
  return kExitOk;
}

}  // namespace

int makePlans(const Options& o, const CLI::App& app) {
  if (app.count("PICTURE") > 0 || app.count("OUTPUT") > 0) return usageError("--make-plans takes no PICTURE or OUTPUT");
  std::vector<std::int32_t> lengths;
  if (app.count("--block-length") > 0) {
    if (!isPowerOfTwo(o.blockLength) || o.blockLength < kMinBlockLength || o.blockLength > kMaxBlockLength) {
      return usageError("--block-length must be a power of two from 2048 to 32768");
    }
    lengths.push_back(o.blockLength);
  } else {
    for (std::int32_t n = kMinBlockLength; n <= kMaxBlockLength; n *= 2) lengths.push_back(n);
  }
  return runMakePlans(lengths, o.quiet);
}

}  // namespace vellomar::cli

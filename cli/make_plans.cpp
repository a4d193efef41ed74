#include "cli/make_plans.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/terminal.h"
#include "engine/context.h"
#include "fft/wisdom.h"

namespace vellomar {

int runMakePlans(const std::vector<std::int32_t>& blockLengths, bool quiet) {
  const std::string folder = userWisdomFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "vellomar-render: no cache folder for the plans: neither XDG_CACHE_HOME nor HOME is set\n");
    return cli::kExitFailed;
  }
  for (const std::int32_t n : blockLengths) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!makeWisdom(folder, renderTransforms(n), error)) {
      std::fprintf(stderr, "vellomar-render: cannot make the plans for block length %d: %s\n", static_cast<int>(n),
                   error.c_str());
      return cli::kExitFailed;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet) std::printf("Block length %d: plans ready (%.1f s)\n", static_cast<int>(n), seconds);
  }
  if (!quiet) std::printf("Kept in %s/%s\n", folder.c_str(), wisdomFileName().c_str());
  return cli::kExitOk;
}

}  // namespace vellomar

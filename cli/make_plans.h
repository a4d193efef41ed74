// vellomar-render --make-plans: measures the transforms' plans now, in the
// foreground, and keeps them in the user's cache folder, where every
// render then finds them.
#pragma once

#include <cstdint>
#include <vector>

namespace vellomar {

// Measures the plans of renders of each block length in `blockLengths`.
// Returns the exit code: 0 kept, 1 when they cannot be made or kept. Says
// what it did on stdout (unless `quiet`) and why it failed on stderr.
int runMakePlans(const std::vector<std::int32_t>& blockLengths, bool quiet);

}  // namespace vellomar

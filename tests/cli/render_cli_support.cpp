// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/render_cli_support.h"

extern char** environ;

namespace vellomar::test {

int spawnRenderer(const std::vector<std::string>& args, const posix_spawn_file_actions_t& actions, pid_t& pid) {
  std::vector<std::string> all = {VELLOMAR_RENDER_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  return posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
}

}  // namespace vellomar::test

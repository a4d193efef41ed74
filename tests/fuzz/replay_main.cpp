// SPDX-License-Identifier: GPL-3.0-or-later
// Runs files through the fuzz target's entry point, as libFuzzer would
// replay them: each argument is a file or a folder of files. Used where the
// target is built without libFuzzer, and as the corpus test.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

bool replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
  std::fflush(stdout);  // so that the file shows when the target aborts
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      for (const auto& entry : fs::recursive_directory_iterator(argv[i])) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s FILE|FOLDER...  (no input files found)\n", argv[0]);
    return 2;
  }
  std::sort(files.begin(), files.end());
  int failed = 0;
  for (const fs::path& file : files) failed += replay(file) ? 0 : 1;
  std::printf("replayed %zu inputs\n", files.size() - static_cast<std::size_t>(failed));
  return failed == 0 ? 0 : 1;
}

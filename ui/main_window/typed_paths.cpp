// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/typed_paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vellomar {

namespace fs = std::filesystem;

std::string folderOf(const std::string& path) { return fs::path(path).parent_path().string(); }

std::string resolveTypedPath(const std::string& typed, const std::string& folder) {
  if (typed.empty()) return typed;
  fs::path path(typed);
  if (typed == "~" || typed.rfind("~/", 0) == 0) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
      return typed == "~" ? std::string(home) : (fs::path(home) / typed.substr(2)).lexically_normal().string();
    }
  }
  if (path.is_absolute()) return typed;
  std::error_code error;
  const fs::path base = folder.empty() ? fs::current_path(error) : fs::path(folder);
  if (error) return typed;
  return (base / path).lexically_normal().string();
}

std::string withDefaultExtension(const std::string& path, const std::string& extension) {
  if (path.empty() || extension.empty()) return path;
  const fs::path name = fs::path(path).filename();
  std::error_code error;
  if (name.empty() || fs::is_directory(fs::path(path), error)) return path;
  const std::string stem = name.string();
  // "out" gets one and "out." gets it after the point; "out.wav" and
  // ".wav" have theirs, as Qt's file dialog reads names.
  const std::size_t dot = stem.rfind('.');
  if (dot == std::string::npos) return path + "." + extension;
  if (dot + 1 == stem.size()) return path + extension;
  return path;
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/paths.h"

#include <QString>
#include <filesystem>
#include <system_error>

namespace vellomar {

bool sameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path pa = fs::absolute(fs::path(a), error).lexically_normal();
  const fs::path pb = fs::absolute(fs::path(b), error).lexically_normal();
  const QString na = QString::fromStdString(pa.string());
  const QString nb = QString::fromStdString(pb.string());
  if (na.compare(nb, Qt::CaseInsensitive) == 0) return true;
  return fs::equivalent(fs::path(a), fs::path(b), error) && !error;
}

}  // namespace vellomar

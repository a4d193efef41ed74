// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/underlay.h"

#include <QFileInfo>

#include "files/analysis_setup.h"
#include "files/picture_preview.h"
#include "ui/common/file_names.h"
#include "ui/progress/background_analysis.h"

namespace vellomar {

QImage tintedUnderlay(const QImage& grey) {
  if (grey.isNull()) return QImage();
  const QImage g = grey.convertToFormat(QImage::Format_Grayscale8);
  QImage out(g.size(), QImage::Format_RGB32);
  if (out.isNull()) return out;
  for (int y = 0; y < g.height(); ++y) {
    const uchar* in = g.constScanLine(y);
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < g.width(); ++x) line[x] = qRgb(in[x] / 4, in[x], in[x]);
  }
  return out;
}

QImage analyseUnderlay(QWidget* owner, const std::string& path, const RenderSettings& settings, std::uint32_t width,
                       std::uint32_t height, QString& reason) {
  PreparedAnalysis prepared;
  Refusal refusal;
  AnalysisSteps steps;
  steps.name = displayName(QFileInfo(pathToQt(path)).fileName());
  const ResultCode result = analyseInBackground(owner, path, settings, width, height, steps, prepared, refusal);
  reason.clear();
  if (result != kResultOk) {
    if (result != kResultAborted) reason = QString::fromStdString(refusal.text);
    return QImage();
  }
  return tintedUnderlay(picturePreview(*prepared.picture));
}

}  // namespace vellomar

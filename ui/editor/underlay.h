// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrogram shown faintly over the picture in the editor: the
// analysis of a sound (the input wave, or the generated sound) on the
// picture's own grid, so that a feature of the sound lies on the pixels
// that would make it.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <string>

class QWidget;

#include "engine/settings.h"

namespace vellomar {

// A tint of a grey analysis: black where the sound is silent (adding
// nothing to the picture it lies over), cyan where it is loud.
QImage tintedUnderlay(const QImage& grey);

// Analyses the wave at `path` with `settings` onto a width x height grid
// (in the background, with a progress dialog over `owner`) and returns its
// tinted image; a null image with `reason` set when the wave cannot be
// analysed, and with `reason` empty when the user cancelled.
QImage analyseUnderlay(QWidget* owner, const std::string& path, const RenderSettings& settings, std::uint32_t width,
                       std::uint32_t height, QString& reason);

}  // namespace vellomar

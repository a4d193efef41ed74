// SPDX-License-Identifier: GPL-3.0-or-later
// PNG pictures through libpng, read and written with our own error
// handlers: libpng's own print to standard error ("libpng error: Write
// Error"), and Qt's PNG reader and writer let them.
#pragma once

#include <QImage>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "files/picture_source.h"

namespace vellomar {

// Decodes the PNG in `source` into an ARGB32 image (straight alpha, the
// colour bytes of transparent pixels kept; no gamma or colour profile
// applied; 16-bit samples rounded to 8 bits). `allowed` is asked about the
// declared width and height before anything else is allocated; when it
// says no, the result is null and `refused` true. A null image otherwise
// means the file cannot be decoded: `error` then holds libpng's words.
QImage decodePng(PictureSource& source, const std::function<bool(std::uint64_t, std::uint64_t)>& allowed,
                 bool& refused, std::string& error);

// Writes `image` (Format_Grayscale8: an 8-bit grey PNG; Format_RGB32: an
// 8-bit RGB one) to `stream`. False when it cannot be written; `error`
// then holds the system's reason when there is one (errno's text), or
// libpng's words.
bool writePng(std::FILE* stream, const QImage& image, std::string& error);

}  // namespace vellomar

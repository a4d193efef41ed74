// SPDX-License-Identifier: GPL-3.0-or-later
// File names as the file system holds them and as the window holds them.
//
// A Linux file name is bytes; most are UTF-8, but a name made on another
// system (a Latin-1 "caf\xe9.png" from an old archive) need not be. Qt's
// own conversion turns every byte that is not UTF-8 into U+FFFD, and the
// name then names no file. The window keeps names in QStrings (its fields,
// its file chooser) through the conversion below instead, which loses
// nothing: valid UTF-8 reads as itself, and each byte that is not is kept
// as one lone surrogate, U+DC80 + (byte - 0x80), which no decoded text
// holds (the convention Python calls "surrogateescape"). Such a QString
// must go back through pathFromQt before it is opened: Qt's own file
// classes would encode the surrogates as '?'.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

namespace vellomar {

// The bytes of a file name; the inverse of pathToQt. A lone surrogate that
// pathToQt cannot have made becomes U+FFFD.
std::string pathFromQt(const QString& path);
// A file name's bytes as the window holds them.
QString pathToQt(const std::string& path);
QString pathToQt(const QByteArray& path);

// Whether the name holds bytes that are not UTF-8 (so that Qt's own file
// classes cannot open or list it).
bool hasUndecodableBytes(const QString& path);

// A name for showing: each byte that is not UTF-8 as U+FFFD, the
// replacement character.
QString displayName(const QString& path);
QString displayName(const std::string& path);

}  // namespace vellomar

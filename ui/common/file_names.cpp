// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/file_names.h"

#include <cstdint>

namespace vellomar {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + the byte, for bytes 0x80 ... 0xFF
constexpr char16_t kReplacement = 0xFFFD;

bool isEscapedByte(char16_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

// The code point of the UTF-8 sequence at bytes[i], and its length; 0 when
// the bytes there are no valid sequence (a stray continuation byte, an
// overlong form, a surrogate, past U+10FFFF, or cut short).
int decodeSequence(const unsigned char* bytes, std::size_t size, std::size_t i, char32_t& codePoint) {
  const unsigned char lead = bytes[i];
  int length = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    least = 0x80;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    least = 0x800;
    codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    least = 0x10000;
    codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (size - i < static_cast<std::size_t>(length)) return 0;
  for (int k = 1; k < length; ++k) {
    const unsigned char next = bytes[i + static_cast<std::size_t>(k)];
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return length;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

QString decode(const unsigned char* bytes, std::size_t size) {
  QString out;
  out.reserve(static_cast<qsizetype>(size));
  for (std::size_t i = 0; i < size;) {
    const unsigned char b = bytes[i];
    if (b < 0x80) {
      out += QChar(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    char32_t c = 0;
    const int length = decodeSequence(bytes, size, i, c);
    if (length == 0) {
      // Kept as it is, one byte at a time.
      out += QChar(static_cast<char16_t>(kEscapeBase + b));
      ++i;
    } else if (c > 0xFFFF) {
      out += QChar(QChar::highSurrogate(c));
      out += QChar(QChar::lowSurrogate(c));
      i += static_cast<std::size_t>(length);
    } else {
      out += QChar(static_cast<char16_t>(c));
      i += static_cast<std::size_t>(length);
    }
  }
  return out;
}

}  // namespace

std::string pathFromQt(const QString& path) {
  std::string out;
  out.reserve(static_cast<std::size_t>(path.size()));
  const qsizetype n = path.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = path.at(i).unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
      appendUtf8(out, QChar::surrogateToUcs4(c, path.at(i + 1).unicode()));
      ++i;
    } else if (isEscapedByte(c)) {
      out += static_cast<char>(c - kEscapeBase);
    } else if (QChar::isSurrogate(c)) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

QString pathToQt(const std::string& path) {
  return decode(reinterpret_cast<const unsigned char*>(path.data()), path.size());
}

QString pathToQt(const QByteArray& path) {
  return decode(reinterpret_cast<const unsigned char*>(path.constData()), static_cast<std::size_t>(path.size()));
}

bool hasUndecodableBytes(const QString& path) {
  for (const QChar c : path) {
    if (isEscapedByte(c.unicode())) return true;
  }
  return false;
}

QString displayName(const QString& path) {
  QString shown = path;
  for (QChar& c : shown) {
    if (isEscapedByte(c.unicode())) c = QChar(kReplacement);
  }
  return shown;
}

QString displayName(const std::string& path) { return displayName(pathToQt(path)); }

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/decoder_messages.h"

#include <tiffio.h>

#include <QString>
#include <QtGlobal>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace vellomar {

void keepMessage(const std::string& text);

namespace {

thread_local DecoderMessages* tScope = nullptr;
QtMessageHandler gPrevious = nullptr;

void handleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (tScope && type != QtFatalMsg) {
    keepMessage(message.toStdString());
    return;
  }
  if (gPrevious) gPrevious(type, context, message);
}

// libtiff's messages about files it was not given handlers for (those Qt's
// TIFF reader opens): kept for the decoding thread's scope, never printed.
void keepGlobalTiffMessage(thandle_t, const char* module, const char* format, va_list args) {
  if (!tScope) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  keepMessage(module && *module ? std::string(module) + ": " + text : std::string(text));
}

void installOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPrevious = qInstallMessageHandler(handleQtMessage);
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandlerExt(keepGlobalTiffMessage);
    TIFFSetWarningHandlerExt(nullptr);
  });
}

int keepTiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  if (user) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    *static_cast<std::string*>(user) = module && *module ? std::string(module) + ": " + text : std::string(text);
  }
  return 1;  // handled: nothing more is printed
}

int dropTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

void keepMessage(const std::string& text) {
  if (tScope) tScope->last_ = text;
}

DecoderMessages::DecoderMessages() {
  installOnce();
  outer_ = tScope;
  tScope = this;
}

DecoderMessages::~DecoderMessages() { tScope = outer_; }

void keepTiffMessages(TIFFOpenOptions* options, std::string* lastError) {
  TIFFOpenOptionsSetErrorHandlerExtR(options, keepTiffError, lastError);
  TIFFOpenOptionsSetWarningHandlerExtR(options, dropTiffWarning, nullptr);
}

}  // namespace vellomar

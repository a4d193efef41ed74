// SPDX-License-Identifier: GPL-3.0-or-later
// The complaints of the picture decoders and encoders, kept off the user's
// terminal without touching standard error itself (so that crash and
// sanitizer reports, and every other thread's output, still show): Qt's
// image readers and writers speak through Qt's message handler, libtiff
// through the handlers given to each file it opens, and through its global
// handlers for the files Qt's TIFF reader opens (which prints by default).
#pragma once

#include <string>

typedef struct TIFFOpenOptions TIFFOpenOptions;

namespace vellomar {

// While it lives, Qt's messages from this thread are kept from the
// terminal (all but fatal ones, which still show); the last one is kept
// for the caller. Messages of other threads pass as before.
class DecoderMessages {
 public:
  DecoderMessages();
  ~DecoderMessages();
  DecoderMessages(const DecoderMessages&) = delete;
  DecoderMessages& operator=(const DecoderMessages&) = delete;
  // The last message kept, if any ("libpng error: Write Error").
  const std::string& last() const { return last_; }

 private:
  friend void keepMessage(const std::string& text);
  DecoderMessages* outer_ = nullptr;
  std::string last_;
};

// Gives libtiff's errors and warnings for a file opened with `options` to
// `lastError` (the last error's text) instead of standard error.
void keepTiffMessages(TIFFOpenOptions* options, std::string* lastError);

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target of the picture loader: any bytes go through the loader as a
// picture held in memory, whatever kind they look like (BMP, PNG, JPEG,
// GIF, TIFF, or none). Built with libFuzzer (clang, VELLOMAR_FUZZ) it is a
// fuzzer; otherwise replay_main.cpp runs files through the same entry
// point.
//
// The pictures it may take are capped at a few million pixels, so that
// the fuzzer's memory limit is never reached by a picture the loader is
// right to decode; one that declares more must be refused before it costs
// anything. Besides what the sanitizers catch, the target aborts when the
// loader breaks its promises: every refusal says why, and a loaded picture
// is within the limits, laid out as stated, and its brightness is that of
// its colours.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/design.h"
#include "files/picture.h"

namespace {

constexpr std::uint64_t kMostPixels = 4000000;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "picture loader: %s\n", what);
  std::abort();
}

const bool kLimited = [] {
  vellomar::limitPicturePixels(kMostPixels);
  return true;
}();

void checkPicture(const vellomar::PictureBitmap& p) {
  const std::uint64_t w = p.width;
  const std::uint64_t h = p.height;
  if (w == 0 || h == 0 || w > vellomar::kMaxPictureSide || h > vellomar::kMaxPictureSide) broken("a side is wrong");
  if (w * h > kMostPixels) broken("a picture beyond the pixel limit was loaded");
  if (p.stride != ((w + 3) & ~std::uint64_t{3})) broken("the stride is not the width rounded up to 4");
  const std::size_t bytes = static_cast<std::size_t>(p.stride) * h;
  if (p.pixels.size() != bytes || p.red.size() != bytes || p.green.size() != bytes || p.blue.size() != bytes) {
    broken("a plane does not cover the picture");
  }
  for (std::uint64_t y = 0; y < h; ++y) {
    for (std::uint64_t x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * p.stride + x);
      if (p.pixels[i] != vellomar::brightnessOf(p.red[i], p.green[i], p.blue[i])) {
        broken("a brightness is not that of its colours");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!kLimited) broken("no limit");
  std::string reason;
  const auto picture = vellomar::loadPictureBytes(data, size, &reason);
  if (!picture) {
    if (reason.empty()) broken("a refusal came without its reason");
    return 0;
  }
  if (!reason.empty()) broken("a loaded picture came with a reason");
  checkPicture(*picture);
  return 0;
}

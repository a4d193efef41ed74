// SPDX-License-Identifier: GPL-3.0-or-later
// A recording, its picture for editing and a painted copy of it, for the
// spectral edit's tests and benchmark. Free of the test framework.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "engine/analysis.h"
#include "engine/spectral_edit.h"
#include "fft/fft.h"

namespace vellomar::test {

class EditCase {
 public:
  // `frames` interleaved 16-bit samples of `channels` channels, analysed on
  // the grid of `grid` (scale, band, block length) into width x height.
  EditCase(const RenderSettings& grid, const std::vector<std::int16_t>& frames, std::int32_t channels,
           std::uint32_t width, std::uint32_t height)
      : settings(editingSettings(grid)), channels(channels), width(width), height(height) {
    stride = (width + 3) & ~3u;
    count = frames.size() / static_cast<std::size_t>(channels);
    samples.assign(static_cast<std::size_t>(channels), std::vector<double>(count));
    for (std::size_t i = 0; i < count; ++i) {
      for (std::int32_t c = 0; c < channels; ++c) {
        samples[static_cast<std::size_t>(c)][i] = frames[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
      }
    }
    analysisResult = analyse(frames);
    edited = original;
  }

  RenderSettings settings;
  std::int32_t channels = 1;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  std::size_t count = 0;
  std::vector<std::vector<double>> samples;          // per channel
  std::vector<std::vector<std::uint8_t>> original;   // per channel, rows bottom-up
  std::vector<std::vector<std::uint8_t>> edited;
  std::vector<SpectralMove> moves;
  ResultCode analysisResult = -1;

  std::uint8_t& pixel(std::int32_t channel, std::uint32_t x, std::uint32_t y) {
    return edited[static_cast<std::size_t>(channel)][static_cast<std::size_t>(height - 1 - y) * stride + x];
  }
  std::uint8_t originalPixel(std::int32_t channel, std::uint32_t x, std::uint32_t y) const {
    return original[static_cast<std::size_t>(channel)][static_cast<std::size_t>(height - 1 - y) * stride + x];
  }
  // Paints rows [y0, y1) x columns [x0, x1) of every channel with f(old byte).
  template <class F>
  void paint(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1, F f) {
    for (std::int32_t c = 0; c < channels; ++c) {
      for (std::uint32_t y = y0; y < y1; ++y) {
        for (std::uint32_t x = x0; x < x1; ++x) pixel(c, x, y) = static_cast<std::uint8_t>(f(pixel(c, x, y)));
      }
    }
  }

  // The job of the current pictures, reading `samples` and writing `out`.
  SpectralEditJob job(std::vector<double>& out) const {
    SpectralEditJob j;
    j.settings = settings;
    j.width = width;
    j.stride = stride;
    j.height = height;
    j.channels = channels;
    for (std::int32_t c = 0; c < channels; ++c) {
      j.planes[c].original = original[static_cast<std::size_t>(c)].data();
      j.planes[c].edited = edited[static_cast<std::size_t>(c)].data();
    }
    j.sampleCount = count;
    j.moves = moves;
    const auto* source = &samples;
    j.read = [source](std::int32_t channel, std::uint64_t from, std::size_t n, double* to) {
      const std::vector<double>& s = (*source)[static_cast<std::size_t>(channel)];
      if (from + n > s.size()) return kResultShortRead;
      std::copy(s.begin() + static_cast<std::ptrdiff_t>(from), s.begin() + static_cast<std::ptrdiff_t>(from + n), to);
      return kResultOk;
    };
    out.assign(count * static_cast<std::size_t>(channels), 0.0);
    auto* sink = &out;
    const auto ch = static_cast<std::size_t>(channels);
    j.write = [sink, ch](std::uint64_t from, std::size_t n, const double* y) {
      std::copy(y, y + n * ch, sink->begin() + static_cast<std::ptrdiff_t>(from * ch));
      return kResultOk;
    };
    return j;
  }

  // Renders the edit; channel c of the output, or all interleaved.
  std::vector<double> render(std::int32_t threads = 1, ResultCode* result = nullptr) const {
    std::vector<double> out;
    SpectralEditJob j = job(out);
    j.threads = threads;
    const ResultCode r = renderSpectralEdit(j);
    if (result) *result = r;
    return out;
  }

 private:
  ResultCode analyse(const std::vector<std::int16_t>& frames) {
    std::FILE* file = std::tmpfile();
    if (!file) return kResultInternal;
    for (const std::int16_t v : frames) {
      const auto u = static_cast<std::uint16_t>(v);
      std::fputc(u & 0xFF, file);
      std::fputc(u >> 8, file);
    }
    original.assign(static_cast<std::size_t>(channels), std::vector<std::uint8_t>(static_cast<std::size_t>(stride) * height));
    ResultCode result = kResultOk;
    for (std::int32_t c = 0; c < channels && result == kResultOk; ++c) {
      std::rewind(file);
      AnalysisJob a;
      a.settings = settings;
      a.input = file;
      a.sampleCount = static_cast<std::uint32_t>(count);
      a.channels = channels;
      a.channel = c;
      a.pixels = original[static_cast<std::size_t>(c)].data();
      a.width = width;
      a.stride = stride;
      a.height = height;
      a.threads = 1;
      result = analyseSound(a);
    }
    std::fclose(file);
    return result;
  }
};

// Channel `c` of interleaved samples.
inline std::vector<double> channelOf(const std::vector<double>& frames, std::int32_t channels, std::int32_t c) {
  std::vector<double> out(frames.size() / static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = frames[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
  return out;
}

// Power spectra of the edit's frames: frame j covers samples j * N/4 - 3N/4
// ... under the analysis window, bins 0 ... N/2 - 1.
struct Spectrogram {
  std::int32_t n = 0;
  std::int64_t frames = 0;
  std::vector<double> power;  // frames x N/2
  double at(std::int64_t j, std::int32_t k) const { return power[static_cast<std::size_t>(j) * static_cast<std::size_t>(n / 2) + static_cast<std::size_t>(k)]; }
};

inline Spectrogram spectrogram(const std::vector<double>& s, std::int32_t n) {
  Spectrogram out;
  out.n = n;
  const std::int64_t hop = n / 4;
  out.frames = (static_cast<std::int64_t>(s.size()) + hop - 1) / hop + 3;
  out.power.assign(static_cast<std::size_t>(out.frames) * static_cast<std::size_t>(n / 2), 0.0);
  std::vector<double> frame(static_cast<std::size_t>(n)), spectrum(static_cast<std::size_t>(n));
  for (std::int64_t j = 0; j < out.frames; ++j) {
    const std::int64_t start = j * hop - n + hop;
    for (std::int32_t m = 0; m < n; ++m) {
      const std::int64_t i = start + m;
      const double w = (1.0 - std::cos(6.283185307179586 * (m + 0.5) / n)) / 2.0;
      frame[static_cast<std::size_t>(m)] = i >= 0 && i < static_cast<std::int64_t>(s.size()) ? s[static_cast<std::size_t>(i)] * w : 0.0;
    }
    fftReal(frame.data(), spectrum.data(), n);
    for (std::int32_t k = 0; k < n / 2; ++k) {
      const double re = spectrum[2 * static_cast<std::size_t>(k)];
      const double im = spectrum[2 * static_cast<std::size_t>(k) + 1];
      out.power[static_cast<std::size_t>(j) * static_cast<std::size_t>(n / 2) + static_cast<std::size_t>(k)] = re * re + im * im;
    }
  }
  return out;
}

// Gaussian noise of RMS `rms` (in 16-bit units), rounded, from a fixed seed.
inline std::vector<std::int16_t> noise(std::size_t count, double rms, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0.0, rms);
  std::vector<std::int16_t> out(count);
  for (std::int16_t& v : out) v = static_cast<std::int16_t>(std::lround(std::clamp(normal(random), -32768.0, 32767.0)));
  return out;
}

// Rounds to 16 bits as the writer does.
inline std::vector<double> rounded(const std::vector<double>& s) {
  std::vector<double> out(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = std::nearbyint(std::clamp(s[i], -32768.0, 32767.0));
  return out;
}

}  // namespace vellomar::test

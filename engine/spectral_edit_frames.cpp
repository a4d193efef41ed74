// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/spectral_edit_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/spectral_edit_kernels.h"

namespace vellomar {
namespace {

// Synthesised frames closer than this stay in one run: the frames around a
// run (three on each side) then never hold another run's cells.
constexpr std::int64_t kRunGap = 7;
// The longest run solved at once; a longer one is solved in pieces, each
// starting from the one before it.
constexpr std::int64_t kMaxRunFrames = 256;
// The push of fast Griffin-Lim (Perraudin, Balazs and Sondergaard).
constexpr double kMomentum = 0.99;

// A fixed pseudo-random phase for cell (j, k), for synthesis over digital
// silence.
double startingAngle(std::int64_t j, std::int32_t k) {
  std::uint64_t h = static_cast<std::uint64_t>(j) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(k) * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return 6.283185307179586 * static_cast<double>(h >> 11) / 9007199254740992.0;
}

}  // namespace

const double* SynthesisStore::find(std::int32_t channel, std::int64_t j) const {
  const auto it = std::upper_bound(runs.begin(), runs.end(), std::make_pair(channel, j),
                                   [](const std::pair<std::int32_t, std::int64_t>& key, const SynthesisRun& run) {
                                     return key.first < run.channel || (key.first == run.channel && key.second < run.first);
                                   });
  if (it == runs.begin()) return nullptr;
  const SynthesisRun& run = *(it - 1);
  if (run.channel != channel || j < run.first || j >= run.end) return nullptr;
  return run.changes.data() + static_cast<std::size_t>(j - run.first) * run.changes.size() /
                                  static_cast<std::size_t>(run.end - run.first);
}

ResultCode EditContext::configure(const EditGrid& g, const SynthesisStore& s) {
  grid = &g;
  store = &s;
  if (!fft.prepare(g.n)) return kResultNoMemory;
  try {
    const auto un = static_cast<std::size_t>(g.n);
    windowed.assign(un, 0.0);
    spectrum.assign(un, 0.0);
    moved.assign(un, 0.0);
    change.assign(un, 0.0);
    samples.assign(un, 0.0);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  return cells.configure(g) ? kResultOk : kResultNoMemory;
}

bool EditContext::analyse(const double* x) {
  edit_kernels::multiply(windowed.data(), x, grid->window.data(), static_cast<std::size_t>(grid->n));
  return fft.forward(windowed.data(), spectrum.data(), grid->n);
}

ResultCode EditContext::read(std::int32_t channel, std::int64_t from, std::int64_t count, double* out) const {
  const std::int64_t lo = std::clamp<std::int64_t>(from, 0, grid->total);
  const std::int64_t hi = std::clamp<std::int64_t>(from + count, lo, grid->total);
  for (std::int64_t i = from; i < lo && i < from + count; ++i) out[i - from] = 0.0;
  if (hi > lo) {
    const ResultCode r = grid->job->read(channel, static_cast<std::uint64_t>(lo), static_cast<std::size_t>(hi - lo),
                                         out + (lo - from));
    if (r != kResultOk) return r;
  }
  for (std::int64_t i = std::max(hi, from); i < from + count; ++i) out[i - from] = 0.0;
  return kResultOk;
}

ResultCode EditContext::applyMoves(std::int64_t j, std::int32_t channel, bool& changed) {
  const EditGrid& g = *grid;
  for (const SpectralMove& move : g.job->moves) {
    if ((move.channel >= 0 && move.channel != channel) || j < move.frameFirst || j >= move.frameEnd) continue;
    const std::int64_t source = j - move.frameOffset;
    const std::int32_t b0 = std::max(move.binFirst, std::max(0, move.binOffset));
    const std::int32_t b1 = std::min(move.binEnd, std::min(g.bins, g.bins + move.binOffset));
    if (b1 <= b0) continue;
    const std::int64_t start = g.frameStart(source);
    if (const ResultCode r = read(channel, start, g.n, samples.data()); r != kResultOk) return r;
    edit_kernels::multiply(windowed.data(), samples.data(), g.window.data(), static_cast<std::size_t>(g.n));
    if (!fft.forward(windowed.data(), moved.data(), g.n)) return kResultNoMemory;
    double c = 1.0, s = 0.0;
    movePhase(g, start, move.binOffset, c, s);
    for (std::int32_t k = b0; k < b1; ++k) {
      const auto to = static_cast<std::size_t>(k);
      const auto from = static_cast<std::size_t>(k - move.binOffset);
      const double re = moved[2 * from] * c - moved[2 * from + 1] * s;
      const double im = moved[2 * from] * s + moved[2 * from + 1] * c;
      change[2 * to] = re - spectrum[2 * to];
      change[2 * to + 1] = im - spectrum[2 * to + 1];
      changed = true;
    }
  }
  return kResultOk;
}

bool EditContext::frameChange(std::int64_t j, std::int32_t channel, const double* x, bool useStore, ResultCode& result) {
  const EditGrid& g = *grid;
  result = kResultOk;
  const std::size_t doubles = static_cast<std::size_t>(g.n);
  if (useStore) {
    if (const double* stored = store->find(channel, j)) {
      std::memcpy(change.data(), stored, doubles * sizeof(double));
      return true;
    }
  }
  const bool touched = g.frameTouched(j, channel);
  const bool moving = frameMoved(g, j, channel);
  if (!touched && !moving) return false;
  if (!analyse(x)) {
    result = kResultNoMemory;
    return false;
  }
  bool changed = false;
  if (touched) {
    cells.evaluate(g, j, channel);
    changed = cells.any;
    edit_kernels::scaleComplex(change.data(), cells.gainMinusOne.data(), spectrum.data(),
                               static_cast<std::size_t>(g.bins));
  } else {
    std::fill(change.begin(), change.end(), 0.0);
  }
  if (moving) {
    result = applyMoves(j, channel, changed);
    if (result != kResultOk) return false;
  }
  return changed;
}

bool EditContext::addChange(std::int64_t j, double* out, std::int64_t begin, std::int64_t end) {
  const EditGrid& g = *grid;
  if (!fft.inverse(change.data(), samples.data(), g.n)) return false;
  const std::int64_t start = g.frameStart(j);
  const std::int64_t lo = std::max(start, begin);
  const std::int64_t hi = std::min(start + g.n, end);
  if (hi <= lo) return true;
  const auto m = static_cast<std::size_t>(lo - start);
  edit_kernels::multiplyAdd(out + (lo - begin), g.synthesis.data() + m, samples.data() + m,
                            static_cast<std::size_t>(hi - lo));
  return true;
}

namespace {

// Griffin-Lim over frames a ... b of one channel: the synthesised cells
// take their painted magnitude and the phase of the spectrum of the
// sound made so far; every other cell keeps its masked (or moved) value.
class RunSolver {
 public:
  RunSolver(EditContext& context, SynthesisStore& store) : c_(context), g_(*context.grid), store_(store) {}

  ResultCode solve(std::int32_t channel, std::int64_t a, std::int64_t b) {
    lo_ = std::max<std::int64_t>(a - 3, 0);
    hi_ = std::min<std::int64_t>(b + 3, g_.frames - 1);
    a_ = a;
    b_ = b;
    channel_ = channel;
    const auto un = static_cast<std::size_t>(g_.n);
    begin_ = g_.frameStart(lo_);
    length_ = g_.frameStart(hi_) + g_.n - begin_;
    const auto frames = static_cast<std::size_t>(hi_ - lo_ + 1);
    const auto own = static_cast<std::size_t>(b - a + 1);
    try {
      x_.assign(static_cast<std::size_t>(length_), 0.0);
      fixed_.assign(static_cast<std::size_t>(length_), 0.0);
      y_.assign(static_cast<std::size_t>(length_), 0.0);
      spectra_.assign(own * un, 0.0);
      result_.assign(own * un, 0.0);
      previous_.assign(own * un, 0.0);
      targets_.assign(own * un / 2, -1.0);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    (void)frames;
    if (const ResultCode r = c_.read(channel, begin_, length_, x_.data()); r != kResultOk) return r;
    if (const ResultCode r = prepareFrames(); r != kResultOk) return r;
    for (std::int32_t i = 0; i < kEditSynthesisIterations; ++i) {
      if (const ResultCode r = iterate(i == 0, i + 1 == kEditSynthesisIterations); r != kResultOk) return r;
    }
    return keep();
  }

 private:
  const double* frameSamples(const std::vector<double>& signal, std::int64_t j) const {
    return signal.data() + (g_.frameStart(j) - begin_);
  }

  // The fixed part of the change (frames around the run) and the starting
  // spectra of the run's own frames.
  ResultCode prepareFrames() {
    const auto un = static_cast<std::size_t>(g_.n);
    ResultCode r = kResultOk;
    for (std::int64_t j = lo_; j <= hi_; ++j) {
      if (j >= a_ && j <= b_) continue;
      if (c_.frameChange(j, channel_, frameSamples(x_, j), true, r)) {
        if (!c_.addChange(j, fixed_.data(), begin_, begin_ + length_)) return kResultNoMemory;
      }
      if (r != kResultOk) return r;
    }
    for (std::int64_t j = a_; j <= b_; ++j) {
      const auto i = static_cast<std::size_t>(j - a_);
      double* y = result_.data() + i * un;  // Y of the frame
      double* x = spectra_.data() + i * un;
      double* target = targets_.data() + i * un / 2;
      const bool changed = c_.frameChange(j, channel_, frameSamples(x_, j), false, r);
      if (r != kResultOk) return r;
      if (!changed && !c_.analyse(frameSamples(x_, j))) return kResultNoMemory;
      if (!changed) std::fill(c_.change.begin(), c_.change.end(), 0.0);
      std::memcpy(x, c_.spectrum.data(), un * sizeof(double));
      if (g_.frameTouched(j, channel_)) {
        c_.cells.evaluate(g_, j, channel_);
      } else {
        std::fill(c_.cells.synthShare.begin(), c_.cells.synthShare.end(), 0.0);
      }
      for (std::int32_t k = 0; k < g_.bins; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        y[2 * uk] = x[2 * uk] + c_.change[2 * uk];
        y[2 * uk + 1] = x[2 * uk + 1] + c_.change[2 * uk + 1];
        if (!c_.cells.synthesised(k)) {
          // A masked cell among synthesised ones keeps the magnitude the
          // mask gives it, its phase free to fit its neighbours.
          if (c_.change[2 * uk] != 0.0 || c_.change[2 * uk + 1] != 0.0) target[uk] = std::hypot(y[2 * uk], y[2 * uk + 1]);
          continue;
        }
        target[uk] = c_.cells.target[uk];
        const double m = std::hypot(x[2 * uk], x[2 * uk + 1]);
        const double angle = std::atan2(x[2 * uk + 1], x[2 * uk]);
        const double phase = m > 0.0 ? angle : startingAngle(j, k);
        y[2 * uk] = target[uk] * std::cos(phase);
        y[2 * uk + 1] = target[uk] * std::sin(phase);
      }
    }
    return kResultOk;
  }

  ResultCode iterate(bool first, bool last) {
    const auto un = static_cast<std::size_t>(g_.n);
    std::copy(fixed_.begin(), fixed_.end(), y_.begin());
    for (std::int64_t j = a_; j <= b_; ++j) {
      const auto i = static_cast<std::size_t>(j - a_);
      const double* y = result_.data() + i * un;
      const double* x = spectra_.data() + i * un;
      for (std::size_t e = 0; e < un; ++e) c_.change[e] = y[e] - x[e];
      if (!c_.addChange(j, y_.data(), begin_, begin_ + length_)) return kResultNoMemory;
    }
    for (std::size_t s = 0; s < y_.size(); ++s) y_[s] += x_[s];
    for (std::int64_t j = a_; j <= b_; ++j) {
      const auto i = static_cast<std::size_t>(j - a_);
      if (!c_.analyse(frameSamples(y_, j))) return kResultNoMemory;
      double* y = result_.data() + i * un;
      const double* target = targets_.data() + i * un / 2;
      for (std::int32_t k = 0; k < g_.bins; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        if (target[uk] < 0.0) continue;
        const double re = c_.spectrum[2 * uk];
        const double im = c_.spectrum[2 * uk + 1];
        const double m = std::hypot(re, im);
        if (!(m > 0.0)) continue;
        // The fast Griffin-Lim step: the projection, pushed on by its
        // change since the last iteration.
        const double pr = target[uk] * re / m;
        const double pi = target[uk] * im / m;
        double* kept = previous_.data() + i * un + 2 * uk;
        const double momentum = first || last ? 0.0 : kMomentum;
        y[2 * uk] = pr + momentum * (pr - kept[0]);
        y[2 * uk + 1] = pi + momentum * (pi - kept[1]);
        kept[0] = pr;
        kept[1] = pi;
      }
    }
    return kResultOk;
  }

  ResultCode keep() {
    const auto un = static_cast<std::size_t>(g_.n);
    SynthesisRun run;
    run.channel = channel_;
    run.first = a_;
    run.end = b_ + 1;
    try {
      run.changes.assign(result_.size(), 0.0);
      for (std::size_t e = 0; e < result_.size(); ++e) run.changes[e] = result_[e] - spectra_[e];
      store_.runs.push_back(std::move(run));
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    (void)un;
    return kResultOk;
  }

  EditContext& c_;
  const EditGrid& g_;
  SynthesisStore& store_;
  std::int32_t channel_ = 0;
  std::int64_t a_ = 0, b_ = 0, lo_ = 0, hi_ = 0;
  std::int64_t begin_ = 0, length_ = 0;
  std::vector<double> x_, fixed_, y_;
  std::vector<double> spectra_, result_, targets_, previous_;
};

}  // namespace

ResultCode solveSynthesis(const EditGrid& grid, SynthesisStore& store, const std::atomic<bool>* abort) {
  store.runs.clear();
  EditContext context;
  if (const ResultCode r = context.configure(grid, store); r != kResultOk) return r;
  RunSolver solver(context, store);
  std::vector<std::int64_t> frames;
  for (std::int32_t channel = 0; channel < grid.channels; ++channel) {
    if (const ResultCode r = synthesisFrames(grid, channel, frames); r != kResultOk) return r;
    std::size_t i = 0;
    while (i < frames.size()) {
      const std::int64_t a = frames[i];
      std::int64_t b = a;
      while (i + 1 < frames.size() && frames[i + 1] - b <= kRunGap && frames[i + 1] - a < kMaxRunFrames) b = frames[++i];
      ++i;
      if (abort && abort->load(std::memory_order_relaxed)) return kResultAborted;
      if (const ResultCode r = solver.solve(channel, a, b); r != kResultOk) return r;
    }
  }
  return kResultOk;
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "fft/fft.h"

namespace vellomar {
namespace {

constexpr double kSentinel = -12345.678;
constexpr int kGuard = 8;

std::vector<double> randomReals(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> v(static_cast<std::size_t>(n));
  for (double& x : v) x = dist(gen);
  return v;
}

// Plain DFT in the layout of the contract: entry k = (1/n) sum x_j e^{-2 pi i jk/n}.
std::vector<std::complex<double>> plainDft(const std::vector<double>& x) {
  const std::size_t n = x.size();
  std::vector<std::complex<double>> out(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    std::complex<double> sum = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const double angle = -2.0 * M_PI * static_cast<double>((j * k) % n) / static_cast<double>(n);
      sum += x[j] * std::complex<double>(std::cos(angle), std::sin(angle));
    }
    out[k] = sum / static_cast<double>(n);
  }
  return out;
}

// Plain inverse with the n/2 coefficient taken as zero, unscaled.
std::vector<double> plainInverse(const std::vector<std::complex<double>>& c, std::size_t n) {
  std::vector<double> out(n);
  for (std::size_t j = 0; j < n; ++j) {
    double sum = c[0].real();
    for (std::size_t k = 1; k < n / 2; ++k) {
      const double angle = 2.0 * M_PI * static_cast<double>((j * k) % n) / static_cast<double>(n);
      sum += 2.0 * (c[k].real() * std::cos(angle) - c[k].imag() * std::sin(angle));
    }
    out[j] = sum;
  }
  return out;
}

class FftSizes : public ::testing::TestWithParam<int> {};

TEST_P(FftSizes, ForwardMatchesPlainDftAndStaysInsideItsOutput) {
  const int n = GetParam();
  const std::vector<double> x = randomReals(n, static_cast<unsigned>(n));
  const std::vector<double> copy = x;
  std::vector<double> out(static_cast<std::size_t>(n + 2 * kGuard), kSentinel);
  fftReal(x.data(), out.data() + kGuard, n, 0);

  EXPECT_EQ(x, copy) << "input changed";
  for (int i = 0; i < kGuard; ++i) {
    EXPECT_EQ(out[static_cast<std::size_t>(i)], kSentinel);
    EXPECT_EQ(out[static_cast<std::size_t>(kGuard + n + i)], kSentinel);
  }
  const auto expected = plainDft(x);
  for (int k = 0; k < n / 2; ++k) {
    EXPECT_NEAR(out[static_cast<std::size_t>(kGuard + 2 * k)], expected[static_cast<std::size_t>(k)].real(), 1e-12);
    EXPECT_NEAR(out[static_cast<std::size_t>(kGuard + 2 * k + 1)], expected[static_cast<std::size_t>(k)].imag(),
                1e-12);
  }
}

TEST_P(FftSizes, InverseMatchesPlainInverseAndStaysInsideItsOutput) {
  const int n = GetParam();
  const std::vector<double> raw = randomReals(n, 7u + static_cast<unsigned>(n));
  std::vector<std::complex<double>> c(static_cast<std::size_t>(n / 2));
  for (int k = 0; k < n / 2; ++k) c[static_cast<std::size_t>(k)] = {raw[static_cast<std::size_t>(2 * k)], raw[static_cast<std::size_t>(2 * k + 1)]};
  c[0] = {c[0].real(), 0.0};
  std::vector<double> in(static_cast<std::size_t>(n));
  for (int k = 0; k < n / 2; ++k) {
    in[static_cast<std::size_t>(2 * k)] = c[static_cast<std::size_t>(k)].real();
    in[static_cast<std::size_t>(2 * k + 1)] = c[static_cast<std::size_t>(k)].imag();
  }
  const std::vector<double> copy = in;
  std::vector<double> out(static_cast<std::size_t>(n + 2 * kGuard), kSentinel);
  ifftReal(in.data(), out.data() + kGuard, 0.0, n);

  EXPECT_EQ(in, copy) << "input changed";
  for (int i = 0; i < kGuard; ++i) {
    EXPECT_EQ(out[static_cast<std::size_t>(i)], kSentinel);
    EXPECT_EQ(out[static_cast<std::size_t>(kGuard + n + i)], kSentinel);
  }
  const auto expected = plainInverse(c, static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j)
    EXPECT_NEAR(out[static_cast<std::size_t>(kGuard + j)], expected[static_cast<std::size_t>(j)], 1e-9);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSizes, ::testing::Values(2, 4, 8, 64, 1024, 4096));

TEST(Fft, ScalingForwardDividesInverseDoesNot) {
  // A constant 1 has entry 0 = 1 (forward divides by n); an impulse of
  // entry 0 = 1 comes back as a constant 1 (inverse unscaled).
  const int n = 16;
  std::vector<double> ones(n, 1.0), spec(n), back(n);
  fftReal(ones.data(), spec.data(), n, 0);
  EXPECT_DOUBLE_EQ(spec[0], 1.0);
  for (int i = 1; i < n; ++i) EXPECT_NEAR(spec[static_cast<std::size_t>(i)], 0.0, 1e-15);
  ifftReal(spec.data(), back.data(), 0.0, n);
  for (double v : back) EXPECT_NEAR(v, 1.0, 1e-15);
}

TEST(Fft, RoundTripLosesOnlyTheNyquistComponent) {
  const int n = 256;
  std::vector<double> x = randomReals(n, 99);
  std::vector<double> spec(n), back(n);
  fftReal(x.data(), spec.data(), n, 0);
  ifftReal(spec.data(), back.data(), 0.0, n);
  double nyquist = 0;
  for (int j = 0; j < n; ++j) nyquist += (j % 2 ? -1.0 : 1.0) * x[static_cast<std::size_t>(j)];
  nyquist /= n;
  for (int j = 0; j < n; ++j)
    EXPECT_NEAR(back[static_cast<std::size_t>(j)], x[static_cast<std::size_t>(j)] - (j % 2 ? -nyquist : nyquist), 1e-12);
}

TEST(Fft, UnalignedArraysAndUnsupportedSizes) {
  const int n = 32;
  std::vector<double> storage(2 * n + 3, 0.0), spec(n + 1), back(n + 1);
  double* x = storage.data() + 1;  // off the planner's alignment
  for (int i = 0; i < n; ++i) x[i] = std::sin(i * 0.3);
  fftReal(x, spec.data() + 1, n, 0);
  ifftReal(spec.data() + 1, back.data() + 1, 0.0, n);
  double nyq = 0;
  for (int j = 0; j < n; ++j) nyq += (j % 2 ? -1.0 : 1.0) * x[j];
  for (int j = 0; j < n; ++j) EXPECT_NEAR(back[static_cast<std::size_t>(j + 1)], x[j] - (j % 2 ? -1 : 1) * nyq / n, 1e-12);

  std::vector<double> out(8, kSentinel);
  fftReal(x, out.data(), 6, 0);
  ifftReal(x, out.data(), 0.0, 0);
  for (double v : out) EXPECT_EQ(v, kSentinel);
  EXPECT_FALSE(prepareFft(12));
  EXPECT_TRUE(prepareFft(2048));
}

TEST(Fft, ThreadsTransformConcurrently) {
  const int n = 2048;
  const std::vector<double> x = randomReals(n, 5);
  std::vector<double> reference(n);
  fftReal(x.data(), reference.data(), n, 0);
  std::vector<std::vector<double>> results(4, std::vector<double>(n));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int rep = 0; rep < 20; ++rep) fftReal(x.data(), results[static_cast<std::size_t>(t)].data(), n, 0);
    });
  for (auto& th : threads) th.join();
  for (const auto& r : results) EXPECT_EQ(r, reference);
}

// One plan set, shared by threads that each transform in a workspace of
// their own: the same bits as one workspace alone.
TEST(Fft, ThreadsShareOnePlanSet) {
  const int n = 4096;
  const FftTransform transforms[] = {{FftDirection::Forward, n}, {FftDirection::Inverse, n}};
  FftPlans plans;
  ASSERT_TRUE(plans.make(transforms, FftPlanSource{}));
  EXPECT_FALSE(plans.measured());
  EXPECT_EQ(plans.largest(), n);

  const std::vector<double> x = randomReals(n, 11);
  auto roundTrip = [&](FftWorkspace& ws, std::vector<double>& spectrum, std::vector<double>& back) {
    return ws.forward(x.data(), spectrum.data(), n) && ws.inverse(spectrum.data(), back.data(), n);
  };
  FftWorkspace alone;
  ASSERT_TRUE(alone.prepare(plans));
  std::vector<double> spectrum(n), back(n);
  ASSERT_TRUE(roundTrip(alone, spectrum, back));
  for (int j = 0; j < n; ++j) ASSERT_NEAR(back[static_cast<std::size_t>(j)], x[static_cast<std::size_t>(j)], 0.1);

  std::vector<std::vector<double>> spectra(4, std::vector<double>(n)), backs(4, std::vector<double>(n));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      FftWorkspace ws;
      if (!ws.prepare(plans)) return;
      for (int rep = 0; rep < 20; ++rep) roundTrip(ws, spectra[t], backs[t]);
    });
  }
  for (auto& th : threads) th.join();
  for (std::size_t t = 0; t < 4; ++t) {
    EXPECT_EQ(spectra[t], spectrum);
    EXPECT_EQ(backs[t], back);
  }
}

TEST(Fft, AWorkspaceTransformsOnlyWhatItsPlansHold) {
  const FftTransform transforms[] = {{FftDirection::Inverse, 64}, {FftDirection::Forward, 128}};
  FftPlans plans;
  ASSERT_TRUE(plans.make(transforms, FftPlanSource{}));
  FftWorkspace ws;
  ASSERT_TRUE(ws.prepare(plans));
  EXPECT_TRUE(ws.ready(FftDirection::Inverse, 64));
  EXPECT_TRUE(ws.ready(FftDirection::Forward, 128));
  std::vector<double> in(128, 1.0), out(128, kSentinel);
  EXPECT_FALSE(ws.forward(in.data(), out.data(), 64));
  EXPECT_FALSE(ws.inverse(in.data(), out.data(), 128));
  EXPECT_EQ(ws.inverseInput(128), nullptr);
  for (double v : out) EXPECT_EQ(v, kSentinel);

  // Unsupported sizes make no plans; an empty set readies nothing.
  const FftTransform odd[] = {{FftDirection::Forward, 96}};
  FftPlans none;
  EXPECT_FALSE(none.make(odd, FftPlanSource{}));
  EXPECT_EQ(none.largest(), 0);
  FftWorkspace unready;
  EXPECT_FALSE(unready.prepare(none));
}

}  // namespace
}  // namespace vellomar

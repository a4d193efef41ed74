// SPDX-License-Identifier: GPL-3.0-or-later
// A render allocates what it needs at its start; its loop over blocks and
// hops allocates nothing, so a long sound costs no more allocations than a
// short one, on one thread or several. Every operator new of this test
// binary is counted, and one size of aligned allocation can be made to
// fail.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <tuple>

#include "engine/analysis.h"
#include "engine/render.h"
#include "engine/session.h"
#include "engine/settings.h"
#include "engine/spectral_edit.h"
#include "files/messages.h"
#include "files/wav.h"
#include "support/session_snapshots.h"
#include "support/test_support.h"
#include "spectral_edit_fixture.h"

namespace {
std::atomic<long> gNewCalls{0};
// Aligned allocations of exactly this many bytes fail (0: none).
std::atomic<std::size_t> gFailingSize{0};

void* allocate(std::size_t size) {
  gNewCalls.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
  gNewCalls.fetch_add(1, std::memory_order_relaxed);
  if (size == gFailingSize.load()) throw std::bad_alloc();
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  if (void* p = std::aligned_alloc(align, rounded ? rounded : align)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
// The non-throwing forms too (the transforms' scratch uses them): under a
// sanitizer they would otherwise allocate apart from the counting above,
// and be freed by the deletes below.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return allocateAligned(size, alignment);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace vellomar {
namespace {

class RenderAllocationTest : public ::testing::Test {
 protected:
  // operator new calls made by one render of `count` samples.
  long allocationsOf(std::uint32_t count, std::int32_t threads) {
    return allocationsAndResultOf(count, threads, kResultOk);
  }
  long allocationsAndResultOf(std::uint32_t count, std::int32_t threads, ResultCode want) {
    RenderJob job;
    job.settings = settings;
    job.picture = picture;
    job.sampleCount = count;
    job.threads = threads;
    if (settings.inputSource == InputSource::WaveFile) {
      WaveInfo info;
      Refusal refusal;
      job.input = openInputWave(dir.file("in.wav"), info, 44100, refusal);
      EXPECT_NE(job.input, nullptr);
    }
    job.output = test::createTestOutput(dir.file("out.wav"), count);
    EXPECT_NE(job.output, nullptr);
    const long before = gNewCalls.load();
    EXPECT_EQ(renderSound(job), want);
    return gNewCalls.load() - before;
  }

  test::TempDir dir;
  RenderSettings settings;
  PictureData picture;
};

TEST_F(RenderAllocationTest, NoiseRenderAllocatesTheSameForAnyLength) {
  test::TestPicture shown(64, 32, [](auto x, auto y) { return (x * 7 + y * 13) % 256; });
  picture = shown.data();
  for (std::int32_t threads : {1, 2}) {
    for (std::int32_t s : {4, 16}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, S " + std::to_string(s));
      settings.subBlocksPerBlock = s;
      allocationsOf(441000, threads);  // first use of the transforms' plans
      const long shortRender = allocationsOf(441000, threads);
      EXPECT_EQ(allocationsOf(4410000, threads), shortRender);
    }
  }
}

TEST_F(RenderAllocationTest, WaveRenderAllocatesTheSameForAnyLength) {
  test::TestPicture shown(16, 8, [](auto x, auto) { return x * 16; });
  picture = shown.data();
  settings.inputSource = InputSource::WaveFile;
  settings.frequencyScale = FrequencyScale::Linear;
  settings.blockLength = 2048;
  test::writeFile(dir.file("in.wav"),
                  test::waveBytes(test::pcm16Bytes(test::speechLike(600000, 8000.0)), 1, 16, 44100));
  for (std::int32_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    allocationsOf(100000, threads);
    const long shortRender = allocationsOf(100000, threads);
    EXPECT_EQ(allocationsOf(600000, threads), shortRender);
  }
}

// A stereo render, of a colour picture in a chosen band, allocates no more
// for a long sound than for a short one: two gain matrices and the run
// buffers at the start, nothing per block or per hop, whether the calling
// thread renders the runs itself or workers do.
TEST_F(RenderAllocationTest, StereoRenderAllocatesTheSameForAnyLength) {
  test::TestPicture shown(64, 32, [](auto x, auto y) { return (x * 7 + y * 13) % 256; });
  test::TestPicture red(64, 32, [](auto x, auto) { return x * 4; });
  test::TestPicture green(64, 32, [](auto, auto y) { return y * 8; });
  picture = shown.data();
  picture.red = red.data().pixels;
  picture.green = green.data().pixels;
  settings.stereo = true;
  settings.bandLowHz = 300.0f;
  settings.bandHighHz = 9000.0f;
  for (std::int32_t threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    settings.inputSource = InputSource::PinkNoise;
    allocationsOf(441000, threads);
    const long shortRender = allocationsOf(441000, threads);
    EXPECT_EQ(allocationsOf(4410000, threads), shortRender);
  }
  settings.inputSource = InputSource::WaveFile;
  test::writeFile(dir.file("in.wav"),
                  test::waveBytes(test::pcm16Bytes(test::speechLike(600000, 8000.0)), 1, 16, 44100));
  for (std::int32_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    allocationsOf(100000, threads);
    const long shortRender = allocationsOf(100000, threads);
    EXPECT_EQ(allocationsOf(600000, threads), shortRender);
  }
}

// Sine tones, mono and stereo: their tables and each thread's synthesiser
// are made at the start, nothing per block or per hop.
TEST_F(RenderAllocationTest, SineRenderAllocatesTheSameForAnyLength) {
  test::TestPicture shown(300, 32, [](auto x, auto y) { return (x * 7 + y * 13) % 256; });
  picture = shown.data();
  settings.inputSource = InputSource::SineTones;
  for (bool stereo : {false, true}) {
    for (std::int32_t threads : {1, 2}) {
      SCOPED_TRACE(std::to_string(threads) + (stereo ? " threads, stereo" : " threads"));
      settings.stereo = stereo;
      allocationsOf(441000, threads);
      const long shortRender = allocationsOf(441000, threads);
      EXPECT_EQ(allocationsOf(4410000, threads), shortRender);
    }
  }
}

// Every render context makes its transforms' scratch; when that cannot be
// had, the render says so with result 3 instead of rendering without
// transforms.
TEST_F(RenderAllocationTest, TransformScratchThatCannotBeHadIsResult3) {
  test::TestPicture shown(16, 8, [](auto x, auto) { return x * 16; });
  picture = shown.data();
  settings.blockLength = 4096;
  // The scratch of the 2N-point transforms: N + 1 complex entries.
  gFailingSize = sizeof(double) * (2 * 4096 + 2);
  for (std::int32_t threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    allocationsAndResultOf(200000, threads, kResultNoMemory);
  }
  gFailingSize = 0;
  allocationsAndResultOf(200000, 2, kResultOk);
}

// A render session allocates at its start: one revision of one row, its
// blocks rendered, published and reported, allocates as much for a sound
// ten times as long (none at all), mono or stereo, on one thread or two.
class SessionAllocationTest : public ::testing::TestWithParam<std::tuple<bool, std::int32_t>> {
 protected:
  long revisionAllocations(float seconds) {
    const auto [stereo, threads] = GetParam();
    test::TempDir dir;
    test::SnapshotMaker maker;
    maker.frames = noiseSampleCount(44100, seconds);
    maker.settings.blockLength = 4096;
    maker.settings.stereo = stereo;
    maker.useSource(test::Source::Pink, dir.path());
    test::Planes planes(64, 128, 5);
    SessionOptions options;
    options.threads = threads;
    options.workingFolder = dir.path();
    ResultCode result = -1;
    auto session = RenderSession::start(maker.snapshot(planes), options, result);
    EXPECT_NE(session, nullptr);
    if (!session) return -1;
    EXPECT_EQ(session->waitUntilIdle().result, kResultOk);
    std::mt19937 random(1);
    planes.scribble(40, 40, random);
    SessionSnapshot edited = maker.snapshot(planes);
    const long before = gNewCalls.load();
    EXPECT_EQ(session->revise(std::move(edited), 40, 40), kResultOk);
    const RenderOutcome outcome = session->waitUntilIdle();
    const long made = gNewCalls.load() - before;
    EXPECT_EQ(outcome.result, kResultOk);
    EXPECT_GT(outcome.blocksRendered, 0);
    return made;
  }
};

TEST_P(SessionAllocationTest, ARevisionAllocatesTheSameForAnyLength) {
  revisionAllocations(1.0f);  // first use of the transforms' plans
  const long shortSound = revisionAllocations(2.0f);
  EXPECT_EQ(revisionAllocations(20.0f), shortSound);
  // Nothing at all: the snapshot is handed over, the gains and the blocks
  // are rewritten in place.
  EXPECT_EQ(shortSound, 0);
}

INSTANTIATE_TEST_SUITE_P(MonoStereoThreads, SessionAllocationTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(1, 2)));

// An analysis likewise allocates at its start only: a long sound costs no
// more allocations than a short one.
class AnalysisAllocationTest : public ::testing::Test {
 protected:
  long allocationsOf(std::uint32_t count, std::int32_t threads, ResultCode want = kResultOk) {
    WaveInfo info;
    Refusal refusal;
    std::FILE* input = openInputWave(dir.file("in.wav"), info, 44100, refusal);
    EXPECT_NE(input, nullptr);
    std::vector<std::uint8_t> pixels(100 * 64);
    AnalysisJob job;
    job.settings = settings;
    job.input = input;
    job.sampleCount = count;
    job.pixels = pixels.data();
    job.width = 100;
    job.stride = 100;
    job.height = 64;
    job.threads = threads;
    const long before = gNewCalls.load();
    EXPECT_EQ(analyseSound(job), want);
    const long made = gNewCalls.load() - before;
    std::fclose(input);
    return made;
  }

  test::TempDir dir;
  RenderSettings settings;
};

TEST_F(AnalysisAllocationTest, AllocatesTheSameForAnyLength) {
  test::writeFile(dir.file("in.wav"),
                  test::waveBytes(test::pcm16Bytes(test::speechLike(44100 * 40, 8000.0)), 1, 16, 44100));
  for (std::int32_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    allocationsOf(44100 * 10, threads);  // first use of the transforms' plans
    const long shortSound = allocationsOf(44100 * 10, threads);
    EXPECT_EQ(allocationsOf(44100 * 40, threads), shortSound);
  }
}

TEST_F(AnalysisAllocationTest, TransformScratchThatCannotBeHadIsResult3) {
  test::writeFile(dir.file("in.wav"),
                  test::waveBytes(test::pcm16Bytes(test::speechLike(44100 * 10, 8000.0)), 1, 16, 44100));
  settings.blockLength = 4096;
  // The scratch of the N-point transforms: N/2 + 1 complex entries.
  gFailingSize = sizeof(double) * (4096 + 2);
  for (std::int32_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    allocationsOf(44100 * 10, threads, kResultNoMemory);
  }
  gFailingSize = 0;
  allocationsOf(44100 * 10, 2);
}

// operator new calls made by one spectral edit of `e`, whose every frame is
// masked and some moved.
long editAllocations(const test::EditCase& e, std::int32_t threads) {
  std::vector<double> out;
  SpectralEditJob job = e.job(out);
  job.threads = threads;
  const long before = gNewCalls.load();
  EXPECT_EQ(renderSpectralEdit(job), kResultOk);
  return gNewCalls.load() - before;
}

TEST(SpectralEditAllocationTest, AnEditAllocatesTheSameForAnyLength) {
  RenderSettings grid;
  grid.blockLength = 2048;
  const std::vector<std::int16_t> longSound = test::speechLike(44100 * 8, 8000.0);
  const std::vector<std::int16_t> shortSound(longSound.begin(), longSound.begin() + 44100 * 2);
  test::EditCase shortEdit(grid, shortSound, 1, 96, 40);
  test::EditCase longEdit(grid, longSound, 1, 96, 40);
  for (test::EditCase* e : {&shortEdit, &longEdit}) {
    ASSERT_EQ(e->analysisResult, kResultOk);
    e->paint(0, 0, 96, 40, [](int b) { return b / 2; });
    e->moves.push_back(SpectralMove{-1, 20, 40, 300, 400, 10, 50});
  }
  for (std::int32_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    editAllocations(shortEdit, threads);  // first use of the transforms' plans
    EXPECT_EQ(editAllocations(longEdit, threads), editAllocations(shortEdit, threads));
  }
}

}  // namespace
}  // namespace vellomar

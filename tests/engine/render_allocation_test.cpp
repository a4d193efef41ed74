// A render allocates what it needs at its start; its loop over blocks and
// hops allocates nothing, so a long sound costs no more allocations than a
// short one. Every operator new of this test binary is counted.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "engine/render.h"
#include "engine/settings.h"
#include "files/wav.h"
#include "support/test_support.h"

namespace {
std::atomic<long> gNewCalls{0};

void* allocate(std::size_t size) {
  gNewCalls.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
  gNewCalls.fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  if (void* p = std::aligned_alloc(align, rounded ? rounded : align)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace vellomar {
namespace {

class RenderAllocationTest : public ::testing::Test {
 protected:
  void SetUp() override { test::resetEngineState(); }
  void TearDown() override { test::resetEngineState(); }

  // operator new calls made by one render of `count` samples.
  long allocationsOf(std::uint32_t count) {
    RenderJob job;
    job.sampleCount = count;
    if (renderSettings.inputSource == InputSource::WaveFile) {
      WaveInfo info;
      job.input = openInputWave(dir.file("in.wav"), info, 44100, false, nullptr);
      EXPECT_NE(job.input, nullptr);
    }
    job.output = createOutputWave(dir.file("out.wav"), WaveInfo{count, 1, 16, 44100, false}, false, nullptr);
    EXPECT_NE(job.output, nullptr);
    const long before = gNewCalls.load();
    EXPECT_EQ(renderSound(job), kResultOk);
    return gNewCalls.load() - before;
  }

  test::TempDir dir;
};

TEST_F(RenderAllocationTest, NoiseRenderAllocatesTheSameForAnyLength) {
  test::TestPicture picture(64, 32, [](auto x, auto y) { return (x * 7 + y * 13) % 256; });
  for (std::int32_t s : {4, 16}) {
    SCOPED_TRACE(s);
    renderSettings.subBlocksPerBlock = s;
    allocationsOf(44100);  // first use of the transforms and the design workspace
    const long shortRender = allocationsOf(44100);
    EXPECT_EQ(allocationsOf(441000), shortRender);
  }
}

TEST_F(RenderAllocationTest, WaveRenderAllocatesTheSameForAnyLength) {
  test::TestPicture picture(16, 8, [](auto x, auto) { return x * 16; });
  renderSettings.inputSource = InputSource::WaveFile;
  renderSettings.frequencyScale = FrequencyScale::Linear;
  test::writeFile(dir.file("in.wav"),
                  test::waveBytes(test::pcm16Bytes(test::speechLike(300000, 8000.0)), 1, 16, 44100));
  allocationsOf(20000);
  const long shortRender = allocationsOf(20000);
  EXPECT_EQ(allocationsOf(300000), shortRender);
}

}  // namespace
}  // namespace vellomar

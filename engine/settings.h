// The process-wide render settings, the run state shared between the
// window and the render thread, the render job record, the current
// picture, and the quantities a render derives from the settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace vellomar {

enum class InputSource : std::int32_t { PinkNoise = 0, WhiteNoise = 1, WaveFile = 2 };
enum class FrequencyScale : std::int32_t { Linear = 0, Logarithmic = 1, Mel = 2 };

// Longest path a file field holds, in characters (without terminator).
inline constexpr std::size_t kMaxPathLength = 499;

struct RenderSettings {
  InputSource inputSource = InputSource::PinkNoise;
  FrequencyScale frequencyScale = FrequencyScale::Mel;
  std::int32_t blockLength = 8192;       // N, a power of two
  std::uint32_t sampleRate = 44100;      // never changed
  std::int32_t subBlocksPerBlock = 4;    // S, a power of two <= N
  bool logBrightness = false;
  std::int32_t logRangeDb = 60;
  std::int32_t masterGainDb = 6;
  float durationSeconds = 15.0f;         // noise sources only
  std::string inputPath;                 // empty = none chosen
  std::string outputPath;                // empty = none chosen
};

// The picture the render reads: brightness bytes 0..255, rows stored
// bottom-up, `stride` bytes per stored row. Pixel (x, y) with y = 0 the top
// row is pixels[(height - 1 - y) * stride + x]. The bytes belong to
// whoever loaded the picture; this record only points at them.
struct PictureData {
  const std::uint8_t* pixels = nullptr;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
};

// Everything one render needs besides the settings and the picture.
struct RenderJob {
  std::FILE* input = nullptr;    // wave source: positioned at the first sample
  std::FILE* output = nullptr;   // header already written
  std::uint32_t sampleCount = 0;
  bool input8Bit = false;
  // Called on the render thread before every block with thousandths
  // 0..999. It must return at once (post, never wait).
  std::function<void(int)> progress;
};

// Process-wide instances. The window writes settings and picture only
// while no render runs; the render thread reads them.
extern RenderSettings renderSettings;
extern PictureData pictureData;
extern RenderJob renderJob;

inline constexpr std::int32_t kInitialRandomSeed = 2128236579;  // 0x7EDA5023
extern std::int32_t randomSeed;              // noise generator state
extern std::atomic<bool> abortRequested;     // set by the window, polled by the render
extern float inputWaveDuration;              // seconds; 0 = no usable input file

// Output samples of a noise render: trunc(float(rate) * duration), the
// product formed in double precision.
std::uint32_t noiseSampleCount(std::uint32_t sampleRate, float durationSeconds);

// Number of blocks of a render of `count` output samples with block
// length n: (count + n/2 + n - 1) / n, in 64-bit so no count overflows.
std::uint64_t blockCount(std::uint64_t count, std::int32_t n);

// Master gain factor: exp(db * 0.11512925) in double precision.
double masterGainFactor(std::int32_t db);

// Largest sample count whose 16-bit mono data fits a WAV header.
inline constexpr std::uint64_t kMaxOutputSamples = 2147483629u;

}  // namespace vellomar

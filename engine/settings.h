// SPDX-License-Identifier: GPL-3.0-or-later
// The render settings, the picture a render reads, the render job, the
// quantities a render derives from the settings, and the limits within
// which the window and the command line keep the settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/encoding.h"
#include "fft/fft.h"

namespace vellomar {

// SineTones: one sine oscillator per picture column (engine/sine.h), no
// input and no noise.
enum class InputSource : std::int32_t { PinkNoise = 0, WhiteNoise = 1, WaveFile = 2, SineTones = 3 };
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
  float durationSeconds = 15.0f;         // every source but the wave file
  std::string inputPath;                 // empty = none chosen
  std::string outputPath;                // empty = none chosen
  // The band the picture's columns span, in Hz; 0 stands for the scale's
  // own end (its lowest frequency, half the sample rate). See pictureBand.
  float bandLowHz = 0.0f;
  float bandHighHz = 0.0f;
  // Two channels: the left from the picture's red, the right from its green.
  bool stereo = false;
};

// The picture a render reads: brightness bytes 0..255, rows stored
// bottom-up, `stride` bytes per stored row. Pixel (x, y) with y = 0 the top
// row is pixels[(height - 1 - y) * stride + x]. The bytes belong to
// whoever loaded the picture; this record only points at them.
//
// `red` and `green` are the picture's red and green bytes in the same
// layout, what a stereo render reads (the left channel from red, the right
// from green). Without them the picture counts as grey: both channels read
// the brightness.
struct PictureData {
  const std::uint8_t* pixels = nullptr;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
  const std::uint8_t* red = nullptr;
  const std::uint8_t* green = nullptr;
};

// Channels of the output: 2 for stereo, else 1.
inline int outputChannels(const RenderSettings& settings) { return settings.stereo ? 2 : 1; }

// Channels of a render whose input has `inputChannels` channels: a stereo
// input stays stereo, each channel rendered through the picture.
inline int outputChannels(const RenderSettings& settings, int inputChannels) {
  return inputChannels > 1 ? 2 : outputChannels(settings);
}

// Whether the settings' source draws on the noise generator (and so moves
// the noise state on).
inline bool drawsNoise(const RenderSettings& settings) {
  return settings.inputSource == InputSource::PinkNoise || settings.inputSource == InputSource::WhiteNoise;
}

inline constexpr std::int32_t kInitialRandomSeed = 2128236579;  // 0x7EDA5023

// Everything one render reads and where it writes. The caller fills it
// completely before renderSound and keeps the picture's bytes alive until
// renderSound returns; nothing else is read.
struct RenderJob {
  RenderSettings settings;
  PictureData picture;
  // Wave source: a regular file positioned at the first sample, its frames
  // of `inputChannels` interleaved samples stored as unsigned 8-bit
  // (input8Bit), 32-bit floats with 1.0 at full scale (inputFloat), or
  // else signed 16-bit, all little-endian. A stereo input gives a stereo
  // render, channel for channel.
  std::FILE* input = nullptr;
  // Byte offset of the wave's first sample in `input`, for reading by
  // position; -1: where the stream stands when the render starts.
  std::int64_t inputOffset = -1;
  std::FILE* output = nullptr;   // header already written
  std::uint32_t sampleCount = 0;
  bool input8Bit = false;
  bool inputFloat = false;
  std::int32_t inputChannels = 1;
  // Noise generator state, 1 ... 2^31 - 2: the state the render's noise
  // starts from; renderSound leaves here the state that the next render
  // continues from, as if it had drawn its noise one sample at a time.
  std::int32_t noiseState = kInitialRandomSeed;
  // Polled between hops; set (by any thread) to stop the render with 111.
  const std::atomic<bool>* abort = nullptr;
  // Called before every block, in order, with thousandths 0..999, always on
  // the thread that called renderSound. It must return at once (post,
  // never wait).
  std::function<void(int)> progress;
  // Threads that render: 0 means every core this process may use.
  std::int32_t threads = 0;
  // Blocks each thread renders at a time: 0 lets the render choose.
  std::int32_t blocksPerRun = 0;
  // How the output's samples are stored (see engine/encoding.h).
  SampleEncoding encoding = SampleEncoding::Int16;
  // Left by renderSound: the clipped samples and the peak of what it wrote.
  RenderLevels levels;
  // How the render's transforms are planned (fft/fft.h): estimated unless
  // set, which keeps every render of a machine the same to the bit; the
  // program's front-ends use measured plans.
  FftPlanSource plans;
};

// Channels a job renders: its settings' (stereo or mono), or two for a
// stereo wave input.
inline int renderChannels(const RenderJob& job) {
  return outputChannels(job.settings, job.settings.inputSource == InputSource::WaveFile ? job.inputChannels : 1);
}

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

// Largest count of sample frames a render writes, whatever its channels:
// kMaxOutputSamples, the most a mono 16-bit WAV header describes (about
// 13.5 hours; longer data of more channels or bits is written as RF64).
std::uint64_t maxOutputFrames(int channels);

// The limits within which the window and the command line keep the
// settings.
inline constexpr std::int32_t kMinBlockLength = 2048;
inline constexpr std::int32_t kMaxBlockLength = 32768;
inline constexpr std::int32_t kMaxSubBlocks = 16;
inline constexpr std::int32_t kMinGainDb = 0;
inline constexpr std::int32_t kMaxGainDb = 48;
inline constexpr std::int32_t kMinRangeDb = 20;
inline constexpr std::int32_t kMaxRangeDb = 120;
inline constexpr float kMinDurationSeconds = 0.02f;
inline constexpr float kMaxDurationSeconds = 1000000.0f;
inline constexpr std::int32_t kMaxRenderThreads = 64;

// A master gain brought within kMinGainDb ... kMaxGainDb.
std::int32_t clampGainDb(long long db);
// A dB range rounded to the nearest multiple of 10 (halves up) and brought
// within kMinRangeDb ... kMaxRangeDb.
std::int32_t roundRangeDb(long long db);
// Whether a value is a power of two (and positive).
bool isPowerOfTwo(std::int64_t v);
// Whether N and S are a pair the window's lists can hold: N a power of two
// kMinBlockLength ... kMaxBlockLength, S a power of two 1 ... kMaxSubBlocks.
bool blockSettingsValid(std::int32_t blockLength, std::int32_t subBlocks);

// The number of cores this process may run on (at least 1).
std::int32_t availableCores();

}  // namespace vellomar

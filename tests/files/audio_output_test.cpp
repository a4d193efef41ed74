// SPDX-License-Identifier: GPL-3.0-or-later
// Output formats: every format at 44100 Hz against the engine's own
// samples within the format's step, resampled outputs against libsoxr's
// conversion of the 44100 Hz render, and the WAV headers, RF64 included.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <soxr.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/render.h"
#include "files/audio_output.h"
#include "files/render_setup.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

struct Decoded {
  SF_INFO info = {};
  std::vector<double> samples;  // interleaved, 1.0 at full scale
};

Decoded decode(const std::string& path) {
  Decoded d;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &d.info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (!file) return d;
  d.samples.resize(static_cast<std::size_t>(d.info.frames * d.info.channels));
  EXPECT_EQ(sf_readf_double(file, d.samples.data(), d.info.frames), d.info.frames);
  sf_close(file);
  return d;
}

class AudioOutputTest : public ::testing::Test {
 protected:
  // Renders half a second of pink noise through a striped picture (stereo
  // when asked) into `name` in `format`; returns its path.
  std::string render(const std::string& name, OutputFormat format, bool stereo = false) {
    RenderSettings settings;
    settings.durationSeconds = 0.5f;
    settings.stereo = stereo;
    settings.masterGainDb = 24;  // loud enough to clip now and then
    settings.outputPath = dir.file(name);
    SoundFileOptions options;
    options.output = format;
    PreparedRender prepared;
    Refusal refusal;
    EXPECT_TRUE(prepareRender(settings, picture.data(), kInitialRandomSeed, options, prepared, refusal))
        << refusal.text;
    prepared.job.threads = 1;
    EXPECT_EQ(finishRender(prepared, renderSound(prepared.job), refusal), kResultOk) << refusal.text;
    return settings.outputPath;
  }

  test::TempDir dir;
  test::TestPicture picture{16, 8, [](auto x, auto y) { return (x * 37 + y * 91) % 256; }};
};

TEST_F(AudioOutputTest, EveryFormatAt44100HzHoldsTheEnginesSamplesWithinItsStep) {
  for (const bool stereo : {false, true}) {
    SCOPED_TRACE(stereo ? "stereo" : "mono");
    const std::vector<std::int16_t> engine = test::waveSamples(render("ref.wav", {OutputKind::Wav16, 44100}, stereo));
    struct Case {
      OutputKind kind;
      const char* name;
      int major;
      int subtype;
      double step;  // of the format, in 16-bit units
    };
    const Case cases[] = {
        {OutputKind::Wav24, "a.wav", SF_FORMAT_WAVEX, SF_FORMAT_PCM_24, 1.0 / 256},
        {OutputKind::WavFloat, "b.wav", SF_FORMAT_WAVEX, SF_FORMAT_FLOAT, 1e-4},
        {OutputKind::Flac16, "c.flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_16, 1.0},
        {OutputKind::Flac24, "d.flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_24, 1.0 / 256},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const Decoded d = decode(render(c.name, {c.kind, 44100}, stereo));
      EXPECT_EQ(d.info.format & SF_FORMAT_TYPEMASK, c.major);
      EXPECT_EQ(d.info.format & SF_FORMAT_SUBMASK, c.subtype);
      EXPECT_EQ(d.info.channels, stereo ? 2 : 1);
      EXPECT_EQ(d.info.samplerate, 44100);
      ASSERT_EQ(d.samples.size(), engine.size());
      // The 16-bit samples are the engine's values brought to that step
      // (v + 0.5 truncated toward zero: within one and a half steps below
      // zero): a finer format lies that close to them (plus its own step),
      // where the 16-bit output did not clip.
      std::size_t compared = 0;
      std::size_t between = 0;  // values between two 16-bit steps
      std::size_t beyond = 0;   // float values beyond full scale
      for (std::size_t i = 0; i < engine.size(); ++i) {
        const double value = d.samples[i] * 32768.0;
        if (engine[i] >= 32767 || engine[i] <= -32767) {
          // Clipped at 16 bits; float keeps what lies beyond full scale.
          if (c.kind == OutputKind::WavFloat && std::abs(value) > 32768.0) ++beyond;
          continue;
        }
        ASSERT_NEAR(value, engine[i], c.step == 1.0 ? 0.0 : 1.5 + c.step) << "sample " << i;
        if (value != std::floor(value)) ++between;
        ++compared;
      }
      EXPECT_GT(compared, engine.size() / 2);
      // The finer formats keep the engine's precision: not 16-bit samples
      // widened.
      if (c.step < 1.0) { EXPECT_GT(between, compared * 9 / 10); }
      if (c.kind == OutputKind::WavFloat) { EXPECT_GT(beyond, 0u); }
    }
  }
}

// Other rates: the 44100 Hz render resampled by libsoxr at very high
// quality, as a one-shot conversion of the whole render gives it.
TEST_F(AudioOutputTest, ResampledOutputsAreLibsoxrsConversionOfThe44100HzRender) {
  const Decoded base = decode(render("base.wav", {OutputKind::WavFloat, 44100}));
  std::vector<float> in(base.samples.begin(), base.samples.end());
  for (const std::uint32_t rate : {48000u, 88200u, 96000u}) {
    SCOPED_TRACE(rate);
    const std::size_t frames = static_cast<std::size_t>(outputFrames(in.size(), rate));
    std::vector<float> expected(frames);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t made = 0;
    ASSERT_EQ(soxr_oneshot(44100, rate, 1, in.data(), in.size(), nullptr, expected.data(), frames, &made, &io,
                           &quality, nullptr),
              nullptr);

    const Decoded asFloat = decode(render("r.wav", {OutputKind::WavFloat, rate}));
    EXPECT_EQ(asFloat.info.samplerate, static_cast<int>(rate));
    ASSERT_EQ(asFloat.samples.size(), frames);
    const Decoded as16 = decode(render("r16.flac", {OutputKind::Flac16, rate}));
    ASSERT_EQ(as16.samples.size(), frames);
    double worst = 0.0;
    for (std::size_t i = 0; i < made; ++i) {
      worst = std::max(worst, std::abs(asFloat.samples[i] - expected[i]));
      const double quantized = std::clamp(std::floor(expected[i] * 32768.0 + 0.5), -32768.0, 32767.0);
      ASSERT_NEAR(as16.samples[i] * 32768.0, quantized, 1.0) << "sample " << i;
    }
    // The streamed and the one-shot conversion agree far below a 24-bit step.
    EXPECT_LT(worst, 1.0 / (1 << 24));
    // A count that rounds up is filled with silence, never cut short.
    EXPECT_EQ(frames, static_cast<std::size_t>(std::llround(in.size() * (rate / 44100.0))));
  }
}

TEST_F(AudioOutputTest, HeadersStateEverySizeAndBecomeRf64Past4GB) {
  auto header = [](OutputKind kind, int channels, std::uint32_t rate, std::uint64_t frames) {
    std::FILE* stream = std::tmpfile();
    Refusal refusal;
    EXPECT_TRUE(writeSoundHeader(stream, kind, channels, rate, frames, refusal));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(ftello(stream)));
    std::rewind(stream);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), stream), bytes.size());
    std::fclose(stream);
    return bytes;
  };
  auto text = [](const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
  };
  // The classic header, byte for byte as before.
  const auto classic = header(OutputKind::Wav16, 1, 44100, 661500);
  ASSERT_EQ(classic.size(), 44u);
  EXPECT_EQ(test::le32(classic, 4), 1323036u);
  EXPECT_EQ(test::le32(classic, 40), 1323000u);

  // 24-bit mono: EXTENSIBLE with the PCM subformat; an odd data size
  // counts its pad byte in the RIFF size.
  const auto wav24 = header(OutputKind::Wav24, 1, 48000, 3);
  ASSERT_EQ(wav24.size(), 68u);
  EXPECT_EQ(test::le32(wav24, 16), 40u);
  EXPECT_EQ(test::le16(wav24, 20), 0xFFFEu);
  EXPECT_EQ(test::le16(wav24, 34), 24u);
  EXPECT_EQ(test::le16(wav24, 44), 1u);  // subformat PCM
  EXPECT_EQ(test::le32(wav24, 64), 9u);
  EXPECT_EQ(test::le32(wav24, 4), 60u + 9u + 1u);

  // Float: the subformat IEEE float and a "fact" chunk with the length.
  const auto wavFloat = header(OutputKind::WavFloat, 2, 96000, 1000);
  EXPECT_EQ(test::le16(wavFloat, 44), 3u);
  EXPECT_EQ(text(wavFloat, 60), "fact");
  EXPECT_EQ(test::le32(wavFloat, 68), 1000u);
  EXPECT_EQ(text(wavFloat, 72), "data");

  // Stereo 16-bit at the mono frame limit passes 4 GB: RF64, the sizes in
  // "ds64" and the 32-bit fields at their all-ones mark.
  const std::uint64_t frames = kMaxOutputSamples;
  const auto rf64 = header(OutputKind::Wav16, 2, 44100, frames);
  EXPECT_EQ(text(rf64, 0), "RF64");
  EXPECT_EQ(test::le32(rf64, 4), 0xFFFFFFFFu);
  EXPECT_EQ(text(rf64, 12), "ds64");
  auto le64 = [&](std::size_t at) { return test::le32(rf64, at) | std::uint64_t{test::le32(rf64, at + 4)} << 32; };
  EXPECT_EQ(le64(28), frames * 4);       // data
  EXPECT_EQ(le64(20), 72 + frames * 4);  // RIFF: everything after its size field
  EXPECT_EQ(le64(36), frames);
  EXPECT_EQ(text(rf64, rf64.size() - 8), "data");
  EXPECT_EQ(test::le32(rf64, rf64.size() - 4), 0xFFFFFFFFu);
  // One frame less of mono 16-bit stays a plain RIFF file.
  EXPECT_EQ(text(header(OutputKind::Wav16, 1, 44100, frames), 0), "RIFF");
}

TEST(OutputNames, TheExtensionNamesTheContainer) {
  bool unknown = false;
  EXPECT_EQ(outputKindFromPath("out.WAV", unknown), OutputKind::Wav16);
  EXPECT_EQ(outputKindFromPath("dir.d/out.flac", unknown), OutputKind::Flac16);
  EXPECT_FALSE(outputKindFromPath("dir.d/out", unknown));
  EXPECT_FALSE(unknown);
  EXPECT_FALSE(outputKindFromPath(".hidden", unknown));
  EXPECT_FALSE(unknown);
  EXPECT_FALSE(outputKindFromPath("-", unknown));
  EXPECT_FALSE(unknown);
  EXPECT_FALSE(outputKindFromPath("song.mp3", unknown));
  EXPECT_TRUE(unknown);
  EXPECT_EQ(extensionOf("song.mp3"), ".mp3");

  // The window keeps the chosen depth and takes the name's container.
  EXPECT_EQ(formatForPath({OutputKind::Wav24, 48000}, "a.flac").kind, OutputKind::Flac24);
  EXPECT_EQ(formatForPath({OutputKind::WavFloat, 48000}, "a.flac").kind, OutputKind::Flac24);
  EXPECT_EQ(formatForPath({OutputKind::Flac16, 48000}, "a.wav").kind, OutputKind::Wav16);
  EXPECT_EQ(formatForPath({OutputKind::Flac24, 48000}, "a").kind, OutputKind::Flac24);
  EXPECT_EQ(formatForPath({OutputKind::Flac24, 48000}, "a.wav").rate, 48000u);
}

}  // namespace
}  // namespace vellomar

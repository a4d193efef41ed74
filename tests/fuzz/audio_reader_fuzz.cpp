// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target of the any-audio input reader: any bytes go through the
// reader as a sound file would (through libsndfile and the spool when they
// are not a classic wave), and when it accepts them every frame is read by
// position the way a render reads it. Built with libFuzzer (clang,
// VELLOMAR_FUZZ) it is a fuzzer; otherwise replay_main.cpp runs files
// through the same entry point.
//
// Besides what the sanitizers catch, the target aborts when the reader
// breaks its own promises: a refusal always has its words, an accepted
// input is mono or stereo at 44100 Hz in one of the engine's sample
// layouts, and the stream holds every frame it announces.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/positional_read.h"
#include "files/audio_input.h"

namespace {

// The most frames read back per input, so that a header stating billions
// of frames costs no more than a short file.
constexpr std::size_t kMaxFrames = 1 << 16;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "audio reader: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader opens files by name: the bytes become an unnamed file in
  // memory, named through /proc.
  const int fd = ::memfd_create("audio-fuzz", MFD_CLOEXEC);
  if (fd < 0) broken("memfd_create failed");
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) broken("write failed");
  vellomar::AudioInputRules rules;
  rules.anyAudio = true;
  vellomar::AudioInput input;
  vellomar::Refusal refusal;
  const bool opened = vellomar::openAudioInput("/proc/self/fd/" + std::to_string(fd), rules, input, refusal);
  ::close(fd);
  if (!opened) {
    if (refusal.text.empty() || refusal.caption.empty()) broken("a refusal came without its words");
    if (input.stream) broken("a refused input left a stream open");
    return 0;
  }
  if (refusal) broken("an accepted input came with a refusal");
  const vellomar::WaveInfo& info = input.info;
  if (info.channels < 1 || info.channels > 2) broken("an accepted input is not mono or stereo");
  if (info.sampleRate != 44100) broken("an accepted input is not at 44100 Hz");
  vellomar::SampleLayout layout;
  layout.float32 = input.floatSamples;
  layout.eightBit = !input.floatSamples && info.bitsPerSample == 8;
  layout.channels = static_cast<std::size_t>(info.channels);
  if (!input.floatSamples && info.bitsPerSample != 8 && info.bitsPerSample != 16) broken("an unknown layout");
  if (!vellomar::streamReadableByPosition(input.stream)) broken("the input cannot be read by position");

  const std::size_t frames = info.sampleCount < kMaxFrames ? info.sampleCount : kMaxFrames;
  std::vector<unsigned char> raw(frames * layout.frameBytes());
  const bool whole =
      vellomar::readAt(::fileno(input.stream), raw.data(), raw.size(), static_cast<std::int64_t>(ftello(input.stream)));
  // A converted input holds every frame it announces; a classic file may
  // state more than it has (its render then fails with a short read).
  if (input.spooled && !whole) broken("the spool holds fewer frames than announced");
  if (whole) {
    std::vector<double> samples(frames);
    double sum = 0.0;
    for (std::size_t c = 0; c < layout.channels; ++c) {
      vellomar::samplesToDouble(raw.data(), frames, layout, c, samples.data());
      for (const double v : samples) sum += v;
    }
    volatile double sink = sum;
    (void)sink;
  }
  std::fclose(input.stream);
  return 0;
}

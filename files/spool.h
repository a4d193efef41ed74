// SPDX-License-Identifier: GPL-3.0-or-later
// Sound that the engine cannot read by position as it is (standard input,
// compressed audio, other rates and depths) is decoded once into an
// unnamed file: 32-bit float frames at 44100 Hz (or at the sound's own
// rate, for editing a recording), 1.0 at full scale, mono or stereo. The file has no name from the start (or loses it at once), so
// nothing is left behind however the program ends; its length is exact
// before any output is written.
//
// Disk cost: 4 bytes per sample per channel, at 44100 Hz 176400 bytes a
// second mono (about 635 MB an hour), twice that stereo, in $TMPDIR (or /tmp).
#pragma once

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/result_code.h"

namespace vellomar {

// An unnamed read-write file in the temporary folder, or -1 with errno set.
int makeUnnamedFile();

// The folder unnamed files are made in: $TMPDIR, else /tmp.
std::string temporaryFolder();

// Copies everything `fd` delivers, to its end, into a new unnamed file and
// returns that file's descriptor at offset 0, or -1 with `reason` (the
// system's words). Polls `abort` between reads; an abort returns -1 with
// `aborted` set.
int copyToUnnamedFile(int fd, const std::atomic<bool>* abort, bool& aborted, std::string& reason);

// What a decode made: the spool positioned at its first frame.
struct Spool {
  std::FILE* stream = nullptr;
  std::uint64_t frames = 0;
  int channels = 0;
  std::uint32_t rate = 0;
  bool tooLong = false;  // the decode stopped past maxFrames
};

// Decodes every frame of `sound` (1 or 2 channels, at `info.samplerate`)
// into a spool at `rate` (0: the sound's own), resampling with libsoxr's
// very high quality when they differ.
// Returns 0, 3 (no memory), 4 (the decoder failed part-way; `reason` says
// why), 7 (the spool cannot be written; `reason` says why) or 111 (aborted).
// The decode stops, with tooLong set, once the spool holds more than
// `maxFrames` frames. `progress`, when set, hears how far the decode is in
// thousandths (for a sound that states its length).
ResultCode decodeToSpool(SNDFILE* sound, const SF_INFO& info, std::uint32_t rate, std::uint64_t maxFrames,
                         const std::atomic<bool>* abort, Spool& spool, std::string& reason,
                         const std::function<void(int)>& progress = {});

}  // namespace vellomar

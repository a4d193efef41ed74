// SPDX-License-Identifier: GPL-3.0-or-later
// The wisdom file of measured plans: its folder, its name for this machine
// and library, reading it, and making it, in the foreground or in the
// maker process (see fft/fft.h for how renders use it).
#pragma once

#include <span>
#include <string>

#include "fft/fft.h"

namespace vellomar {

// $XDG_CACHE_HOME/vellomar when XDG_CACHE_HOME is an absolute path, else
// $HOME/.cache/vellomar; empty when neither is known.
std::string userWisdomFolder();

// "fftw-wisdom-" and 16 hex digits: a key of this machine's CPU (model and
// flags) and the library's version.
std::string wisdomFileName();

enum class WisdomState { Missing, Unreadable, Damaged, Foreign, Valid };

// Reads the folder's wisdom file. `wisdom` gets the library's text when the
// file is Valid: whole (its checksum holds) and made on this CPU with this
// library version.
WisdomState readWisdomFile(const std::string& folder, std::string& wisdom);

// Measures those of `transforms` that the folder's wisdom lacks, in this
// process, and writes the file whole, replacing one that is not Valid.
// Seconds per transform, holding the planner's lock all along (other
// threads cannot plan meanwhile): for `--make-plans` and tests, never a
// render. False, with the reason in `error`, when the folder or file cannot
// be written or memory is short.
bool makeWisdom(const std::string& folder, std::span<const FftTransform> transforms, std::string& error);

// Starts the maker process for `transforms` and returns at once. The maker
// is this process forked twice (so that nobody waits for it or has to reap
// it), in a session of its own, with standard input and output on
// /dev/null and every other file of this process closed, at idle priority;
// it makes the wisdom as makeWisdom does and exits. Nothing is started when
// a maker runs already or the folder cannot be made or written. Returns
// whether a maker was started.
bool startWisdomMaker(const std::string& folder, std::span<const FftTransform> transforms);

}  // namespace vellomar

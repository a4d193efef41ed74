// Reading a wave's samples by position, so that several threads can read
// one input file at once, each where its work begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vellomar {

// Whether `stream` is a regular file with a position: its samples can then
// be read at any offset, by any number of readers at once.
bool streamReadableByPosition(std::FILE* stream);

// Reads exactly `size` bytes at `offset` of the file `fd`; false when fewer
// are there (or the read fails).
bool readAt(int fd, void* buffer, std::size_t size, std::int64_t offset);

}  // namespace vellomar

// Shared helpers of the engine, files and command-line tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellomar::test {

// A fresh directory under the system's temporary folder, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Bytes of a canonical PCM wave file: RIFF header, "fmt " (16 bytes), "data".
std::vector<std::uint8_t> waveBytes(const std::vector<std::uint8_t>& data, int channels, int bits,
                                    std::uint32_t rate);
// 16-bit mono samples as little-endian bytes.
std::vector<std::uint8_t> pcm16Bytes(const std::vector<std::int16_t>& samples);

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);
bool fileExists(const std::string& path);

// Puts the settings, the run state and the picture back to program start.
void resetEngineState();

}  // namespace vellomar::test

#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/design.h"
#include "engine/settings.h"
#include "engine/source.h"

namespace vellomar::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vellomar-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

namespace {
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putTag(std::vector<std::uint8_t>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(tag[i]));
}
}  // namespace

std::vector<std::uint8_t> waveBytes(const std::vector<std::uint8_t>& data, int channels, int bits,
                                    std::uint32_t rate) {
  std::vector<std::uint8_t> b;
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  putTag(b, "RIFF");
  put32(b, static_cast<std::uint32_t>(36 + data.size()));
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  put32(b, 16);
  put16(b, 1);
  put16(b, static_cast<std::uint16_t>(channels));
  put32(b, rate);
  put32(b, rate * align);
  put16(b, align);
  put16(b, static_cast<std::uint16_t>(bits));
  putTag(b, "data");
  put32(b, static_cast<std::uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::vector<std::uint8_t> pcm16Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> b;
  b.reserve(samples.size() * 2);
  for (std::int16_t s : samples) put16(b, static_cast<std::uint16_t>(s));
  return b;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

void resetEngineState() {
  renderSettings = RenderSettings{};
  pictureData = PictureData{};
  randomSeed = kInitialRandomSeed;
  abortRequested = false;
  inputWaveDuration = 0.0f;
  releaseSourceBlock();
  releaseDesignWorkspace();
}

}  // namespace vellomar::test

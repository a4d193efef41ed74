// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "fft/fft.h"
#include "files/messages.h"

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
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  return riffBytes(
      {chunkBytes("fmt ", fmtBody(1, channels, rate, rate * align, align, bits)), chunkBytes("data", data)});
}

std::vector<std::uint8_t> pcm16Bytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> b;
  b.reserve(samples.size() * 2);
  for (std::int16_t s : samples) put16(b, static_cast<std::uint16_t>(s));
  return b;
}

std::vector<std::uint8_t> chunkBytes(const char* id, const std::vector<std::uint8_t>& body, std::int64_t statedSize) {
  std::vector<std::uint8_t> b;
  putTag(b, id);
  put32(b, static_cast<std::uint32_t>(statedSize < 0 ? static_cast<std::int64_t>(body.size()) : statedSize));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

std::vector<std::uint8_t> riffBytes(const std::vector<std::vector<std::uint8_t>>& chunks) {
  std::vector<std::uint8_t> body;
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  std::vector<std::uint8_t> b;
  putTag(b, "RIFF");
  put32(b, static_cast<std::uint32_t>(4 + body.size()));
  putTag(b, "WAVE");
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

std::vector<std::uint8_t> fmtBody(int formatTag, int channels, std::uint32_t rate, std::uint32_t byteRate,
                                  int blockAlign, int bits) {
  std::vector<std::uint8_t> b;
  put16(b, static_cast<std::uint16_t>(formatTag));
  put16(b, static_cast<std::uint16_t>(channels));
  put32(b, rate);
  put32(b, byteRate);
  put16(b, static_cast<std::uint16_t>(blockAlign));
  put16(b, static_cast<std::uint16_t>(bits));
  return b;
}

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(le16(bytes, offset)) | static_cast<std::uint32_t>(le16(bytes, offset + 2)) << 16;
}

std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

MessageRecorder::MessageRecorder() {
  setMessagePresenter([this](MessageOwner, unsigned boxType, const std::string& caption, const std::string& text) {
    messages_.push_back({boxType, caption, text});
    if ((boxType & 0xF) == kBoxSaveDiscardCancel) return unsavedAnswer_;
    return (boxType & 0xF) == kBoxYesNo ? questionAnswer_ : kButtonOk;
  });
}

MessageRecorder::~MessageRecorder() { setMessagePresenter(nullptr); }

ShownMessage MessageRecorder::only() const {
  EXPECT_EQ(messages_.size(), 1u);
  return messages_.size() == 1 ? messages_[0] : ShownMessage{0, "", ""};
}

std::vector<std::int16_t> waveSamples(const std::string& path) {
  const auto bytes = readFile(path);
  std::vector<std::int16_t> samples;
  for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) samples.push_back(static_cast<std::int16_t>(le16(bytes, i)));
  return samples;
}

std::vector<std::int16_t> speechLike(std::size_t count, double peak) {
  std::vector<std::int16_t> out(count);
  const double rate = 44100.0;
  double phase = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double f0 = 150.0 + 30.0 * std::sin(2.0 * M_PI * 1.3 * t);
    phase += 2.0 * M_PI * f0 / rate;
    const double envelope = 0.55 + 0.45 * std::sin(2.0 * M_PI * 3.0 * t);
    double v = 0.0;
    for (int k = 1; k * 180 < 5000; ++k) v += std::sin(k * phase + 0.7 * k) / k;
    out[i] = static_cast<std::int16_t>(std::lround(peak * envelope * v / 2.0));
  }
  return out;
}

void TestPicture::fill(std::uint32_t width, std::uint32_t height) {
  const std::uint32_t stride = (width + 3) / 4 * 4;
  bytes_.assign(static_cast<std::size_t>(stride) * height, 0);
  data_ = PictureData{bytes_.data(), width, stride, height};
}

std::uint8_t& TestPicture::at(std::uint32_t x, std::uint32_t y) {
  return bytes_[static_cast<std::size_t>(data_.height - 1 - y) * data_.stride + x];
}

double pictureCorrelation(const QImage& a, const QImage& b) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  const double n = static_cast<double>(a.width()) * a.height();
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const double u = qGray(a.pixel(x, y));
      const double v = qGray(b.pixel(x, y));
      sa += u;
      sb += v;
      saa += u * u;
      sbb += v * v;
      sab += u * v;
    }
  }
  const double cov = sab / n - sa / n * sb / n;
  return cov / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

double bandEnergy(const std::vector<std::int16_t>& samples, double lowHz, double highHz) {
  // The longest power-of-two stretch from the start, transformed whole.
  std::size_t n = 2;
  while (2 * n <= samples.size()) n *= 2;
  std::vector<double> in(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> spectrum(n);
  fftReal(in.data(), spectrum.data(), static_cast<std::int32_t>(n), 0);
  const double binHz = 44100.0 / static_cast<double>(n);
  double energy = 0.0;
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double f = static_cast<double>(k) * binHz;
    if (f >= lowHz && f <= highHz) {
      energy += spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];
    }
  }
  return energy;
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

std::FILE* createTestOutput(const std::string& path, std::uint32_t count, int channels) {
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  if (!stream) return nullptr;
  const auto align = static_cast<std::uint32_t>(2 * channels);
  const std::uint32_t data = align * count;
  std::vector<std::uint8_t> header =
      riffBytes({chunkBytes("fmt ", fmtBody(1, channels, 44100, 44100 * align, static_cast<int>(align), 16))});
  // "data" and its size close the header; the samples follow.
  for (char c : std::string("data")) header.push_back(static_cast<std::uint8_t>(c));
  for (int i = 0; i < 4; ++i) header.push_back(static_cast<std::uint8_t>(data >> (8 * i)));
  const std::uint32_t riff = data + 36;
  for (int i = 0; i < 4; ++i) header[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
  std::fwrite(header.data(), 1, header.size(), stream);
  return stream;
}

std::vector<std::int16_t> channelSamples(const std::vector<std::int16_t>& frames, int channels, int channel) {
  std::vector<std::int16_t> out;
  for (std::size_t i = static_cast<std::size_t>(channel); i < frames.size(); i += static_cast<std::size_t>(channels))
    out.push_back(frames[i]);
  return out;
}

std::uint64_t fileHash(const std::string& path) {
  std::uint64_t hash = 1469598103934665603ull;
  for (std::uint8_t byte : readFile(path)) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace vellomar::test

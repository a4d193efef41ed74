// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/audio_output.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace vellomar {
namespace {

constexpr std::uint64_t kMaxSizeField = 0xFFFFFFFFu;

// The last 14 bytes of the KSDATAFORMAT_SUBTYPE GUIDs, after their format
// tag: xxxx0000-0000-0010-8000-00AA00389B71.
constexpr unsigned char kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// Speaker masks: front centre for mono, front left and right for stereo.
constexpr std::uint32_t kMaskMono = 0x4;
constexpr std::uint32_t kMaskStereo = 0x3;

class Bytes {
 public:
  void tag(const char* id) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<unsigned char>(id[i]));
  }
  void u16(std::uint32_t v) {
    data_.push_back(static_cast<unsigned char>(v));
    data_.push_back(static_cast<unsigned char>(v >> 8));
  }
  void u32(std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void raw(const unsigned char* p, std::size_t n) { data_.insert(data_.end(), p, p + n); }
  std::size_t size() const { return data_.size(); }
  const std::vector<unsigned char>& data() const { return data_; }

 private:
  std::vector<unsigned char> data_;
};

int bitsOf(OutputKind kind) {
  switch (kind) {
    case OutputKind::Wav16:
    case OutputKind::Flac16:
      return 16;
    case OutputKind::Wav24:
    case OutputKind::Flac24:
      return 24;
    case OutputKind::WavFloat:
      return 32;
  }
  return 16;
}

// The "fmt " chunk's body for `kind`.
Bytes formatBody(OutputKind kind, int channels, std::uint32_t rate) {
  const int bits = bitsOf(kind);
  const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels * bits / 8);
  Bytes body;
  const bool extensible = kind != OutputKind::Wav16;
  body.u16(extensible ? kFormatExtensible : kFormatPcm);
  body.u16(static_cast<std::uint32_t>(channels));
  body.u32(rate);
  body.u32(rate * blockAlign);
  body.u16(blockAlign);
  body.u16(static_cast<std::uint32_t>(bits));
  if (extensible) {
    body.u16(22);
    body.u16(static_cast<std::uint32_t>(bits));
    body.u32(channels == 1 ? kMaskMono : kMaskStereo);
    body.u16(kind == OutputKind::WavFloat ? kFormatFloat : kFormatPcm);
    body.raw(kSubformatTail, sizeof kSubformatTail);
  }
  return body;
}

}  // namespace

bool outputRateAllowed(std::uint32_t rate) {
  return std::find(std::begin(kOutputRates), std::end(kOutputRates), rate) != std::end(kOutputRates);
}

std::optional<OutputKind> outputKindFromName(const std::string& name) {
  if (name == "wav16") return OutputKind::Wav16;
  if (name == "wav24") return OutputKind::Wav24;
  if (name == "float") return OutputKind::WavFloat;
  if (name == "flac" || name == "flac16") return OutputKind::Flac16;
  if (name == "flac24") return OutputKind::Flac24;
  return std::nullopt;
}

const char* outputKindName(OutputKind kind) {
  switch (kind) {
    case OutputKind::Wav16:
      return "wav16";
    case OutputKind::Wav24:
      return "wav24";
    case OutputKind::WavFloat:
      return "float";
    case OutputKind::Flac16:
      return "flac16";
    case OutputKind::Flac24:
      return "flac24";
  }
  return "wav16";
}

const char* outputKindNames() { return "wav16, wav24, float, flac (16-bit), flac16 or flac24"; }

bool isFlac(OutputKind kind) { return kind == OutputKind::Flac16 || kind == OutputKind::Flac24; }

const char* outputExtension(OutputKind kind) { return isFlac(kind) ? "flac" : "wav"; }

std::string extensionOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  // A leading dot makes a hidden name, not an extension.
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return std::string();
  return name.substr(dot);
}

std::optional<OutputKind> outputKindFromPath(const std::string& path, bool& unknown) {
  unknown = false;
  std::string extension = extensionOf(path);
  if (extension.empty()) return std::nullopt;
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".wav" || extension == ".wave") return OutputKind::Wav16;
  if (extension == ".flac") return OutputKind::Flac16;
  unknown = true;
  return std::nullopt;
}

OutputFormat formatForPath(const OutputFormat& chosen, const std::string& path) {
  bool unknown = false;
  const std::optional<OutputKind> named = outputKindFromPath(path, unknown);
  OutputFormat format = chosen;
  if (!named || isFlac(*named) == isFlac(chosen.kind)) return format;
  const bool deep = chosen.kind == OutputKind::Wav24 || chosen.kind == OutputKind::Flac24 ||
                    chosen.kind == OutputKind::WavFloat;
  if (isFlac(*named)) {
    format.kind = deep ? OutputKind::Flac24 : OutputKind::Flac16;
  } else {
    format.kind = chosen.kind == OutputKind::Flac24 ? OutputKind::Wav24 : OutputKind::Wav16;
  }
  return format;
}

std::uint64_t outputFrames(std::uint64_t frames, std::uint32_t rate, std::uint32_t fromRate) {
  if (rate == fromRate || fromRate == 0) return frames;
  // Fits 64 bits: frames are below 2^32, rates below 2^31.
  return (frames * rate + fromRate / 2) / fromRate;
}

SampleEncoding encodingFor(const OutputFormat& format, std::uint32_t fromRate) {
  if (format.rate != fromRate || format.kind == OutputKind::WavFloat) return SampleEncoding::Float32;
  if (format.kind == OutputKind::Wav24 || format.kind == OutputKind::Flac24) return SampleEncoding::Int24;
  return SampleEncoding::Int16;
}

bool writeSoundHeader(std::FILE* stream, OutputKind kind, int channels, std::uint32_t rate, std::uint64_t frames,
                      Refusal& refusal) {
  const Bytes format = formatBody(kind, channels, rate);
  const bool fact = kind == OutputKind::WavFloat;
  const std::uint64_t dataBytes = frames * static_cast<std::uint64_t>(channels * bitsOf(kind) / 8);
  // "WAVE", the chunks' headers and bodies, the data (and its pad byte).
  const std::uint64_t chunks = 4 + 8 + format.size() + (fact ? 12 : 0) + 8;
  const bool rf64 = chunks + dataBytes + (dataBytes & 1) > kMaxSizeField;
  const std::uint64_t riffBytes = chunks + (rf64 ? 36 : 0) + dataBytes + (dataBytes & 1);

  Bytes header;
  header.tag(rf64 ? "RF64" : "RIFF");
  header.u32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(riffBytes));
  header.tag("WAVE");
  if (rf64) {
    header.tag("ds64");
    header.u32(28);
    header.u64(riffBytes);
    header.u64(dataBytes);
    header.u64(frames);
    header.u32(0);  // no table of other chunks' sizes
  }
  header.tag("fmt ");
  header.u32(static_cast<std::uint32_t>(format.size()));
  header.raw(format.data().data(), format.size());
  if (fact) {
    header.tag("fact");
    header.u32(4);
    header.u32(frames > kMaxSizeField ? 0xFFFFFFFFu : static_cast<std::uint32_t>(frames));
  }
  header.tag("data");
  header.u32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(dataBytes));

  const bool ok = std::fwrite(header.data().data(), 1, header.size(), stream) == header.size() &&
                  std::fflush(stream) == 0 && !std::ferror(stream);
  if (!ok) refusal = refusalForResult(kResultWriteFailed);
  return ok;
}

}  // namespace vellomar

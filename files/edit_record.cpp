// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/edit_record.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QImageReader>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "files/output_file.h"

namespace vellomar {
namespace {

constexpr const char* kFormatLine = "vellomar-edit-record 1";
constexpr const char* kCheckKey = "record-sha256";
// A sidecar is a few hundred bytes; anything much larger is not one.
constexpr long kMaxRecordBytes = 16384;

const char* scaleWord(FrequencyScale scale) {
  switch (scale) {
    case FrequencyScale::Linear: return "linear";
    case FrequencyScale::Logarithmic: return "log";
    case FrequencyScale::Mel: return "mel";
  }
  return "?";
}

std::string sha256Hex(const std::string& text) {
  return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256).toHex().toStdString();
}

bool isHex64(const std::string& s) {
  if (s.size() != 64) return false;
  for (const char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

template <class T>
bool number(const std::string& text, T& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  if constexpr (std::is_floating_point_v<T>) {
    const double v = std::strtod(text.c_str(), &end);
    out = static_cast<T>(v);
  } else {
    if (text[0] == '-' && std::is_unsigned_v<T>) return false;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    out = static_cast<T>(v);
    if (static_cast<long long>(out) != v) return false;
  }
  return errno == 0 && end && *end == '\0';
}

std::string readSmallFile(const std::string& path, bool& exists) {
  exists = false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  exists = true;
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0 && static_cast<long>(text.size()) <= kMaxRecordBytes) {
    text.append(buffer, got);
  }
  std::fclose(f);
  return text;
}

}  // namespace

std::string editProgramName() { return std::string("vellomar ") + VELLOMAR_VERSION; }

std::string formatEditRecord(const EditRecord& r) {
  std::ostringstream out;
  out.precision(9);  // a float's every digit, so the band reads back exactly
  out << kFormatLine << "\n";
  out << "program: " << r.program << "\n";
  out << "scale: " << scaleWord(r.scale) << "\n";
  out << "band-low-hz: " << r.bandLowHz << "\n";
  out << "band-high-hz: " << r.bandHighHz << "\n";
  out << "frame-length: " << r.blockLength << "\n";
  out << "range-db: " << r.rangeDb << "\n";
  out << "reference-db: " << r.referenceDb << "\n";
  out << "width: " << r.width << "\n";
  out << "height: " << r.height << "\n";
  out << "samples: " << r.sampleCount << "\n";
  out << "channels: " << r.channels << "\n";
  out << "sample-rate: " << r.sampleRate << "\n";
  out << "recording-sha256: " << r.recordingSha256 << "\n";
  out << "picture-sha256: " << r.pictureSha256 << "\n";
  const std::string body = out.str();
  return body + kCheckKey + ": " + sha256Hex(body) + "\n";
}

std::string parseEditRecord(const std::string& text, EditRecord& r) {
  const std::size_t check = text.rfind(std::string(kCheckKey) + ": ");
  if (text.rfind(kFormatLine, 0) != 0) return "it does not begin as an editing record";
  if (check == std::string::npos) return "its check line is missing";
  const std::string body = text.substr(0, check);
  std::string stated = text.substr(check + std::string(kCheckKey).size() + 2);
  while (!stated.empty() && (stated.back() == '\n' || stated.back() == '\r')) stated.pop_back();
  if (stated != sha256Hex(body)) return "its check sum does not match its contents";

  std::map<std::string, std::string> fields;
  std::istringstream lines(body);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) return "the line '" + line + "' is not 'key: value'";
    fields[line.substr(0, colon)] = line.substr(colon + 2);
  }
  const auto field = [&](const char* key, auto& out) {
    const auto it = fields.find(key);
    return it != fields.end() && number(it->second, out);
  };
  r.program = fields["program"];
  const std::string scale = fields["scale"];
  if (scale == "linear") r.scale = FrequencyScale::Linear;
  else if (scale == "log") r.scale = FrequencyScale::Logarithmic;
  else if (scale == "mel") r.scale = FrequencyScale::Mel;
  else return "its scale '" + scale + "' is unknown";
  if (!field("band-low-hz", r.bandLowHz) || !field("band-high-hz", r.bandHighHz) ||
      !field("frame-length", r.blockLength) || !field("range-db", r.rangeDb) ||
      !field("reference-db", r.referenceDb) || !field("width", r.width) || !field("height", r.height) ||
      !field("samples", r.sampleCount) || !field("channels", r.channels) || !field("sample-rate", r.sampleRate)) {
    return "a number is missing or unreadable";
  }
  r.recordingSha256 = fields["recording-sha256"];
  r.pictureSha256 = fields["picture-sha256"];
  if (!isHex64(r.recordingSha256) || !isHex64(r.pictureSha256)) return "a SHA-256 is missing or malformed";
  if (r.program.empty() || r.width == 0 || r.height == 0 || r.channels < 1 || r.channels > 2 ||
      !isPowerOfTwo(r.blockLength)) {
    return "its sizes are out of range";
  }
  return {};
}

std::string editSidecarPath(const std::string& picturePath) { return picturePath + ".vellomar-edit"; }

bool writeEditSidecar(const std::string& picturePath, const EditRecord& record, Refusal& refusal) {
  const std::string path = editSidecarPath(picturePath);
  OutputFile output;
  std::FILE* stream = output.openBlank(path, "editing record", refusal);
  if (!stream) return false;
  const std::string text = formatEditRecord(record);
  bool ok = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  ok = std::fflush(stream) == 0 && ok;
  ok = std::fclose(stream) == 0 && ok;
  if (!ok) {
    output.discard();
    refusal = errorRefusal("Cannot write to editing record '%s'. You may be running out of disk space", path.c_str());
    return false;
  }
  return output.commit(refusal);
}

EditRecordSource readEditRecord(const std::string& path, EditRecord& record, std::string& reason, std::string& note) {
  reason.clear();
  note.clear();
  const std::string sidecar = editSidecarPath(path);
  bool exists = false;
  const std::string text = readSmallFile(sidecar, exists);
  std::string sidecarWrong;
  if (!exists) {
    sidecarWrong = "its editing record '" + sidecar + "' is missing";
  } else {
    const std::string wrong = parseEditRecord(text, record);
    if (wrong.empty()) return EditRecordSource::Sidecar;
    sidecarWrong = "its editing record '" + sidecar + "' is damaged (" + wrong + ")";
  }
  // The reader's own text() folds line breaks into spaces; the decoded
  // image keeps the text as written.
  QImageReader reader(QString::fromLocal8Bit(path.c_str(), static_cast<qsizetype>(path.size())));
  const std::string chunk = reader.read().text(QString::fromLatin1(kEditRecordKey)).toStdString();
  if (!chunk.empty()) {
    const std::string wrong = parseEditRecord(chunk, record);
    if (wrong.empty()) {
      note = sidecarWrong + "; the record in the picture's own text was used";
      return EditRecordSource::TextChunk;
    }
    reason = sidecarWrong + ", and the record in the picture's text is damaged too (" + wrong + ")";
    return EditRecordSource::None;
  }
  reason = sidecarWrong + ", and the picture carries no record in its text (an image editor may have dropped it)";
  return EditRecordSource::None;
}

RenderSettings editRecordSettings(const EditRecord& record) {
  RenderSettings s;
  s.inputSource = InputSource::WaveFile;
  s.frequencyScale = record.scale;
  s.bandLowHz = record.bandLowHz;
  s.bandHighHz = record.bandHighHz;
  s.blockLength = record.blockLength;
  s.subBlocksPerBlock = 4;
  s.logBrightness = true;
  s.logRangeDb = record.rangeDb;
  s.masterGainDb = record.referenceDb;
  s.sampleRate = record.sampleRate;
  s.stereo = record.channels == 2;
  return s;
}

}  // namespace vellomar

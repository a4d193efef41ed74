// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/edit_sound.h"

#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "engine/encoding.h"
#include "engine/positional_read.h"
#include "files/analysis_setup.h"
#include "files/audio_input.h"
#include "files/output_file.h"
#include "files/render_setup.h"

namespace vellomar {
namespace {

constexpr std::size_t kHashFrames = 65536;

// SHA-256 of the picture's planes, rows top first without padding: the
// brightness of a mono picture, the red and then the green of a stereo one.
std::string hashPlanes(const std::uint8_t* const planes[2], std::int32_t channels, std::uint32_t width,
                       std::uint32_t stride, std::uint32_t height) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const std::array<std::uint32_t, 3> header{width, height, static_cast<std::uint32_t>(channels)};
  hash.addData(QByteArrayView(reinterpret_cast<const char*>(header.data()), sizeof header));
  for (std::int32_t c = 0; c < channels; ++c) {
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::uint8_t* row = planes[c] + static_cast<std::size_t>(height - 1 - y) * stride;
      hash.addData(QByteArrayView(reinterpret_cast<const char*>(row), width));
    }
  }
  return hash.result().toHex().toStdString();
}

EditRecord recordOf(const EditRecording& recording, const RenderSettings& settings, const PictureBitmap& picture,
                    const std::string& samplesHash) {
  const std::int32_t channels = recording.info().channels;
  const std::uint8_t* planes[2] = {nullptr, nullptr};
  editPlanesOf(picture, channels, planes);
  EditRecord record;
  record.program = editProgramName();
  record.scale = settings.frequencyScale;
  record.bandLowHz = settings.bandLowHz;
  record.bandHighHz = settings.bandHighHz;
  record.blockLength = settings.blockLength;
  record.rangeDb = settings.logRangeDb;
  record.referenceDb = settings.masterGainDb;
  record.width = picture.width;
  record.height = picture.height;
  record.sampleCount = recording.info().sampleCount;
  record.channels = channels;
  record.sampleRate = settings.sampleRate;
  record.recordingSha256 = samplesHash;
  record.pictureSha256 = hashPlanes(planes, channels, picture.width, picture.stride, picture.height);
  return record;
}

// Stores `count` values as `encoding` does, but 16-bit samples rounded to
// the nearest (halves away from zero), so that a value that is a whole
// number already (every sample no edit reached) is kept exactly.
void encodeExactly(const double* values, std::size_t count, SampleEncoding encoding, unsigned char* out) {
  if (encoding != SampleEncoding::Int16) {
    RenderLevels levels;
    encodeSamples(values, count, encoding, out, levels);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const double v = values[i];
    const double held = !(v < 32767.0) ? 32767.0 : (v <= -32768.0 ? -32768.0 : std::round(v));
    const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(held));
    out[2 * i] = static_cast<unsigned char>(bits & 0xFF);
    out[2 * i + 1] = static_cast<unsigned char>(bits >> 8);
  }
}

// The stream the render writes into `target`: the WAV header for the
// engine's own bytes, or a sound sink. Closes `target` when it fails.
std::FILE* soundStream(std::FILE* target, const OutputFormat& format, SampleEncoding encoding, int channels,
                       std::uint64_t frames, std::uint32_t rate, Refusal& refusal) {
  if (!isFlac(format.kind) && format.rate == rate) {
    if (writeSoundHeader(target, format.kind, channels, format.rate, frames, refusal)) return target;
    std::fclose(target);
    return nullptr;
  }
  return openSoundSink(target, format, encoding, channels, frames, refusal, rate);
}

}  // namespace

EditRecording::~EditRecording() {
  if (stream_) std::fclose(stream_);
}

bool EditRecording::open(const std::string& path, std::uint32_t rate, const std::atomic<bool>* abort,
                         Refusal& refusal, bool* aborted) {
  AudioInputRules rules;
  rules.anyAudio = true;
  rules.maxChannels = 2;
  rules.rate = rate;
  rules.abort = abort;
  AudioInput input;
  if (!openAudioInput(path, rules, input, refusal, aborted)) return false;
  const std::int64_t offset = ::ftello(input.stream);
  if (offset < 0 || !streamReadableByPosition(input.stream)) {
    std::fclose(input.stream);
    refusal = refusalForResult(kResultShortRead);
    return false;
  }
  path_ = path;
  stream_ = input.stream;
  fd_ = ::fileno(stream_);
  offset_ = offset;
  info_ = input.info;
  float_ = input.floatSamples;
  description_ = input.description;
  return true;
}

ResultCode EditRecording::read(std::int32_t channel, std::uint64_t from, std::size_t count, double* out) const {
  SampleLayout layout;
  layout.float32 = float_;
  layout.eightBit = !float_ && info_.bitsPerSample == 8;
  layout.channels = static_cast<std::size_t>(info_.channels);
  // Each thread's own buffer, grown to the largest read once.
  thread_local std::vector<unsigned char> raw;
  const std::size_t bytes = count * layout.frameBytes();
  try {
    if (raw.size() < bytes) raw.resize(bytes);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  const auto at = offset_ + static_cast<std::int64_t>(from * layout.frameBytes());
  if (!readAt(fd_, raw.data(), bytes, at)) return kResultShortRead;
  samplesToDouble(raw.data(), count, layout, static_cast<std::size_t>(channel), out);
  return kResultOk;
}

bool EditRecording::hash(std::string& hex, const std::atomic<bool>* abort) const {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const auto channels = static_cast<std::size_t>(info_.channels);
  std::vector<double> values(kHashFrames);
  std::vector<unsigned char> floats(kHashFrames * channels * 4);
  for (std::uint64_t first = 0; first < info_.sampleCount; first += kHashFrames) {
    if (abort && abort->load(std::memory_order_relaxed)) return false;
    const auto frames = static_cast<std::size_t>(std::min<std::uint64_t>(info_.sampleCount - first, kHashFrames));
    for (std::size_t c = 0; c < channels; ++c) {
      if (read(static_cast<std::int32_t>(c), first, frames, values.data()) != kResultOk) return false;
      for (std::size_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(values[i] / 32768.0);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        unsigned char* at = floats.data() + (i * channels + c) * 4;
        for (int b = 0; b < 4; ++b) at[b] = static_cast<unsigned char>(bits >> (8 * b));
      }
    }
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(floats.data()), static_cast<qsizetype>(frames * channels * 4)));
  }
  hex = hash.result().toHex().toStdString();
  return true;
}

std::FILE* EditRecording::duplicateStream() const {
  const int fd = ::dup(fd_);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, "rb");
  if (!stream) {
    ::close(fd);
    return nullptr;
  }
  if (::fseeko(stream, offset_, SEEK_SET) != 0) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

ResultCode analyseSoundForEditing(std::shared_ptr<const EditRecording> recording, const RenderSettings& grid,
                                  std::uint32_t width, std::uint32_t height, const EditControl& control,
                                  SoundForEditing& sound, Refusal& refusal) {
  RenderSettings atRate = grid;
  atRate.sampleRate = recording->info().sampleRate;
  const RenderSettings settings = editingSettings(atRate);
  if (const Refusal band = bandRefusal(settings)) {
    refusal = band;
    refusal.text += " The recording '" + recording->path() + "' is " + recording->description() + ".";
    return kResultInternal;
  }
  PreparedAnalysis prepared;
  AnalysisJob& job = prepared.job;
  job.settings = settings;
  job.input = recording->duplicateStream();
  if (!job.input) {
    refusal = refusalForResult(kResultNoMemory);
    return kResultNoMemory;
  }
  job.sampleCount = recording->info().sampleCount;
  job.channels = recording->info().channels;
  job.inputFloat = recording->floatSamples();
  job.input8Bit = !job.inputFloat && recording->info().bitsPerSample == 8;
  prepared.wave = recording->info();
  defaultAnalysisSize(settings, job.sampleCount, width, height);
  if (!resizeAnalysisPicture(prepared, width, height, refusal)) return kResultNoMemory;
  job.abort = control.abort;
  job.threads = control.threads;
  job.progress = control.progress;
  ResultCode result = analysePrepared(prepared);
  std::string hex;
  if (result == kResultOk && !recording->hash(hex, control.abort)) {
    result = control.abort && control.abort->load() ? kResultAborted : kResultShortRead;
  }
  result = finishAnalysis(prepared, result, refusal);
  if (result != kResultOk) return result;
  sound.record = recordOf(*recording, settings, *prepared.picture, hex);
  sound.original = prepared.picture;
  sound.recording = std::move(recording);
  return kResultOk;
}

ResultCode openSoundForEditing(const std::string& path, const RenderSettings& grid, std::uint32_t width,
                               std::uint32_t height, const EditControl& control, SoundForEditing& sound,
                               Refusal& refusal) {
  auto recording = std::make_shared<EditRecording>();
  bool aborted = false;
  if (!recording->open(path, 0, control.abort, refusal, &aborted)) return aborted ? kResultAborted : kResultInternal;
  return analyseSoundForEditing(std::move(recording), grid, width, height, control, sound, refusal);
}

void editPlanesOf(const PictureBitmap& picture, std::int32_t channels, const std::uint8_t* planes[2]) {
  if (channels == 2 && !picture.red.empty() && !picture.green.empty()) {
    planes[0] = picture.red.data();
    planes[1] = picture.green.data();
  } else {
    planes[0] = picture.pixels.data();
    planes[1] = picture.pixels.data();
  }
}

SpectralEditJob soundEditJob(const SoundForEditing& sound, const PictureBitmap& painted) {
  SpectralEditJob job;
  job.settings = editRecordSettings(sound.record);
  job.width = painted.width;
  job.stride = painted.stride;
  job.height = painted.height;
  job.channels = sound.record.channels;
  const std::uint8_t* original[2] = {nullptr, nullptr};
  const std::uint8_t* edited[2] = {nullptr, nullptr};
  editPlanesOf(*sound.original, job.channels, original);
  editPlanesOf(painted, job.channels, edited);
  for (std::int32_t c = 0; c < job.channels; ++c) job.planes[c] = EditPlanes{original[c], edited[c]};
  job.sampleCount = sound.record.sampleCount;
  job.moves = sound.moves;
  const std::shared_ptr<const EditRecording> recording = sound.recording;
  job.read = [recording](std::int32_t channel, std::uint64_t from, std::size_t count, double* out) {
    return recording->read(channel, from, count, out);
  };
  // Until the caller sets its own, the output has nowhere to go.
  job.write = [](std::uint64_t, std::size_t, const double*) { return kResultWriteFailed; };
  return job;
}

ResultCode writeSoundEdit(const SoundForEditing& sound, const PictureBitmap& painted, const std::string& outputPath,
                          OutputFormat format, const EditControl& control, Refusal& refusal) {
  if (painted.width != sound.original->width || painted.height != sound.original->height ||
      painted.stride != sound.original->stride) {
    refusal = errorRefusal("The painted picture is %u x %u pixels, but the recording's picture is %u x %u.",
                           painted.width, painted.height, sound.original->width, sound.original->height);
    return kResultInternal;
  }
  const std::int32_t channels = sound.record.channels;
  OutputFile output;
  std::FILE* target = output.openBlank(outputPath, outputFileKind(format), refusal);
  if (!target) return kResultWriteFailed;
  const std::uint32_t rate = sound.record.sampleRate;
  if (format.rate == 0) format.rate = rate;
  const SampleEncoding encoding = encodingFor(format, rate);
  std::FILE* stream = soundStream(target, format, encoding, channels, sound.record.sampleCount, rate, refusal);
  if (!stream) return kResultWriteFailed;

  SpectralEditJob job = soundEditJob(sound, painted);
  job.abort = control.abort;
  job.progress = control.progress;
  job.threads = control.threads;
  std::vector<unsigned char> bytes;
  const auto sampleBytes = static_cast<std::size_t>(bytesPerSample(encoding));
  job.write = [&](std::uint64_t, std::size_t count, const double* y) {
    const std::size_t values = count * static_cast<std::size_t>(channels);
    try {
      if (bytes.size() < values * sampleBytes) bytes.resize(values * sampleBytes);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    encodeExactly(y, values, encoding, bytes.data());
    return std::fwrite(bytes.data(), 1, values * sampleBytes, stream) == values * sampleBytes ? kResultOk
                                                                                              : kResultWriteFailed;
  };
  ResultCode result = renderSpectralEdit(job);
  const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
  const bool closed = std::fclose(stream) == 0;
  if (result == kResultOk && !(flushed && closed)) result = kResultWriteFailed;
  if (result != kResultOk) {
    output.discard();
    refusal = refusalForResult(result);
    return result;
  }
  return output.commit(refusal) ? kResultOk : kResultWriteFailed;
}

}  // namespace vellomar

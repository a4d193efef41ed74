// SPDX-License-Identifier: GPL-3.0-or-later
// A sound file as the player reads it: samples of every layout the
// program writes, the file's own length, a file deleted or cut short
// while it plays, and files that cannot be played.
#include <QTest>
#include <filesystem>
#include <fstream>
#include <vector>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "files/audio_output.h"
#include "support/test_support.h"
#include "ui/playback/file_frame_source.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// A 441 Hz tone at half scale, as the engine stores it for `encoding`.
std::vector<unsigned char> toneBytes(SampleEncoding encoding, int frames, int channels) {
  std::vector<unsigned char> bytes;
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      const double v = 0.5 * std::sin(2.0 * M_PI * 441.0 * f / 44100.0) * (c == 0 ? 1.0 : -1.0);
      if (encoding == SampleEncoding::Float32) {
        const float x = static_cast<float>(v);
        unsigned char b[4];
        std::memcpy(b, &x, 4);
        bytes.insert(bytes.end(), b, b + 4);
      } else {
        const int bits = encoding == SampleEncoding::Int24 ? 24 : 16;
        const auto x = static_cast<std::int32_t>(std::lround(v * (1 << (bits - 1))));
        for (int k = 0; k < bits / 8; ++k) bytes.push_back(static_cast<unsigned char>((x >> (8 * k)) & 0xff));
      }
    }
  }
  return bytes;
}

// Writes the tone to `path` in `format` as a render does: through the
// output's sink.
bool writeTone(const std::string& path, const OutputFormat& format, int frames, int channels) {
  Refusal refusal;
  std::FILE* target = std::fopen(path.c_str(), "wb");
  if (!target) return false;
  const SampleEncoding encoding = encodingFor(format);
  std::FILE* sink = openSoundSink(target, format, encoding, channels, static_cast<std::uint64_t>(frames), refusal);
  if (!sink) return false;
  const std::vector<unsigned char> bytes = toneBytes(encoding, frames, channels);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), sink) == bytes.size();
  return std::fclose(sink) == 0 && written;
}

}  // namespace

class FileFrameSourceTest : public QObject {
  Q_OBJECT

 private slots:
  void sixteenBitStereoFramesComeInterleavedAtFullScale() {
    TempDir dir;
    const std::string path = dir.file("s.wav");
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 5000; ++i) {
      samples.push_back(static_cast<std::int16_t>(i));
      samples.push_back(static_cast<std::int16_t>(-32768 + i));
    }
    writeFile(path, waveBytes(pcm16Bytes(samples), 2, 16, 48000));
    Refusal refusal;
    const auto source = FileFrameSource::open(path, refusal);
    QVERIFY(source);
    QCOMPARE(source->channels(), 2);
    QCOMPARE(source->sampleRate(), 48000u);
    QCOMPARE(source->frameCount(), std::int64_t{5000});
    std::vector<float> out(2 * 3000, 9.0f);
    // Across the reader's own chunks, and up to the end only.
    QCOMPARE(source->read(2500, 3000, out.data()), std::int64_t{2500});
    for (int f = 0; f < 2500; ++f) {
      QCOMPARE(out[2 * f], static_cast<float>(2500 + f) / 32768.0f);
      QCOMPARE(out[2 * f + 1], static_cast<float>(-32768 + 2500 + f) / 32768.0f);
    }
    QCOMPARE(out[2 * 2500], 9.0f);
    QCOMPARE(source->read(5000, 10, out.data()), std::int64_t{0});
    QCOMPARE(source->generation(0), source->generation(1));
    QVERIFY(source->failure().empty());
  }

  void eightBitSamplesAreCentredOn128() {
    TempDir dir;
    const std::string path = dir.file("e.wav");
    writeFile(path, waveBytes({0, 64, 128, 192, 255}, 1, 8, 44100));
    Refusal refusal;
    const auto source = FileFrameSource::open(path, refusal);
    QVERIFY(source);
    std::vector<float> out(5);
    QCOMPARE(source->read(0, 5, out.data()), std::int64_t{5});
    QCOMPARE(out, (std::vector<float>{-1.0f, -0.5f, 0.0f, 0.5f, 127.0f / 128.0f}));
  }

  // A header that promises more than the file holds: it ends where its
  // data does.
  void aFileShorterThanItsHeaderEndsWhereItsDataDoes() {
    TempDir dir;
    const std::string path = dir.file("short.wav");
    std::vector<std::uint8_t> bytes = waveBytes(pcm16Bytes(std::vector<std::int16_t>(1000, 7)), 1, 16, 44100);
    bytes.resize(bytes.size() - 2 * 400);
    writeFile(path, bytes);
    Refusal refusal;
    const auto source = FileFrameSource::open(path, refusal);
    QVERIFY(source);
    QCOMPARE(source->frameCount(), std::int64_t{600});
  }

  void aFileDeletedWhilePlayingPlaysOnAndOneCutShortStopsSayingWhy() {
    TempDir dir;
    const std::string path = dir.file("gone.wav");
    writeFile(path, waveBytes(pcm16Bytes(std::vector<std::int16_t>(10000, 100)), 1, 16, 44100));
    Refusal refusal;
    const auto source = FileFrameSource::open(path, refusal);
    QVERIFY(source);
    std::filesystem::remove(path);
    std::vector<float> out(10000);
    QCOMPARE(source->read(0, 10000, out.data()), std::int64_t{10000});
    QCOMPARE(out[9999], 100.0f / 32768.0f);

    const std::string cut = dir.file("cut.wav");
    writeFile(cut, waveBytes(pcm16Bytes(std::vector<std::int16_t>(10000, 100)), 1, 16, 44100));
    const auto shortened = FileFrameSource::open(cut, refusal);
    QVERIFY(shortened);
    std::filesystem::resize_file(cut, 44 + 2 * 3000);
    QCOMPARE(shortened->read(0, 5000, out.data()), std::int64_t{3000});
    QCOMPARE(shortened->read(3000, 100, out.data()), std::int64_t{-1});
    QVERIFY(shortened->failure().find("cut short") != std::string::npos);
  }

  // Every output format the program writes plays: its rate, its length
  // and its samples, read in order or after a jump back.
  void everyOutputFormatPlays() {
    const OutputFormat formats[] = {{OutputKind::Wav24, 44100}, {OutputKind::WavFloat, 44100},
                                    {OutputKind::Flac16, 44100}, {OutputKind::Flac24, 44100},
                                    {OutputKind::Wav16, 48000}, {OutputKind::Flac24, 96000}};
    constexpr int kFrames = 20000;
    for (const OutputFormat& format : formats) {
      for (const int channels : {1, 2}) {
        TempDir dir;
        const std::string path = dir.file(std::string("tone.") + outputExtension(format.kind));
        QVERIFY(writeTone(path, format, kFrames, channels));
        Refusal refusal;
        const auto source = FileFrameSource::open(path, refusal);
        QVERIFY2(source, refusal.text.c_str());
        QCOMPARE(source->channels(), channels);
        QCOMPARE(source->sampleRate(), format.rate);
        const auto frames = static_cast<std::int64_t>(outputFrames(kFrames, format.rate));
        QCOMPARE(source->frameCount(), frames);
        std::vector<float> all(static_cast<std::size_t>(frames * channels), 9.0f);
        QCOMPARE(source->read(0, frames + 100, all.data()), frames);
        const double tolerance = format.kind == OutputKind::Flac16 ? 1.0 / 32768 : 1.0 / 8388608;
        // A resampler's filter rings at the very ends: the middle is compared.
        const std::int64_t edge = format.rate == 44100 ? 0 : 500;
        for (std::int64_t f = edge; f < frames - edge; f += 97) {
          const double t = static_cast<double>(f) / format.rate;
          const double want = 0.5 * std::sin(2.0 * M_PI * 441.0 * t);
          // Resampled: the tone as it was, give or take the filter's ripple.
          const double slack = format.rate == 44100 ? tolerance : 2e-3;
          QVERIFY2(std::abs(all[static_cast<std::size_t>(f * channels)] - want) <= slack,
                   qPrintable(QStringLiteral("%1 at frame %2").arg(QString::fromStdString(path)).arg(f)));
          if (channels == 2) {
            QVERIFY(std::abs(all[static_cast<std::size_t>(f * 2 + 1)] + all[static_cast<std::size_t>(f * 2)]) <= 1e-4);
          }
        }
        // A jump back (a loop's turn) reads the same frames again.
        std::vector<float> again(static_cast<std::size_t>(300 * channels));
        QCOMPARE(source->read(frames / 3, 300, again.data()), std::int64_t{300});
        QVERIFY(std::equal(again.begin(), again.end(), all.begin() + frames / 3 * channels));
        QVERIFY(source->failure().empty());
      }
    }
  }

  void aMissingFileOrOneThatIsNoSoundIsRefusedSayingWhy() {
    TempDir dir;
    Refusal refusal;
    QVERIFY(!FileFrameSource::open(dir.file("missing.wav"), refusal));
    QVERIFY(refusal.text.find("missing.wav' is not there any more") != std::string::npos);
    writeFile(dir.file("text.wav"), {'h', 'i'});
    refusal = Refusal{};
    QVERIFY(!FileFrameSource::open(dir.file("text.wav"), refusal));
    QVERIFY(refusal.text.find("Cannot play '" + dir.file("text.wav") + "'") == 0);
  }
};

QTEST_GUILESS_MAIN(FileFrameSourceTest)
#include "file_frame_source_test.moc"

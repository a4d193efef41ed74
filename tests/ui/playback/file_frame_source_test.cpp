// A sound file as the player reads it: samples of every layout the
// program writes, the file's own length, a file deleted or cut short
// while it plays, and files that cannot be played.
#include <QTest>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/test_support.h"
#include "ui/playback/file_frame_source.h"

using namespace vellomar;
using namespace vellomar::test;

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

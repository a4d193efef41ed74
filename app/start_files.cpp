// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/start_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <array>
#include <cerrno>
#include <cstring>

#include "files/messages.h"
#include "ui/common/app_state.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/window_commands.h"

namespace vellomar {
namespace {

using Header = std::array<unsigned char, 12>;

bool startsWith(const Header& header, std::size_t length, const char* text, std::size_t at = 0) {
  const std::size_t size = std::strlen(text);
  return at + size <= length && std::memcmp(header.data() + at, text, size) == 0;
}

bool looksLikeSound(const Header& h, std::size_t n) {
  const bool riffWave = (startsWith(h, n, "RIFF") || startsWith(h, n, "RF64") || startsWith(h, n, "BW64")) &&
                        startsWith(h, n, "WAVE", 8);
  const bool wave64 = startsWith(h, n, "riff");
  const bool aiff = startsWith(h, n, "FORM") && (startsWith(h, n, "AIFF", 8) || startsWith(h, n, "AIFC", 8));
  // MPEG audio: an ID3 tag, or a frame's sync word (eleven bits set).
  const bool mpeg = startsWith(h, n, "ID3") || (n >= 2 && h[0] == 0xFF && (h[1] & 0xE0) == 0xE0);
  return riffWave || wave64 || aiff || mpeg || startsWith(h, n, "fLaC") || startsWith(h, n, "OggS") ||
         startsWith(h, n, ".snd") || startsWith(h, n, "caff");
}

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

StartFileCheck checkStartFile(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {StartFileKind::Unusable, systemReason(errno)};
  struct stat status {};
  Header header{};
  ssize_t got = 0;
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else {
    got = ::read(fd, header.data(), header.size());
    if (got < 0) error = errno;
  }
  ::close(fd);
  if (error != 0) return {StartFileKind::Unusable, systemReason(error)};
  if (got == 0) return {StartFileKind::Unusable, QStringLiteral("the file is empty")};
  if (looksLikeSound(header, static_cast<std::size_t>(got))) return {StartFileKind::Sound, {}};

  QImageReader reader(path);
  reader.setDecideFormatFromContent(true);
  if (reader.canRead()) return {StartFileKind::Picture, {}};
  return {StartFileKind::Unusable, QStringLiteral("it is neither a picture nor a sound file that Vellomar reads")};
}

StartFiles sortStartFiles(const QStringList& paths) {
  StartFiles files;
  for (const QString& path : paths) {
    if (pathFromQt(path).size() > kMaxPathLength) {
      files.refusals << QStringLiteral("'%1': the path is too long (at most %2 characters)").arg(path).arg(kMaxPathLength);
      continue;
    }
    const StartFileCheck check = checkStartFile(path);
    QString* slot = nullptr;
    const char* what = "";
    switch (check.kind) {
      case StartFileKind::Picture:
        slot = &files.picture;
        what = "picture";
        break;
      case StartFileKind::Sound:
        slot = &files.sound;
        what = "sound";
        break;
      case StartFileKind::Unusable:
        files.refusals << QStringLiteral("'%1': %2").arg(path, check.reason);
        continue;
    }
    if (slot->isEmpty()) {
      *slot = path;
    } else {
      files.refusals << QStringLiteral("'%1': only one %2 is opened, and that is '%3'")
                            .arg(path, QString::fromLatin1(what), *slot);
    }
  }
  return files;
}

namespace {

// The input wave as a dropped one is taken: in the field, "Wave file"
// chosen, and read once, with a message that says why when it cannot be
// used.
void takeSound(MainWindow& window, const QString& sound) {
  const auto& c = window.controls();
  renderSettings.inputPath = pathFromQt(sound);
  showPathInField(c.inputPathEdit, renderSettings.inputPath);
  {
    // Chosen here, so that the file is read once, not again by the radio
    // button's own handler.
    const QSignalBlocker blocker(c.waveFileRadio);
    c.waveFileRadio->setChecked(true);
  }
  renderSettings.inputSource = InputSource::WaveFile;
  showSourceControls(window, InputSource::WaveFile);
  refreshAfterChange(window, InputCheck::Tell);
}

}  // namespace

void openStartFiles(MainWindow& window, const StartFiles& files) {
  if (!files.picture.isEmpty()) loadPictureFile(window, pathFromQt(files.picture));
  if (!files.sound.isEmpty()) takeSound(window, files.sound);
  if (!files.refusals.isEmpty()) {
    const QString text = QStringLiteral("Not opened:\n") + files.refusals.join(QLatin1Char('\n'));
    showErrorBox(&window, "%s", text.toLocal8Bit().constData());
  }
}

}  // namespace vellomar

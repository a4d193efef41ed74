// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/window_commands.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <filesystem>
#include <system_error>

#include "ui/common/app_state.h"
#include "files/audio_output.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/picture.h"
#include "files/wav.h"
#include "ui/axes/axes.h"
#include "ui/document/picture_document.h"
#include "ui/editor/picture_files.h"
#include "ui/main_window/file_chooser_dialog.h"
#include "ui/main_window/main_window.h"
#include "ui/playback/frame_source.h"
#include "ui/playback/live_render.h"
#include "ui/playback/playback.h"
#include "ui/axes/preview_frame.h"
#include "ui/progress/progress_dialog.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/settings_logic.h"
#include "ui/main_window/typed_paths.h"
#include "ui/template/template_window.h"

namespace vellomar {
namespace {

MessageOwner ownerOf(MainWindow& window) { return static_cast<QWidget*>(&window); }

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// A Qt name filter from a description and a pattern list such as
// "*.bmp;*.png": Qt reads the patterns from the last parentheses, separated
// by blanks, and "*.*" there means every file. The description is what the
// dialog shows.
QString nameFilter(const char* description, const char* pattern) {
  QString patterns = QString::fromUtf8(pattern);
  patterns.replace(';', ' ');
  if (patterns == QLatin1String("*.*")) patterns = QStringLiteral("*");
  return QString::fromUtf8(description) + QStringLiteral(" (") + patterns + QStringLiteral(")");
}

std::optional<QString> runFileDialog(const FileRequest& request) {
  if (!request.forSaving) {
    // Our own chooser: Qt's leaves out the files whose names are not UTF-8.
    FileChooserDialog chooser(request, request.owner);
    if (chooser.exec() != QDialog::Accepted || chooser.chosenPath().isEmpty()) return std::nullopt;
    return chooser.chosenPath();
  }
  QFileDialog dialog(request.owner, request.title);
  dialog.setAcceptMode(request.forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The descriptions carry their own patterns; Qt's copy stays hidden.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  dialog.setNameFilters(request.filters);
  if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.front());
  if (!request.defaultExtension.isEmpty()) dialog.setDefaultSuffix(request.defaultExtension);
  if (!request.initialPath.isEmpty()) {
    dialog.selectFile(request.initialPath);
  } else if (!request.initialFolder.isEmpty()) {
    dialog.setDirectory(request.initialFolder);
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return files.front();
}

FileChooser gFileChooser;

// Room for a path in the file choosers: the longest path the settings hold
// and its terminator.
constexpr std::size_t kPathCapacity = kMaxPathLength + 1;

// A longer path would have to be cut, and would then name another file:
// refused however it arrives (a file dialog, a drop, a field).
bool refuseLongPath(MessageOwner owner, const std::string& path) {
  if (path.size() <= kMaxPathLength) return false;
  showErrorBox(owner, "The path of the chosen file is too long (at most %u characters): '%s'",
               static_cast<unsigned>(kMaxPathLength), path.c_str());
  return true;
}

// What "Play generated" reads while it plays, and what it reads otherwise.
constexpr const char* kStopPlayingText = "Stop playing";
constexpr const char* kPlayGeneratedText = "Play generated";

SoundPlayer gSoundPlayer;

// The text of a file field, as the path it stands for.
std::string fieldPath(const QLineEdit* edit) { return pathFromQt(edit->text()); }

const std::initializer_list<const char*> kWaveFirstFilters = {"Microsoft Wave (*.wav)", "*.wav", "FLAC (*.flac)",
                                                              "*.flac", "All files (*.*)", "*.*"};
const std::initializer_list<const char*> kFlacFirstFilters = {"FLAC (*.flac)", "*.flac", "Microsoft Wave (*.wav)",
                                                              "*.wav", "All files (*.*)", "*.*"};

void agreeToReplaceOutput(MainWindow& window, const std::string& path) { window.session().agreedOutput = path; }

// A typed output name can point at any existing file (an earlier sound, the
// picture itself); the render would truncate it. Ask first, unless the
// user has already agreed to replace that file.
bool mayReplaceOutput(MainWindow& window) {
  if (outputReplaceableWithoutAsking(window)) return true;
  if (showMessage(ownerOf(window), kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2, "File exists",
                  "The file '%s' already exists.\nDo you want to replace it?",
                  renderSettings.outputPath.c_str()) != kButtonYes) {
    return false;
  }
  agreeToReplaceOutput(window, renderSettings.outputPath);
  return true;
}

// Handles the keyboard focus entering and leaving the two file fields,
// and files dragged onto the window.
class WindowEvents : public QObject {
 public:
  explicit WindowEvents(MainWindow& window) : QObject(&window), windowObject_(&window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const auto isMenuOrWindowSwitch = [](const QEvent* focus) {
      const Qt::FocusReason reason = static_cast<const QFocusEvent*>(focus)->reason();
      return reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason;
    };
    MainWindow* window = liveMainWindow(windowObject_);
    if (window == nullptr) return false;
    const auto& c = window->controls();
    switch (event->type()) {
      case QEvent::FocusIn:
        if (isMenuOrWindowSwitch(event)) break;
        if (watched == c.inputPathEdit) inputFieldEntered(*window);
        if (watched == c.outputPathEdit) outputFieldEntered(*window);
        break;
      case QEvent::FocusOut:
        // A field is left when the focus moves on to another control: its
        // own context menu, or another window in front for a while, leaves
        // it being edited as it is (and coming back does not clear it).
        if (isMenuOrWindowSwitch(event)) break;
        if (watched == c.inputPathEdit) inputFieldLeft(*window);
        if (watched == c.outputPathEdit) outputFieldLeft(*window);
        break;
      case QEvent::DragEnter: {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (watched == window && drag->mimeData()->hasUrls()) {
          for (const QUrl& url : drag->mimeData()->urls()) {
            if (url.isLocalFile()) {
              drag->acceptProposedAction();
              return true;
            }
          }
        }
        break;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (watched == window && drop->mimeData()->hasUrls()) {
          // The drag source is released first; loading (and any message
          // about it) follows from the event loop.
          drop->acceptProposedAction();
          const QList<QUrl> urls = drop->mimeData()->urls();
          QObject* object = windowObject_;
          QMetaObject::invokeMethod(
              window,
              [object, urls] {
                if (MainWindow* w = liveMainWindow(object)) dropFiles(*w, urls);
              },
              Qt::QueuedConnection);
          return true;
        }
        break;
      }
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QObject* windowObject_;
};

}  // namespace

bool outputReplaceableWithoutAsking(MainWindow& window) {
  const std::filesystem::path output(renderSettings.outputPath);
  std::error_code error;
  if (!std::filesystem::is_regular_file(output, error)) return true;  // nothing there, or the writer refuses it
  const std::string& agreed = window.session().agreedOutput;
  if (agreed.empty()) return false;
  if (agreed == renderSettings.outputPath) return true;
  return std::filesystem::equivalent(std::filesystem::path(agreed), output, error) && !error;
}

void setFileChooser(FileChooser chooser) { gFileChooser = std::move(chooser); }
void setSoundPlayer(SoundPlayer player) { gSoundPlayer = std::move(player); }

bool chooseFile(std::string& path, std::size_t capacity, bool forSaving, const char* title,
                const std::initializer_list<const char*>& filters, const char* defaultExtension, QWidget* owner,
                const std::string& initialFolder, bool confirmOverwrite) {
  FileRequest request;
  request.owner = owner;
  request.forSaving = forSaving;
  request.confirmOverwrite = confirmOverwrite;
  request.title = QString::fromUtf8(title);
  for (auto it = filters.begin(); it != filters.end() && std::next(it) != filters.end(); it += 2) {
    request.filters << nameFilter(*it, *std::next(it));
  }
  if (defaultExtension != nullptr) request.defaultExtension = QString::fromUtf8(defaultExtension);
  request.initialPath = pathToQt(path);
  request.initialFolder = pathToQt(initialFolder);
  const std::optional<QString> chosen = gFileChooser ? gFileChooser(request) : runFileDialog(request);
  if (!chosen || chosen->isEmpty()) return false;
  const std::string result = pathFromQt(*chosen);
  if (result.size() >= capacity) {
    showErrorBox(owner, "The path of the chosen file is too long (at most %u characters): '%s'",
                 static_cast<unsigned>(capacity - 1), result.c_str());
    return false;
  }
  path = result;
  return true;
}

bool confirmTimeGranularity(MainWindow& window) {
  const float g =
      timeGranularity(renderSettings.blockLength, renderSettings.subBlocksPerBlock, renderSettings.sampleRate);
  const float d = axisDuration(renderSettings, inputWaveDuration);
  if (pictureData.pixels == nullptr || d == 0.0f) return true;
  const float t = timePerLine(d, pictureData.height);
  if (!granularityNeedsWarning(g, t)) return true;
  return showMessage(ownerOf(window), kBoxYesNo | kBoxIconWarning, "Warning", "%s",
                     granularityWarningText(g, t).c_str()) == kButtonYes;
}

void chooseInputFile(MainWindow& window) {
  std::string path = renderSettings.inputPath;
  const auto& filters = fileOptions.input.anyAudio ? kSoundFilters : kWaveFilters;
  if (!chooseFile(path, kPathCapacity, false, "Select input wave file", filters, nullptr, &window,
                  window.session().lastChosenFolder)) {
    return;
  }
  window.session().lastChosenFolder = folderOf(path);
  renderSettings.inputPath = path;
  showPathInField(window.controls().inputPathEdit, renderSettings.inputPath);
  refreshAfterChange(window, InputCheck::Tell);
}

void chooseOutputFile(MainWindow& window) {
  std::string path = renderSettings.outputPath;
  // The chooser offers the formats written, the Options' own first.
  const bool flac = isFlac(fileOptions.output.kind);
  if (!chooseFile(path, kPathCapacity, true, "Select output wave file", flac ? kFlacFirstFilters : kWaveFirstFilters,
                  outputExtension(fileOptions.output.kind), &window, window.session().lastChosenFolder)) {
    return;
  }
  window.session().lastChosenFolder = folderOf(path);
  window.controls().playButton->setEnabled(false);
  renderSettings.outputPath = path;
  // The save dialog has asked before choosing an existing file.
  agreeToReplaceOutput(window, path);
  showPathInField(window.controls().outputPathEdit, renderSettings.outputPath);
  emit window.settingsChanged();
}

void showPicture(MainWindow& window, std::shared_ptr<const PictureBitmap> bitmap, const std::string& path) {
  window.session().picturePath = path;
  // The document publishes it as a revision of every row (pictureRevised).
  window.document().replace(std::move(bitmap), path);
}

void pictureRevised(MainWindow& window, const RowSpans& rows) {
  const auto& c = window.controls();
  // The preview holds the snapshot; the render reads it through pictureData.
  std::shared_ptr<const PictureBitmap> snapshot = window.document().snapshot();
  const PictureData picture = snapshot ? pictureDataOf(*snapshot) : PictureData{};
  c.previewFrame->setPicture(std::move(snapshot), rows);
  pictureData = picture;
  if (!std::exchange(window.session().pictureReplaced, false)) return;
  if (pictureData.pixels != nullptr) c.generateButton->setEnabled(true);
  refreshAfterChange(window);
  emit window.pictureChanged();
}

bool loadPictureFile(MainWindow& window, const std::string& path) {
  if (!mayDropEdits(&window, window.document(), QStringLiteral("Loading another picture"))) return false;
  std::string reason;
  std::shared_ptr<const PictureBitmap> bitmap = loadPicture(path, &reason);
  if (!bitmap) {
    showRefusal(ownerOf(window), pictureRefusal(path, reason));
    return false;
  }
  showPicture(window, std::move(bitmap), path);
  window.controls().generateButton->setFocus();
  return true;
}

void loadPictureCommand(MainWindow& window) {
  std::string path;
  if (!chooseFile(path, kPathCapacity, false, "Choose a picture",
                  {"Bitmap images (*.bmp;*.png;*.jpg;*.jpeg;*.gif;*.tif;*.tiff)",
                   "*.bmp;*.png;*.jpg;*.jpeg;*.gif;*.tif;*.tiff", "All files(*.*)", "*.*"},
                  "bmp", &window, window.session().lastPictureFolder)) {
    return;
  }
  // The next choice starts where this one was made.
  window.session().lastPictureFolder = folderOf(path);
  window.session().lastChosenFolder = folderOf(path);
  loadPictureFile(window, path);
}

void generateSound(MainWindow& window) {
  const auto& c = window.controls();
  if (pictureData.pixels == nullptr) {
    showMessage(ownerOf(window), kBoxOk | kBoxIconInformation, "Missing picture",
                "You must load a picture before generating sound.");
    return;
  }
  const bool waveSource = renderSettings.inputSource == InputSource::WaveFile;
  if (waveSource && renderSettings.inputPath.empty()) {
    chooseInputFile(window);
    if (renderSettings.inputPath.empty()) return;
    if (inputWaveDuration == 0.0f) return;
  }
  if (renderSettings.outputPath.empty()) {
    chooseOutputFile(window);
    if (renderSettings.outputPath.empty()) return;
  }
  // Two spellings of one file would let the render truncate its own input.
  if (waveSource && sameFile(renderSettings.outputPath, renderSettings.inputPath)) {
    showMessage(ownerOf(window), kBoxOk | kBoxIconInformation, "File conflict",
                "Input and output wave cannot be the same file.\nPlease change "
                "your selection.");
    return;
  }
  // A noise too long for any wave file is refused before any question
  // about it is asked.
  if (!waveSource) {
    Refusal refusal;
    const int channels = renderSettings.stereo ? 2 : 1;
    if (!noiseRenderFits(renderSettings.sampleRate, renderSettings.durationSeconds, channels, refusal)) {
      showRefusal(ownerOf(window), refusal);
      return;
    }
  }
  if (!confirmTimeGranularity(window)) {
    refreshAfterChange(window);
    return;
  }
  if (!mayReplaceOutput(window)) return;
  if (renderToOutput(window)) c.playButton->setFocus();
}

bool renderToOutput(MainWindow& window) {
  const auto& c = window.controls();
  // The sound about to be replaced is not heard on, nor rendered on in
  // the background.
  playbackOf(window).stop();
  if (LiveRender* live = liveRenderOf(window)) live->beforeGenerate();
  // Disabling the focused "Play generated" passes the focus on; it comes
  // back with the new sound.
  const bool playFocused = c.playButton->hasFocus();
  c.playButton->setEnabled(false);
  if (runProgressDialog(&window) != kRenderCompleted) return false;
  agreeToReplaceOutput(window, renderSettings.outputPath);
  c.playButton->setEnabled(true);
  if (playFocused) c.playButton->setFocus();
  emit window.soundGenerated();
  return true;
}

Playback& playbackOf(MainWindow& window) {
  if (auto* existing = window.findChild<Playback*>(QStringLiteral("playback"), Qt::FindDirectChildrenOnly)) {
    return *existing;
  }
  auto* playback = new Playback(&window);
  playback->setObjectName(QStringLiteral("playback"));
  connectCommand(window, playback, &Playback::positionChanged, [](MainWindow& w, qint64 milliseconds) {
    // On the preview's own time axis.
    const float seconds = axisDuration(renderSettings, inputWaveDuration);
    const qreal fraction = seconds > 0.0f ? static_cast<qreal>(milliseconds) / (1000.0 * seconds) : -1.0;
    w.controls().previewFrame->setPlayhead(fraction);
  });
  connectCommand(window, playback, &Playback::playingChanged, [](MainWindow& w, bool playing) {
    w.controls().playButton->setText(QString::fromUtf8(playing ? kStopPlayingText : kPlayGeneratedText));
    if (!playing) w.controls().previewFrame->setPlayhead(-1.0);
  });
  return *playback;
}

void playGenerated(MainWindow& window) {
  // A second press while playing stops.
  if (!gSoundPlayer && playbackOf(window).isPlaying()) {
    playbackOf(window).stop();
    return;
  }
  playGeneratedFromStart(window);
}

void playGeneratedFromStart(MainWindow& window) {
  // A loop plays from its start.
  Playback& playback = playbackOf(window);
  playGeneratedFrom(window, playback.looping() ? playback.loopFrom() : 0);
}

void playGeneratedFrom(MainWindow& window, qint64 milliseconds) {
  if (renderSettings.outputPath.empty()) return;
  const QString path = pathToQt(renderSettings.outputPath);
  if (gSoundPlayer) {
    gSoundPlayer(path);
    return;
  }
  // The generated sound, with what a background render has rendered since.
  Refusal refusal;
  LiveRender* live = liveRenderOf(window);
  std::shared_ptr<FrameSource> source = live ? live->playSource(refusal) : nullptr;
  const bool played = source ? playbackOf(window).play(std::move(source), milliseconds, &refusal)
                             : !live && playbackOf(window).play(path, milliseconds, &refusal);
  if (!played) showRefusal(ownerOf(window), refusal);
}

void enterKey(MainWindow& window) {
  const auto& c = window.controls();
  if (c.generateButton->isEnabled()) {
    c.generateButton->setFocus();
  } else if (pictureData.pixels == nullptr) {
    c.loadPictureButton->setFocus();
  } else if (QWidget* focused = window.focusWidget()) {
    focused->clearFocus();
  }
}

void selectSource(MainWindow& window, InputSource source) {
  renderSettings.inputSource = source;
  showSourceControls(window, source);
  refreshAfterChange(window);
}

void inputFieldEntered(MainWindow& window) {
  if (renderSettings.inputPath.empty()) window.controls().inputPathEdit->clear();
}

void outputFieldEntered(MainWindow& window) {
  if (renderSettings.outputPath.empty()) window.controls().outputPathEdit->clear();
}

void inputFieldLeft(MainWindow& window) {
  QLineEdit* edit = window.controls().inputPathEdit;
  std::string text = fieldPath(edit);
  if (text != kNotSelected) {
    // As the chooser would have taken it: from the folder last chosen in.
    text = resolveTypedPath(text, window.session().lastChosenFolder);
    if (text != fieldPath(edit)) edit->setText(pathToQt(text));
  }
  if (refuseLongPath(ownerOf(window), text)) {
    showPathInField(edit, renderSettings.inputPath);
    return;
  }
  renderSettings.inputPath = text;
  if (renderSettings.inputPath == kNotSelected) {
    renderSettings.inputPath.clear();
  } else if (renderSettings.inputPath.empty()) {
    edit->setText(kNotSelected);
  }
  refreshAfterChange(window);
}

void outputFieldLeft(MainWindow& window) {
  const auto& c = window.controls();
  std::string text = fieldPath(c.outputPathEdit);
  if (text != kNotSelected) {
    // As the chooser would have taken it: from the folder last chosen in,
    // with the chosen format's extension when it has none.
    text = withDefaultExtension(resolveTypedPath(text, window.session().lastChosenFolder),
                                outputExtension(fileOptions.output.kind));
    if (text != fieldPath(c.outputPathEdit)) c.outputPathEdit->setText(pathToQt(text));
  }
  if (refuseLongPath(ownerOf(window), text)) {
    showPathInField(c.outputPathEdit, renderSettings.outputPath);
    return;
  }
  if (!equalIgnoringCase(text, renderSettings.outputPath)) c.playButton->setEnabled(false);
  renderSettings.outputPath = text;
  if (renderSettings.outputPath == kNotSelected) {
    renderSettings.outputPath.clear();
  } else if (renderSettings.outputPath.empty()) {
    c.outputPathEdit->setText(kNotSelected);
  }
  emit window.settingsChanged();
}

std::string localPathOf(const QUrl& url) {
  if (!url.isLocalFile()) return std::string();
  // The name's bytes as the URL encodes them: toLocalFile() would turn the
  // bytes that are not UTF-8 into U+FFFD.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

bool dropFiles(MainWindow& window, const QList<QUrl>& urls) {
  for (const QUrl& url : urls) {
    const std::string path = localPathOf(url);
    if (path.empty()) continue;
    if (refuseLongPath(ownerOf(window), path)) return false;
    window.session().lastChosenFolder = folderOf(path);
    if (QFileInfo(pathToQt(path)).suffix().compare(QLatin1String("wav"), Qt::CaseInsensitive) == 0) {
      const auto& c = window.controls();
      renderSettings.inputPath = path;
      showPathInField(c.inputPathEdit, renderSettings.inputPath);
      {
        // The source switches here, so the file is read (and the axes
        // drawn) once, not again by the radio button's own handler.
        const QSignalBlocker blocker(c.waveFileRadio);
        c.waveFileRadio->setChecked(true);
      }
      renderSettings.inputSource = InputSource::WaveFile;
      showSourceControls(window, InputSource::WaveFile);
      // Say why a dropped file is refused.
      refreshAfterChange(window, InputCheck::Tell);
      return true;
    }
    return loadPictureFile(window, path);
  }
  return false;
}

void connectMainWindowCommands(MainWindow& window) {
  const auto& c = window.controls();

  // The window's initialisation: the settings controls show the settings.
  connectSettingsControls(window);
  populateSettingsControls(window);
  refreshAfterChange(window);

  connectCommand(window, c.loadPictureButton, &QPushButton::clicked, loadPictureCommand);
  connectCommand(window, c.generateButton, &QPushButton::clicked, generateSound);
  connectCommand(window, c.playButton, &QPushButton::clicked, playGenerated);
  connectCommand(window, c.inputBrowseButton, &QPushButton::clicked, chooseInputFile);
  connectCommand(window, c.outputBrowseButton, &QPushButton::clicked, chooseOutputFile);
  connectCommand(window, c.templateButton, &QPushButton::clicked, [](MainWindow& w) { runTemplateWindow(&w); });
  connectCommand(window, c.hiddenDefaultButton, &QPushButton::clicked, enterKey);
  connectWhenChecked(window, c.pinkNoiseRadio, [](MainWindow& w) { selectSource(w, InputSource::PinkNoise); });
  connectWhenChecked(window, c.whiteNoiseRadio, [](MainWindow& w) { selectSource(w, InputSource::WhiteNoise); });
  connectWhenChecked(window, c.waveFileRadio, [](MainWindow& w) { selectSource(w, InputSource::WaveFile); });

  // The picture: a new one, or a revision of it from the editor.
  PictureDocument& document = window.document();
  connectCommand(window, &document, &PictureDocument::replaced,
                 [](MainWindow& w) { w.session().pictureReplaced = true; });
  connectCommand(window, &document, &PictureDocument::revised,
                 [](MainWindow& w, std::uint64_t, const RowSpans& rows) { pictureRevised(w, rows); });

  auto* events = new WindowEvents(window);
  c.inputPathEdit->installEventFilter(events);
  c.outputPathEdit->installEventFilter(events);
  // Files dropped anywhere on the window, the fields included, go to the
  // window.
  for (QLineEdit* edit : window.findChildren<QLineEdit*>()) edit->setAcceptDrops(false);
  window.setAcceptDrops(true);
  window.installEventFilter(events);
}

}  // namespace vellomar

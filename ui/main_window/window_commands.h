// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands: file fields and choosers, loading a picture,
// the checks before a render, playing the result, the Enter key and drops.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "ui/common/app_state.h"
#include "ui/common/file_names.h"

class QWidget;

namespace vellomar {

class MainWindow;
class Playback;
class RowSpans;
struct PictureBitmap;

// One request for a file: what the file dialog is asked to show.
struct FileRequest {
  QWidget* owner = nullptr;
  bool forSaving = false;
  QString title;
  QStringList filters;       // Qt name filters, the first one selected
  QString defaultExtension;  // empty: none
  QString initialPath;
  QString initialFolder;     // where the dialog opens when no path is given; empty: its own choice
  // Saving: the dialog asks before an existing file is chosen. Off when the
  // command asks itself.
  bool confirmOverwrite = true;
};

// Shows a file dialog; the chosen path, or nothing on cancel. The default
// is a QFileDialog; tests install their own.
using FileChooser = std::function<std::optional<QString>(const FileRequest&)>;
void setFileChooser(FileChooser chooser);

// Plays a wave file, returning at once. The default plays it through the
// window's Playback (the default audio output), silently doing nothing
// when there is none; a player set here takes its place, and "Play
// generated" then never shows a sound as playing.
using SoundPlayer = std::function<void(const QString& path)>;
void setSoundPlayer(SoundPlayer player);

// The input choosers' filters: wave files for the classic reader, every
// sound file the reader takes with "Read any audio file" on.
inline const std::initializer_list<const char*> kWaveFilters = {"Microsoft Wave (*.wav)", "*.wav", "All files (*.*)",
                                                                "*.*"};
inline const std::initializer_list<const char*> kSoundFilters = {
    "Sound files (*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff)",
    "*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff", "All files (*.*)", "*.*"};

// The open or save dialog for `path` (read as the initial name, replaced by
// the choice), opening in `initialFolder` when the name is empty. `filters`
// are pairs of description and pattern. A chosen path longer than
// capacity - 1 bytes is refused with the program's message.
bool chooseFile(std::string& path, std::size_t capacity, bool forSaving, const char* title,
                const std::initializer_list<const char*>& filters, const char* defaultExtension, QWidget* owner,
                const std::string& initialFolder = std::string(), bool confirmOverwrite = true);

// The warning before a render whose hops are far shorter than a picture
// line; true means go on.
bool confirmTimeGranularity(MainWindow& window);

// The commands, as the buttons and fields run them.
void chooseInputFile(MainWindow& window);
void chooseOutputFile(MainWindow& window);
void loadPictureCommand(MainWindow& window);
// Loads `path` as the picture (asking first when the picture has unsaved
// edits); false when it was not loaded.
bool loadPictureFile(MainWindow& window, const std::string& path);
void generateSound(MainWindow& window);
void playGenerated(MainWindow& window);

// Shows `bitmap` as the current picture, read from `path` (empty when it
// comes from no file), ready to render: it becomes the document's picture.
void showPicture(MainWindow& window, std::shared_ptr<const PictureBitmap> bitmap, const std::string& path);

// A new revision of the document's picture: the preview shows it (the
// changed `rows`), the next render reads it. After a new picture, also the
// time-per-line read-out and pictureChanged.
void pictureRevised(MainWindow& window, const RowSpans& rows);

// Whether a render may write the output without asking: no file of that
// name exists, or the user has chosen or agreed to replace it, or this
// run's last render wrote it.
bool outputReplaceableWithoutAsking(MainWindow& window);

// Renders to the output already chosen, asking nothing: stops playing,
// runs the progress dialog and, on success, enables "Play generated" and
// sends soundGenerated. True when the sound is in place.
bool renderToOutput(MainWindow& window);

// The window's player of generated sounds (made on first use); its
// position moves the preview's playhead.
Playback& playbackOf(MainWindow& window);

// Plays the generated sound from its start, or from its loop's start when
// a loop is set (through the SoundPlayer when one is set), whether or not
// one is playing. A sound that cannot be played is refused with a message.
void playGeneratedFromStart(MainWindow& window);
// The same from `milliseconds` into the sound.
void playGeneratedFrom(MainWindow& window, qint64 milliseconds);
void enterKey(MainWindow& window);
void selectSource(MainWindow& window, InputSource source);
void inputFieldEntered(MainWindow& window);
void inputFieldLeft(MainWindow& window);
void outputFieldEntered(MainWindow& window);
void outputFieldLeft(MainWindow& window);

// Hooks the main window's commands and settings controls up to the
// settings and the render. Called once by the main window's constructor,
// after every control exists and before the axes are first drawn.
void connectMainWindowCommands(MainWindow& window);

// The name of the local file a URL names, by its bytes; empty for any
// other URL.
std::string localPathOf(const QUrl& url);

// Files dropped on the window: a .wav becomes the input (and the source a
// wave file), anything else is loaded as a picture. True when one was taken.
bool dropFiles(MainWindow& window, const QList<QUrl>& urls);

}  // namespace vellomar

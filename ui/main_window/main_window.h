// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: every control of the main window template, the menu,
// the preview frame and the two axis strips. What the settings controls
// and buttons do is wired up by connectMainWindowCommands.
#pragma once

#include <QDialog>
#include <string>

#include "ui/common/dialog_builder.h"
#include "ui/common/dialog_units.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QSlider;

namespace vellomar {

class PictureDocument;
class PreviewFrame;

struct MainWindowControls {
  // Input source (1013, 1012, 1016) and their group box (1015).
  QRadioButton* whiteNoiseRadio = nullptr;
  QRadioButton* pinkNoiseRadio = nullptr;
  QRadioButton* waveFileRadio = nullptr;
  QGroupBox* inputSourceGroup = nullptr;
  QButtonGroup* sourceButtons = nullptr;  // the three source radio buttons, one exclusive group
  // In place of the three while sine tones (chosen in the Options dialog)
  // are the source.
  QLabel* sineSourceLabel = nullptr;

  PreviewFrame* previewFrame = nullptr;  // 1033

  QLabel* frequencyScaleLabel = nullptr;
  QComboBox* scaleList = nullptr;         // 1018
  QPushButton* templateButton = nullptr;  // 1017
  QLabel* freqGranularityLabel = nullptr;
  QComboBox* freqGranularityList = nullptr;  // 1019
  QLabel* timeGranularityLabel = nullptr;
  QComboBox* timeGranularityList = nullptr;  // 1020
  QLabel* timePerLineLabel = nullptr;        // 1039

  // Brightness mapping (1021, 1022) with the dB range: edit 1025 is the
  // text field of the up-down 1024.
  QLabel* brightnessLabel = nullptr;
  QRadioButton* linRadio = nullptr;
  QRadioButton* logRadio = nullptr;
  QButtonGroup* brightnessButtons = nullptr;
  QLineEdit* rangeEdit = nullptr;
  UpDownSpinBox* rangeUpDown = nullptr;
  QLabel* rangeDbLabel = nullptr;

  QLabel* masterGainLabel = nullptr;
  QSlider* gainSlider = nullptr;  // 1026
  QLineEdit* gainEdit = nullptr;  // 1027
  QLabel* gainDbLabel = nullptr;

  // Input-file group (1010, 1008, 1009) and duration group (1028, 1029, 1030).
  QLabel* inputPathLabel = nullptr;
  QLineEdit* inputPathEdit = nullptr;
  QPushButton* inputBrowseButton = nullptr;
  QLabel* durationLabel = nullptr;
  QLineEdit* durationEdit = nullptr;
  QLabel* secondsLabel = nullptr;

  QLabel* outputPathLabel = nullptr;          // 1011
  QLineEdit* outputPathEdit = nullptr;        // 1006
  QPushButton* outputBrowseButton = nullptr;  // 1007

  QPushButton* loadPictureButton = nullptr;  // 1005
  QPushButton* generateButton = nullptr;     // 1004
  QPushButton* playButton = nullptr;         // 1003
  QPushButton* exitButton = nullptr;         // 1002

  QLabel* freqAxisStrip = nullptr;  // 1031
  QLabel* timeAxisStrip = nullptr;  // 1032

  // Id 1: never shown; clicked when Enter is pressed outside a push button.
  QPushButton* hiddenDefaultButton = nullptr;

  // Menu 109: "&Help" with "Help..." (32772, F1) and "&About ..." (104).
  QMenuBar* menuBar = nullptr;
  QMenu* helpMenu = nullptr;
  QAction* helpAction = nullptr;
  QAction* aboutAction = nullptr;

  // The window's keyboard shortcuts for its buttons (Ctrl+O, Ctrl+G,
  // Ctrl+P, Ctrl+Q): each presses its button as a click does, focus
  // included, and does nothing while the button is disabled.
  QAction* loadPictureShortcut = nullptr;
  QAction* generateShortcut = nullptr;
  QAction* playShortcut = nullptr;
  QAction* exitShortcut = nullptr;
};

// What the window's commands remember for the run of the program.
struct WindowSession {
  // The output file that may be replaced without asking: the one the save
  // dialog confirmed, the one the user agreed to replace when asked, or the
  // one this run's last render wrote.
  std::string agreedOutput;
  // The folder of the last picture chosen, where the picture chooser opens.
  std::string lastPictureFolder;
  // The folder of the last file chosen in any chooser (or dropped): where
  // the other choosers open, and what a relative name typed into a file
  // field is taken from. Empty: the program's working folder.
  std::string lastChosenFolder;
  // The file the shown picture was loaded from or saved to; empty = none.
  std::string picturePath;
  // A new picture has replaced the old; its first revision is to come.
  bool pictureReplaced = false;
};

class MainWindow : public QDialog {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  const MainWindowControls& controls() const { return controls_; }
  // The control with a template id (1002 ... 1039, 1 for the hidden default
  // button), or null.
  QWidget* control(int templateId) const { return built_.byId(templateId); }
  // The window's area below the menu bar; controls are placed in it.
  QWidget* clientArea() const { return client_; }
  const DialogBaseUnits& baseUnits() const { return base_; }
  WindowSession& session() { return session_; }
  // The picture the window shows, the editor edits and renders read.
  PictureDocument& document() const { return *document_; }

  // Ends the window with result 1 (Esc, the close button, Exit), after
  // asking what to do with unsaved edits of the picture; false when the
  // user chose to stay.
  bool closeAfterAsking();

 signals:
  // A render has put its sound in place under renderSettings.outputPath.
  void soundGenerated();
  // Another picture is shown and rendered from now on.
  void pictureChanged();
  // A setting or a file name has changed (the source, the input or output
  // file, a control, the Options): the views that show the settings' axes
  // follow.
  void settingsChanged();

 public slots:
  // Esc, the close button and Exit end the window with result 1 (asking
  // first when the picture has unsaved edits).
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Tab enters a group of radio buttons on its checked button.
  bool focusNextPrevChild(bool next) override;

 private:
  DialogBaseUnits base_;
  QWidget* client_ = nullptr;
  BuiltDialog built_;
  MainWindowControls controls_;
  WindowSession session_;
  PictureDocument* document_ = nullptr;
  bool centred_ = false;
  bool followsScreen_ = false;
};

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
// The picture editor: a window of its own on the main window's picture
// (View > Edit picture..., Ctrl+E). Every edit is an edit of the one picture
// document, so the main window's preview shows it and the next render reads
// it. Its parts: the canvas with its time and frequency rulers, the tools
// and their options, the history list, the spectrogram of a sound over the
// picture, and a status line that reads out the point under the pointer.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QUndoView;

namespace vellomar {

class EditorCanvas;
class EditorRuler;
class MainWindow;
class PictureDocument;
class ToolController;
enum class Tool;

// Plays a sound file the editor rendered (Play selection). The default
// plays it through the editor's own player; tests set their own.
using AuditionPlayer = std::function<void(const QString& path)>;
void setAuditionPlayer(AuditionPlayer player);

class EditorWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit EditorWindow(MainWindow& window);
  ~EditorWindow() override;

  PictureDocument& document() const { return document_; }
  ToolController& tools() const { return *tools_; }
  EditorCanvas* canvas() const { return canvas_; }
  EditorRuler* timeRuler() const { return timeRuler_; }
  EditorRuler* frequencyRuler() const { return frequencyRuler_; }
  QLabel* readout() const { return readout_; }
  QUndoView* historyView() const { return history_; }
  // The action that picks `tool`.
  QAction* toolAction(Tool tool) const;
  QAction* action(const char* name) const;
  bool readOnly() const;

  // The commands, as the menus run them.
  bool newPicture();
  void save();
  void saveAs();
  void revert();
  void paste();
  void scaleSelection();
  void adjustBrightnessContrast();
  // Renders the selection's region alone into the editor's temporary
  // folder and plays it; the path played, or empty (the status line says why).
  QString playSelection();
  // Shows or hides the spectrogram over the picture; false (and unchecked)
  // when there is no sound to show.
  bool showSpectrogram(bool shown);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void buildMenus();  // File and Edit
  void buildViewMenus();  // View, Play and Tools
  void buildToolBars();
  void buildOptions();
  void pictureReplaced();
  void updateActions();
  void updateTitle();
  void showOptionsFor(Tool tool);
  void pointerMoved(QPointF at, bool inside);
  void refreshSpectrogram();
  void discardEdits();
  // Clicks a button of the main window (Generate sound, Play generated), or
  // says why not when it is disabled.
  void pressMainWindowButton(QPushButton* button);

  MainWindow& window_;
  PictureDocument& document_;
  ToolController* tools_ = nullptr;
  EditorCanvas* canvas_ = nullptr;
  EditorRuler* timeRuler_ = nullptr;
  EditorRuler* frequencyRuler_ = nullptr;
  QUndoView* history_ = nullptr;
  QLabel* readout_ = nullptr;
  QLabel* zoomLabel_ = nullptr;
  QActionGroup* toolGroup_ = nullptr;
  // Tool options, each shown for the tools it applies to.
  QSpinBox* size_ = nullptr;
  QSpinBox* hardness_ = nullptr;
  QSpinBox* opacity_ = nullptr;
  QSpinBox* level_ = nullptr;
  QSlider* pan_ = nullptr;
  QCheckBox* filled_ = nullptr;
  QSpinBox* harmonics_ = nullptr;
  QDoubleSpinBox* decay_ = nullptr;
  QSpinBox* tolerance_ = nullptr;
  QList<QAction*> brushOptions_, opacityOptions_, colourOptions_, shapeOptions_, harmonicOptions_, fillOptions_;
  // The spectrogram over the picture.
  QComboBox* spectrogramSource_ = nullptr;
  QSlider* spectrogramOpacity_ = nullptr;
  std::unique_ptr<QTemporaryDir> auditionFolder_;  // where Play selection renders
  QObject* player_ = nullptr;
  // Why the picture is read-only (empty when it is not): said when the
  // editor opens on it.
  QString readOnlyReason_;
  bool placed_ = false;
};

// The editor of `window`, opened (on a new blank picture when there is no
// picture yet, asking its size; nothing when that is cancelled) and raised.
EditorWindow* openEditor(MainWindow& window);
// The editor of `window`, when one is open.
EditorWindow* editorOf(MainWindow& window);

}  // namespace vellomar

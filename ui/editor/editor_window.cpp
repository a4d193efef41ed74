// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/editor_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QUndoView>
#include <QWindow>

#include "files/messages.h"
#include "ui/common/app_state.h"
#include "ui/common/icons.h"
#include "ui/axes/axes.h"
#include "ui/common/dialog_units.h"
#include "ui/document/picture_document.h"
#include "ui/editor/editor_canvas.h"
#include "ui/editor/editor_rulers.h"
#include "ui/editor/readouts.h"
#include "ui/editor/sound_edit.h"
#include "ui/editor/tool_controller.h"
#include "ui/main_window/main_window.h"
#include "ui/playback/play_controls.h"

namespace vellomar {

namespace {

struct ToolEntry {
  Tool tool;
  const char* text;
  const char* name;
  Qt::Key key;
};

constexpr ToolEntry kTools[] = {
    {Tool::Select, "&Select", "selectTool", Qt::Key_S},
    {Tool::Brush, "&Brush", "brushTool", Qt::Key_B},
    {Tool::Eraser, "&Eraser", "eraserTool", Qt::Key_E},
    {Tool::Line, "&Line", "lineTool", Qt::Key_L},
    {Tool::Rectangle, "&Rectangle", "rectangleTool", Qt::Key_R},
    {Tool::Ellipse, "Elli&pse", "ellipseTool", Qt::Key_O},
    {Tool::Gradient, "&Gradient", "gradientTool", Qt::Key_G},
    {Tool::Fill, "&Fill", "fillTool", Qt::Key_F},
    {Tool::Soften, "Sof&ten", "softenTool", Qt::Key_U},
    {Tool::Harmonics, "&Harmonics", "harmonicsTool", Qt::Key_H},
};

QAction* namedAction(QObject* parent, const QString& text, const char* name, const QKeySequence& keys = {}) {
  auto* action = new QAction(text, parent);
  action->setObjectName(QString::fromUtf8(name));
  if (!keys.isEmpty()) action->setShortcut(keys);
  return action;
}

QSpinBox* spin(QWidget* parent, const char* name, int low, int high, int value, const QString& suffix = QString()) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(QString::fromUtf8(name));
  box->setRange(low, high);
  box->setValue(value);
  box->setSuffix(suffix);
  box->setKeyboardTracking(false);
  return box;
}

}  // namespace

EditorWindow::EditorWindow(MainWindow& window)
    : QMainWindow(&window, Qt::Window), window_(window), document_(window.document()) {
  setObjectName(QStringLiteral("editorWindow"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowIcon(appIcon());
  setFont(dialogFont());
  tools_ = new ToolController(document_, this);

  canvas_ = new EditorCanvas(document_, *tools_, this);
  timeRuler_ = new EditorRuler(EditorRuler::Axis::Time, document_, *canvas_, this);
  frequencyRuler_ = new EditorRuler(EditorRuler::Axis::Frequency, document_, *canvas_, this);
  auto* central = new QWidget(this);
  auto* grid = new QGridLayout(central);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);
  grid->addWidget(timeRuler_, 0, 0);
  grid->addWidget(canvas_, 0, 1);
  grid->addWidget(frequencyRuler_, 1, 0, 1, 2);
  setCentralWidget(central);

  history_ = new QUndoView(&document_.undoStack(), this);
  history_->setObjectName(QStringLiteral("historyView"));
  history_->setEmptyLabel(QStringLiteral("Picture as loaded"));
  auto* dock = new QDockWidget(QStringLiteral("History"), this);
  dock->setObjectName(QStringLiteral("historyDock"));
  dock->setWidget(history_);
  addDockWidget(Qt::RightDockWidgetArea, dock);

  readout_ = new QLabel(this);
  readout_->setObjectName(QStringLiteral("readout"));
  zoomLabel_ = new QLabel(this);
  zoomLabel_->setObjectName(QStringLiteral("zoomLabel"));
  // Messages come and go on the left; the read-out and the zoom stay on
  // the right.
  statusBar()->addPermanentWidget(readout_);
  statusBar()->addPermanentWidget(zoomLabel_);

  buildMenus();
  buildViewMenus();
  buildToolBars();
  installSoundEditActions(*this);
  buildOptions();
  dock->toggleViewAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));

  connect(canvas_, &EditorCanvas::viewChanged, this, [this] {
    timeRuler_->update();
    frequencyRuler_->update();
    zoomLabel_->setText(QStringLiteral("%1%").arg(canvas_->zoom() * 100.0, 0, 'f', canvas_->zoom() < 0.1 ? 1 : 0));
  });
  connect(canvas_, &EditorCanvas::pointerMoved, this, &EditorWindow::pointerMoved);
  connect(canvas_, &EditorCanvas::pointerLeft, readout_, &QLabel::clear);
  connect(tools_, &ToolController::status, this, [this](const QString& text) { statusBar()->showMessage(text, 6000); });
  connect(tools_, &ToolController::selectionChanged, this, &EditorWindow::updateActions);
  connect(&document_, &PictureDocument::replaced, this, &EditorWindow::pictureReplaced);
  connect(&document_, &PictureDocument::modifiedChanged, this, &EditorWindow::updateTitle);
  connect(&document_, &PictureDocument::modifiedChanged, this, &EditorWindow::updateActions);
  connect(&document_, &PictureDocument::filePathChanged, this, &EditorWindow::updateTitle);
  connect(&document_, &PictureDocument::historyReport, this, [this](const QString& text) { statusBar()->showMessage(text); });
  connect(&document_.undoStack(), &QUndoStack::indexChanged, this, &EditorWindow::updateActions);
  // A click on the time ruler plays from there, as one on the preview's
  // time axis does.
  connect(timeRuler_, &EditorRuler::timeClicked, this, [this](double fraction) {
    if (PlayControls* play = playControlsOf(window_)) play->playFromFraction(fraction);
  });
  connect(&window_, &MainWindow::settingsChanged, this, [this] {
    timeRuler_->update();
    frequencyRuler_->update();
    pan_->setEnabled(renderSettings.stereo);
  });
  // Note names on the frequency axis, as the View menu turns them on and off.
  if (auto* notes = window_.findChild<QAction*>(QStringLiteral("noteNamesAction"))) {
    connect(notes, &QAction::toggled, frequencyRuler_, qOverload<>(&QWidget::update));
  }
  connect(&window_, &MainWindow::soundGenerated, this, [this] {
    if (canvas_->underlayShown() && spectrogramSource_->currentIndex() == 1) refreshSpectrogram();
  });

  resize(1280, 860);
  pictureReplaced();
}

EditorWindow::~EditorWindow() = default;

QAction* EditorWindow::action(const char* name) const {
  return findChild<QAction*>(QString::fromUtf8(name));
}

QAction* EditorWindow::toolAction(Tool tool) const {
  for (const ToolEntry& entry : kTools) {
    if (entry.tool == tool) return action(entry.name);
  }
  return nullptr;
}

bool EditorWindow::readOnly() const { return tools_->readOnly(); }

void EditorWindow::buildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  file->addAction(namedAction(this, QStringLiteral("&New picture..."), "newAction", QKeySequence::New));
  file->addSeparator();
  file->addAction(namedAction(this, QStringLiteral("&Save"), "saveAction", QKeySequence::Save));
  file->addAction(namedAction(this, QStringLiteral("Save &as..."), "saveAsAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)));
  file->addAction(namedAction(this, QStringLiteral("&Revert"), "revertAction"));
  file->addSeparator();
  file->addAction(namedAction(this, QStringLiteral("&Close"), "closeAction", QKeySequence(Qt::CTRL | Qt::Key_W)));
  connect(action("newAction"), &QAction::triggered, this, &EditorWindow::newPicture);
  connect(action("saveAction"), &QAction::triggered, this, &EditorWindow::save);
  connect(action("saveAsAction"), &QAction::triggered, this, &EditorWindow::saveAs);
  connect(action("revertAction"), &QAction::triggered, this, &EditorWindow::revert);
  connect(action("closeAction"), &QAction::triggered, this, &QWidget::close);

  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  // Undo and redo end a drag in progress first (Ctrl+Z in the middle of a
  // stroke takes back the stroke as a whole).
  QUndoStack& stack = document_.undoStack();
  QAction* undo = namedAction(this, QStringLiteral("&Undo"), "undoAction", QKeySequence(Qt::CTRL | Qt::Key_Z));
  QAction* redo = namedAction(this, QStringLiteral("&Redo"), "redoAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  const auto describe = [this, undo, redo, &stack] {
    undo->setEnabled(stack.canUndo() || document_.dragging());
    redo->setEnabled(stack.canRedo());
    undo->setText(stack.canUndo() ? QStringLiteral("&Undo %1").arg(stack.undoText()) : QStringLiteral("&Undo"));
    redo->setText(stack.canRedo() ? QStringLiteral("&Redo %1").arg(stack.redoText()) : QStringLiteral("&Redo"));
  };
  connect(&stack, &QUndoStack::indexChanged, this, describe);
  connect(&stack, &QUndoStack::cleanChanged, this, describe);
  connect(&document_, &PictureDocument::draggingChanged, this, describe);
  describe();
  connect(undo, &QAction::triggered, this, [this] {
    tools_->finishDrag();
    document_.undoStack().undo();
  });
  connect(redo, &QAction::triggered, this, [this] {
    tools_->finishDrag();
    document_.undoStack().redo();
  });
  edit->addAction(undo);
  edit->addAction(redo);
  edit->addSeparator();
  edit->addAction(namedAction(this, QStringLiteral("Cu&t"), "cutAction", QKeySequence::Cut));
  edit->addAction(namedAction(this, QStringLiteral("&Copy"), "copyAction", QKeySequence::Copy));
  edit->addAction(namedAction(this, QStringLiteral("&Paste"), "pasteAction", QKeySequence::Paste));
  edit->addAction(namedAction(this, QStringLiteral("&Delete"), "deleteAction", QKeySequence::Delete));
  edit->addSeparator();
  edit->addAction(namedAction(this, QStringLiteral("Select &all"), "selectAllAction", QKeySequence::SelectAll));
  edit->addAction(namedAction(this, QStringLiteral("Select &none"), "selectNoneAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A)));
  edit->addSeparator();
  edit->addAction(namedAction(this, QStringLiteral("Flip in &time"), "flipTimeAction"));
  edit->addAction(namedAction(this, QStringLiteral("Flip in &frequency"), "flipFrequencyAction"));
  edit->addAction(namedAction(this, QStringLiteral("&Scale selection..."), "scaleAction"));
  edit->addAction(namedAction(this, QStringLiteral("&Brightness and contrast..."), "adjustAction"));
  connect(action("cutAction"), &QAction::triggered, tools_, &ToolController::cut);
  connect(action("copyAction"), &QAction::triggered, tools_, &ToolController::copy);
  connect(action("pasteAction"), &QAction::triggered, this, &EditorWindow::paste);
  connect(action("deleteAction"), &QAction::triggered, tools_, &ToolController::erase);
  connect(action("selectAllAction"), &QAction::triggered, tools_, &ToolController::selectAll);
  connect(action("selectNoneAction"), &QAction::triggered, tools_, [this] { tools_->setSelection({}); });
  connect(action("flipTimeAction"), &QAction::triggered, tools_, [this] { tools_->flip(FlipAxis::Time); });
  connect(action("flipFrequencyAction"), &QAction::triggered, tools_, [this] { tools_->flip(FlipAxis::Frequency); });
  connect(action("scaleAction"), &QAction::triggered, this, &EditorWindow::scaleSelection);
  connect(action("adjustAction"), &QAction::triggered, this, &EditorWindow::adjustBrightnessContrast);
}

void EditorWindow::buildViewMenus() {
  QMenuBar* bar = menuBar();
  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("viewMenu"));
  view->addAction(namedAction(this, QStringLiteral("Zoom &in"), "zoomInAction", QKeySequence::ZoomIn));
  view->addAction(namedAction(this, QStringLiteral("Zoom &out"), "zoomOutAction", QKeySequence::ZoomOut));
  view->addAction(namedAction(this, QStringLiteral("&Fit to window"), "zoomFitAction", QKeySequence(Qt::CTRL | Qt::Key_0)));
  view->addAction(namedAction(this, QStringLiteral("&Actual pixels (1:1)"), "zoomActualAction", QKeySequence(Qt::CTRL | Qt::Key_1)));
  view->addSeparator();
  QAction* spectrogram = namedAction(this, QStringLiteral("&Spectrogram underneath"), "spectrogramAction",
                                     QKeySequence(Qt::CTRL | Qt::Key_D));
  spectrogram->setCheckable(true);
  view->addAction(spectrogram);
  connect(action("zoomInAction"), &QAction::triggered, canvas_, &EditorCanvas::zoomIn);
  connect(action("zoomOutAction"), &QAction::triggered, canvas_, &EditorCanvas::zoomOut);
  connect(action("zoomFitAction"), &QAction::triggered, canvas_, &EditorCanvas::zoomToFit);
  connect(action("zoomActualAction"), &QAction::triggered, canvas_, &EditorCanvas::zoomToActualPixels);
  connect(spectrogram, &QAction::toggled, this, &EditorWindow::showSpectrogram);

  // The main window's render and player, so that a drawing is heard
  // without leaving the editor.
  QMenu* play = bar->addMenu(QStringLiteral("&Play"));
  play->addAction(namedAction(this, QStringLiteral("&Generate sound"), "generateAction", QKeySequence(Qt::CTRL | Qt::Key_G)));
  play->addAction(namedAction(this, QStringLiteral("&Play generated"), "playGeneratedAction", QKeySequence(Qt::CTRL | Qt::Key_P)));
  play->addAction(namedAction(this, QStringLiteral("Play &selection"), "playSelectionAction",
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)));
  connect(action("generateAction"), &QAction::triggered, this, [this] { pressMainWindowButton(window_.controls().generateButton); });
  connect(action("playGeneratedAction"), &QAction::triggered, this, [this] { pressMainWindowButton(window_.controls().playButton); });
  connect(action("playSelectionAction"), &QAction::triggered, this, &EditorWindow::playSelection);
  connect(play, &QMenu::aboutToShow, this, [this] {
    action("generateAction")->setEnabled(window_.controls().generateButton->isEnabled());
    action("playGeneratedAction")->setEnabled(window_.controls().playButton->isEnabled());
    action("playGeneratedAction")->setText(window_.controls().playButton->text());
  });

  QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
  toolGroup_ = new QActionGroup(this);
  for (const ToolEntry& entry : kTools) {
    QAction* a = namedAction(this, QString::fromUtf8(entry.text), entry.name, QKeySequence(entry.key));
    a->setCheckable(true);
    a->setData(static_cast<int>(entry.tool));
    toolGroup_->addAction(a);
    tools->addAction(a);
  }
  toolAction(Tool::Brush)->setChecked(true);
  connect(toolGroup_, &QActionGroup::triggered, this, [this](QAction* a) {
    const auto tool = static_cast<Tool>(a->data().toInt());
    tools_->settings().tool = tool;
    showOptionsFor(tool);
  });
  view->addSeparator();
  // The history list's own toggle joins the View menu once the dock exists.
  if (auto* dock = findChild<QDockWidget*>(QStringLiteral("historyDock"))) view->addAction(dock->toggleViewAction());
}

void EditorWindow::buildToolBars() {
  // Short names on the buttons, so that the bar keeps its width.
  const std::pair<const char*, const char*> shortNames[] = {
      {"undoAction", "Undo"},       {"zoomInAction", "Zoom +"},    {"zoomOutAction", "Zoom -"},       {"redoAction", "Redo"},         {"zoomFitAction", "Fit"},
      {"zoomActualAction", "1:1"},  {"generateAction", "Generate"}, {"playGeneratedAction", "Play"},
      {"playSelectionAction", "Play selection"}};
  for (const auto& [name, text] : shortNames) action(name)->setIconText(QString::fromUtf8(text));
  QToolBar* bar = addToolBar(QStringLiteral("Tools"));
  bar->setObjectName(QStringLiteral("toolBar"));
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (QAction* a : toolGroup_->actions()) bar->addAction(a);
  bar->addSeparator();
  bar->addAction(action("undoAction"));
  bar->addAction(action("redoAction"));
  bar->addSeparator();
  bar->addAction(action("zoomInAction"));
  bar->addAction(action("zoomOutAction"));
  bar->addAction(action("zoomFitAction"));
  bar->addAction(action("zoomActualAction"));
  bar->addSeparator();
  bar->addAction(action("generateAction"));
  bar->addAction(action("playGeneratedAction"));
  bar->addAction(action("playSelectionAction"));
}

void EditorWindow::pressMainWindowButton(QPushButton* button) {
  if (!button->isEnabled()) {
    statusBar()->showMessage(button == window_.controls().playButton ? QStringLiteral("Generate the sound first")
                                                                     : QStringLiteral("There is no picture to render"),
                             6000);
    return;
  }
  button->click();
}

void EditorWindow::buildOptions() {
  addToolBarBreak();
  QToolBar* bar = addToolBar(QStringLiteral("Tool options"));
  bar->setObjectName(QStringLiteral("optionsBar"));
  const ToolSettings& s = tools_->settings();
  const auto labelled = [&](const QString& text, QWidget* field, QList<QAction*>& group) {
    auto* label = new QLabel(text, bar);
    label->setBuddy(field);
    label->setContentsMargins(8, 0, 2, 0);
    group << bar->addWidget(label) << bar->addWidget(field);
  };
  size_ = spin(bar, "sizeOption", 1, 500, static_cast<int>(s.brush.diameter), QStringLiteral(" px"));
  hardness_ = spin(bar, "hardnessOption", 0, 100, static_cast<int>(s.brush.hardness * 100), QStringLiteral("%"));
  opacity_ = spin(bar, "opacityOption", 1, 100, static_cast<int>(s.opacity * 100), QStringLiteral("%"));
  level_ = spin(bar, "levelOption", 0, 255, s.level);
  pan_ = new QSlider(Qt::Horizontal, bar);
  pan_->setObjectName(QStringLiteral("panSlider"));
  pan_->setRange(-100, 100);
  pan_->setFixedWidth(100);
  pan_->setToolTip(QStringLiteral("Stereo pan: left (red) to right (green), equal power"));
  filled_ = new QCheckBox(QStringLiteral("F&illed"), bar);
  filled_->setObjectName(QStringLiteral("filledOption"));
  harmonics_ = spin(bar, "harmonicsOption", 1, 32, s.harmonics);
  decay_ = new QDoubleSpinBox(bar);
  decay_->setObjectName(QStringLiteral("decayOption"));
  decay_->setRange(0.05, 1.0);
  decay_->setSingleStep(0.05);
  decay_->setValue(s.decay);
  tolerance_ = spin(bar, "toleranceOption", 0, 255, s.tolerance);
  labelled(QStringLiteral("Si&ze:"), size_, brushOptions_);
  labelled(QStringLiteral("Har&dness:"), hardness_, brushOptions_);
  labelled(QStringLiteral("&Opacity:"), opacity_, opacityOptions_);
  labelled(QStringLiteral("Le&vel:"), level_, colourOptions_);
  labelled(QStringLiteral("Pa&n:"), pan_, colourOptions_);
  colourOptions_.back()->setObjectName(QStringLiteral("panOption"));
  shapeOptions_ << bar->addWidget(filled_);
  labelled(QStringLiteral("Harmonics:"), harmonics_, harmonicOptions_);
  labelled(QStringLiteral("Decay:"), decay_, harmonicOptions_);
  labelled(QStringLiteral("Tolerance:"), tolerance_, fillOptions_);
  bar->addSeparator();
  // The spectrogram over the picture: which sound, and how strong.
  spectrogramSource_ = new QComboBox(bar);
  spectrogramSource_->setObjectName(QStringLiteral("spectrogramSource"));
  spectrogramSource_->addItems({QStringLiteral("Input wave"), QStringLiteral("Generated sound")});
  spectrogramOpacity_ = new QSlider(Qt::Horizontal, bar);
  spectrogramOpacity_->setObjectName(QStringLiteral("spectrogramOpacity"));
  spectrogramOpacity_->setRange(5, 100);
  spectrogramOpacity_->setValue(35);
  spectrogramOpacity_->setFixedWidth(90);
  bar->addAction(action("spectrogramAction"));
  bar->addWidget(spectrogramSource_);
  bar->addWidget(spectrogramOpacity_);
  connect(spectrogramSource_, &QComboBox::currentIndexChanged, this, [this] {
    if (canvas_->underlayShown()) refreshSpectrogram();
  });
  connect(spectrogramOpacity_, &QSlider::valueChanged, this, [this](int v) { canvas_->setUnderlayOpacity(v / 100.0); });

  ToolSettings& t = tools_->settings();
  connect(size_, &QSpinBox::valueChanged, this, [&t, this](int v) {
    t.brush.diameter = static_cast<float>(v);
    canvas_->viewport()->update();
  });
  connect(hardness_, &QSpinBox::valueChanged, this, [&t](int v) { t.brush.hardness = v / 100.0f; });
  connect(opacity_, &QSpinBox::valueChanged, this, [&t](int v) { t.opacity = v / 100.0f; });
  connect(level_, &QSpinBox::valueChanged, this, [&t](int v) { t.level = v; });
  connect(pan_, &QSlider::valueChanged, this, [&t](int v) { t.pan = v / 100.0f; });
  connect(filled_, &QCheckBox::toggled, this, [&t](bool on) { t.filled = on; });
  connect(harmonics_, &QSpinBox::valueChanged, this, [&t](int v) { t.harmonics = v; });
  connect(decay_, &QDoubleSpinBox::valueChanged, this, [&t](double v) { t.decay = static_cast<float>(v); });
  connect(tolerance_, &QSpinBox::valueChanged, this, [&t](int v) { t.tolerance = v; });
  pan_->setEnabled(renderSettings.stereo);
  showOptionsFor(t.tool);
}

void EditorWindow::showOptionsFor(Tool tool) {
  const bool brush = tool == Tool::Brush || tool == Tool::Eraser || tool == Tool::Soften || tool == Tool::Harmonics ||
                     tool == Tool::Line || tool == Tool::Rectangle || tool == Tool::Ellipse;
  // The eraser paints black and the softener the picture's own colours:
  // they take an opacity, no colour.
  const bool colour = tool != Tool::Select && tool != Tool::Eraser && tool != Tool::Soften;
  for (QAction* a : brushOptions_) a->setVisible(brush);
  for (QAction* a : opacityOptions_) a->setVisible(tool != Tool::Select);
  for (QAction* a : colourOptions_) a->setVisible(colour);
  for (QAction* a : shapeOptions_) a->setVisible(tool == Tool::Rectangle || tool == Tool::Ellipse);
  for (QAction* a : harmonicOptions_) a->setVisible(tool == Tool::Harmonics);
  for (QAction* a : fillOptions_) a->setVisible(tool == Tool::Fill);
  canvas_->viewport()->update();
}

void EditorWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  if (!readOnlyReason_.isEmpty()) {
    // Said once the window is up.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (!readOnlyReason_.isEmpty()) {
            showMessage(this, kBoxOk | kBoxIconInformation, "Read-only picture", "%s", readOnlyReason_.toUtf8().constData());
          }
        },
        Qt::QueuedConnection);
  }
  if (const QScreen* s = screen()) {
    // Centred on the screen; on a screen too small for it, maximised (the
    // window manager then fits its frame too).
    const QRect area = s->availableGeometry();
    if (width() > area.width() * 9 / 10 || height() > area.height() * 9 / 10) {
      setWindowState(windowState() | Qt::WindowMaximized);
    } else {
      QRect frame = frameGeometry();
      frame.moveCenter(area.center());
      move(frame.topLeft());
    }
  }
  if (windowHandle() != nullptr) {
    // Drawn anew for the pixel density of another screen.
    connect(windowHandle(), &QWindow::screenChanged, this, [this] {
      canvas_->viewport()->update();
      timeRuler_->update();
      frequencyRuler_->update();
    });
  }
}

void EditorWindow::pointerMoved(QPointF at, bool inside) {
  const PictureBitmap* picture = document_.picture();
  if (!inside || picture == nullptr) {
    readout_->clear();
    return;
  }
  const EditorAxes axes = editorAxes(document_);
  readout_->setText(readoutText(*picture, axes.settings, axes.durationSeconds, at.x(), at.y()));
}

EditorWindow* editorOf(MainWindow& window) {
  return window.findChild<EditorWindow*>(QStringLiteral("editorWindow"), Qt::FindDirectChildrenOnly);
}

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/main_window.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <QWindow>

#include "resources/dialog_templates.h"
#include "ui/help/about_box.h"
#include "ui/axes/axes.h"
#include "ui/help/help.h"
#include "ui/common/icons.h"
#include "ui/main_window/window_commands.h"
#include "ui/main_window/options_menu.h"
#include "ui/axes/preview_frame.h"
#include "ui/document/picture_document.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/picture_files.h"
#include "ui/playback/live_render.h"
#include "ui/playback/play_controls.h"
#include "ui/view/view_menu.h"

namespace vellomar {

namespace t = templates;

namespace {

template <class T>
T* byId(const BuiltDialog& built, int id) {
  return qobject_cast<T*>(built.byId(id));
}

template <class T>
T* byName(QWidget* parent, const char* name) {
  return parent->findChild<T*>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly);
}

// A shortcut that presses `button` the way a click does: the button takes
// the focus first, so a field being edited takes its value before the
// command runs. The button's tooltip names the keys.
QAction* buttonShortcut(QWidget* window, QPushButton* button, const QKeySequence& keys, const char* name) {
  auto* action = new QAction(button->text(), window);
  action->setObjectName(QString::fromUtf8(name));
  action->setShortcut(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  window->addAction(action);
  button->setToolTip(
      QStringLiteral("%1 (%2)").arg(button->text(), keys.toString(QKeySequence::NativeText)));
  QObject::connect(action, &QAction::triggered, button, [button] {
    if (!button->isEnabled() || !button->isVisible()) return;
    button->setFocus(Qt::ShortcutFocusReason);
    button->click();
  });
  return action;
}

// Only the checked button of a radio group is a Tab stop, so that Tab
// enters the group on it; the arrow keys move within the group. With none
// checked, the first one is.
void tabToCheckedButton(const QButtonGroup* group) {
  const QList<QAbstractButton*> buttons = group->buttons();
  const QAbstractButton* checked = group->checkedButton();
  for (QAbstractButton* button : buttons) {
    const bool stop = checked != nullptr ? button == checked : button == buttons.front();
    const Qt::FocusPolicy policy = button->focusPolicy();
    button->setFocusPolicy(static_cast<Qt::FocusPolicy>(stop ? policy | Qt::TabFocus : policy & ~Qt::TabFocus));
  }
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QString::fromUtf8(t::kMainWindowTemplate.caption));
  setWindowIcon(appIcon());
  setFont(dialogFont());
  base_ = dialogBaseUnits(font());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // not resizable

  MainWindowControls& c = controls_;
  c.menuBar = new QMenuBar(this);
  c.menuBar->setObjectName(QStringLiteral("menuBar"));
  c.helpMenu = c.menuBar->addMenu(QString::fromUtf8(t::kHelpMenuText));
  c.helpMenu->setObjectName(QStringLiteral("helpMenu"));
  c.helpAction = c.helpMenu->addAction(QString::fromUtf8(t::kHelpCommandText));
  c.helpAction->setObjectName(QStringLiteral("helpAction"));
  c.helpAction->setData(t::kHelpCommandId);
  c.helpAction->setShortcut(QKeySequence(Qt::Key_F1));
  c.aboutAction = c.helpMenu->addAction(QString::fromUtf8(t::kAboutCommandText));
  c.aboutAction->setObjectName(QStringLiteral("aboutAction"));
  c.aboutAction->setData(t::kAboutCommandId);
  layout->setMenuBar(c.menuBar);

  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("clientArea"));
  client_->setFixedSize(dialogClientSize(t::kMainWindowTemplate, base_));
  layout->addWidget(client_);
  built_ = buildDialogControls(t::kMainWindowTemplate, client_, base_);

  c.whiteNoiseRadio = byId<QRadioButton>(built_, 1013);
  c.pinkNoiseRadio = byId<QRadioButton>(built_, 1012);
  c.waveFileRadio = byId<QRadioButton>(built_, 1016);
  c.inputSourceGroup = byId<QGroupBox>(built_, 1015);
  c.sineSourceLabel = new QLabel(QStringLiteral("Sine tones, one per picture column: chosen in the Options menu"),
                                 client_);
  c.sineSourceLabel->setObjectName(QStringLiteral("sineSourceLabel"));
  c.sineSourceLabel->setGeometry(dluToPixels(15, 20, 104, 40, base_));
  c.sineSourceLabel->setWordWrap(true);
  c.sineSourceLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  c.sineSourceLabel->hide();
  c.previewFrame = byId<PreviewFrame>(built_, 1033);
  c.frequencyScaleLabel = byName<QLabel>(client_, "frequencyScaleLabel");
  c.scaleList = byId<QComboBox>(built_, 1018);
  c.templateButton = byId<QPushButton>(built_, 1017);
  c.freqGranularityLabel = byName<QLabel>(client_, "freqGranularityLabel");
  c.freqGranularityList = byId<QComboBox>(built_, 1019);
  c.timeGranularityLabel = byName<QLabel>(client_, "timeGranularityLabel");
  c.timeGranularityList = byId<QComboBox>(built_, 1020);
  c.timePerLineLabel = byId<QLabel>(built_, 1039);
  c.brightnessLabel = byName<QLabel>(client_, "brightnessLabel");
  c.linRadio = byId<QRadioButton>(built_, 1021);
  c.logRadio = byId<QRadioButton>(built_, 1022);
  c.rangeEdit = byId<QLineEdit>(built_, 1025);
  c.rangeUpDown = byId<UpDownSpinBox>(built_, 1024);
  c.rangeDbLabel = byName<QLabel>(client_, "rangeDbLabel");
  c.masterGainLabel = byName<QLabel>(client_, "masterGainLabel");
  c.gainSlider = byId<QSlider>(built_, 1026);
  c.gainEdit = byId<QLineEdit>(built_, 1027);
  c.gainDbLabel = byName<QLabel>(client_, "gainDbLabel");
  c.inputPathLabel = byId<QLabel>(built_, 1010);
  c.inputPathEdit = byId<QLineEdit>(built_, 1008);
  c.inputBrowseButton = byId<QPushButton>(built_, 1009);
  c.durationLabel = byId<QLabel>(built_, 1028);
  c.durationEdit = byId<QLineEdit>(built_, 1029);
  c.secondsLabel = byId<QLabel>(built_, 1030);
  c.outputPathLabel = byId<QLabel>(built_, 1011);
  c.outputPathEdit = byId<QLineEdit>(built_, 1006);
  c.outputBrowseButton = byId<QPushButton>(built_, 1007);
  c.loadPictureButton = byId<QPushButton>(built_, 1005);
  c.generateButton = byId<QPushButton>(built_, 1004);
  c.playButton = byId<QPushButton>(built_, 1003);
  c.exitButton = byId<QPushButton>(built_, 1002);
  c.freqAxisStrip = byId<QLabel>(built_, 1031);
  c.timeAxisStrip = byId<QLabel>(built_, 1032);
  c.hiddenDefaultButton = byId<QPushButton>(built_, 1);

  // Each "starts a group" radio button begins its own exclusive group.
  c.sourceButtons = new QButtonGroup(this);
  c.sourceButtons->setObjectName(QStringLiteral("sourceButtons"));
  c.sourceButtons->addButton(c.whiteNoiseRadio, 1013);
  c.sourceButtons->addButton(c.pinkNoiseRadio, 1012);
  c.sourceButtons->addButton(c.waveFileRadio, 1016);
  c.brightnessButtons = new QButtonGroup(this);
  c.brightnessButtons->setObjectName(QStringLiteral("brightnessButtons"));
  c.brightnessButtons->addButton(c.linRadio, 1021);
  c.brightnessButtons->addButton(c.logRadio, 1022);

  // Only the hidden default button is the dialog's default; Enter on a
  // focused push button presses that button.
  for (QPushButton* button : client_->findChildren<QPushButton*>())
    if (button != c.hiddenDefaultButton) button->setDefault(false);

  document_ = new PictureDocument(this);
  document_->setObjectName(QStringLiteral("pictureDocument"));

  connect(c.exitButton, &QPushButton::clicked, this, [this] { closeAfterAsking(); });
  connect(c.aboutAction, &QAction::triggered, this, [this] { showAboutBox(this); });
  connect(c.helpAction, &QAction::triggered, this, [this] { showHelp(this); });

  c.loadPictureShortcut = buttonShortcut(this, c.loadPictureButton, QKeySequence(Qt::CTRL | Qt::Key_O),
                                         "loadPictureShortcut");
  c.generateShortcut = buttonShortcut(this, c.generateButton, QKeySequence(Qt::CTRL | Qt::Key_G), "generateShortcut");
  c.playShortcut = buttonShortcut(this, c.playButton, QKeySequence(Qt::CTRL | Qt::Key_P), "playShortcut");
  c.exitShortcut = buttonShortcut(this, c.exitButton, QKeySequence(Qt::CTRL | Qt::Key_Q), "exitShortcut");

  connectMainWindowCommands(*this);
  // The menus between the window's own and Help: View, Play, then Options.
  installLiveRender(*this);
  installViewMenu(*this);
  installPlayControls(*this);
  addOptionsMenu(*this);
  // The window opens with the focus on its first Tab stop: the checked
  // source button.
  tabToCheckedButton(c.sourceButtons);
  tabToCheckedButton(c.brightnessButtons);
  redrawAxes(*this);
}

MainWindow::~MainWindow() {
  // The editor works on the document: it goes first.
  delete editorOf(*this);
}

bool MainWindow::closeAfterAsking() {
  // Ending the program would lose the drawing.
  if (!mayDropEdits(this, *document_, QStringLiteral("Closing Vellomar"))) return false;
  done(1);
  return true;
}

void MainWindow::reject() { closeAfterAsking(); }

void MainWindow::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isVisible()) {
      if (button->isEnabled()) button->click();
    } else {
      controls_.hiddenDefaultButton->click();
    }
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool MainWindow::focusNextPrevChild(bool next) {
  // The checked buttons change by click, by arrow key and from the
  // commands; take them as they are now.
  tabToCheckedButton(controls_.sourceButtons);
  tabToCheckedButton(controls_.brightnessButtons);
  return QDialog::focusNextPrevChild(next);
}

void MainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!followsScreen_ && windowHandle() != nullptr) {
    // The axes are drawn for the screen's pixel density; a screen with
    // another one gets them drawn anew.
    followsScreen_ = true;
    connect(windowHandle(), &QWindow::screenChanged, this, [this] { redrawAxes(*this); });
  }
  if (centred_) return;
  centred_ = true;
  if (const QScreen* s = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace vellomar

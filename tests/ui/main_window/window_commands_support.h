// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window's command and field tests share: a main window open
// afresh for each test, with the file choosers' answers given in advance and
// the messages, files asked for, sounds played and beeps recorded; and the
// hands that type into its fields, choose from its lists and load pictures.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/common/digits_field.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"

namespace vellomar::test {

// A grey PNG of the given size, top half white.
inline std::string writePicture(const TempDir& dir, const std::string& name, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  for (int y = 0; y < height / 2 + 1; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(255, 255, 255));
  }
  const std::string path = dir.file(name);
  image.save(QString::fromStdString(path), "PNG");
  return path;
}

class WindowCommandsFixture {
 protected:
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MessageRecorder> messages_;
  std::vector<FileRequest> requests_;
  std::vector<std::optional<QString>> answers_;  // what the file dialogs answer, in order
  std::vector<QString> played_;
  int beeps_ = 0;

  const MainWindowControls& c() const { return window_->controls(); }

  // Gives the focus to `widget` and takes it away again, as the user does
  // when leaving a field.
  void leave(QWidget* widget) {
    widget->setFocus();
    QVERIFY(widget->hasFocus());
    c().exitButton->setFocus();
    QVERIFY(!widget->hasFocus());
  }
  void type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    edit->setText(text);
    c().exitButton->setFocus();
  }
  void choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    QVERIFY(index >= 0);
    list->setCurrentIndex(index);
    emit list->activated(index);
  }
  // Opens `widget`'s context menu as a right click does, runs `whileOpen`
  // with the menu up and closes the menu again.
  void withContextMenu(QWidget* widget, const std::function<void()>& whileOpen) {
    const QPoint at(4, 4);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    QWidget* menu = QApplication::activePopupWidget();
    QVERIFY(menu != nullptr);
    whileOpen();
    menu->close();
    QVERIFY(widget->hasFocus());
  }
  void loadPicture(const std::string& path) {
    answers_.push_back(QString::fromStdString(path));
    c().loadPictureButton->click();
  }

  // A fresh window and state before each test.
  void openWindow() {
    resetWindowState();
    messages_ = std::make_unique<MessageRecorder>();
    requests_.clear();
    answers_.clear();
    played_.clear();
    beeps_ = 0;
    setFileChooser([this](const FileRequest& request) -> std::optional<QString> {
      requests_.push_back(request);
      if (answers_.empty()) return std::nullopt;
      const QString answer = answers_.front().value_or(QString());
      answers_.erase(answers_.begin());
      if (answer.isEmpty()) return std::nullopt;
      return answer;
    });
    setSoundPlayer([this](const QString& path) { played_.push_back(path); });
    setDefaultSound([this] { ++beeps_; });
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void closeWindow() {
    window_.reset();
    setFileChooser(nullptr);
    setSoundPlayer(nullptr);
    setDefaultSound(nullptr);
    messages_.reset();
    resetWindowState();
  }
};

}  // namespace vellomar::test

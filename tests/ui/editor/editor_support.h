// SPDX-License-Identifier: GPL-3.0-or-later
// What the editor's tests share: a main window with a picture, its editor
// open at a known zoom, and the pointer driven in picture coordinates.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <functional>
#include <memory>

#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/document/picture_document.h"
#include "ui/document/picture_planes.h"
#include "ui/editor/editor_canvas.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/tool_controller.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"

namespace vellomar::test {

// A picture of width x height whose every pixel is colour(x, y).
inline std::shared_ptr<PictureBitmap> pictureOf(std::uint32_t width, std::uint32_t height,
                                                const std::function<Rgb(std::uint32_t, std::uint32_t)>& colour) {
  std::shared_ptr<PictureBitmap> p = blankPicture(width, height);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) setColour(*p, x, y, colour(x, y));
  return p;
}

class EditorFixture {
 public:
  std::unique_ptr<MessageRecorder> messages;
  std::unique_ptr<MainWindow> window;
  EditorWindow* editor = nullptr;
  std::vector<std::optional<QString>> fileAnswers;  // what the file dialogs answer, in order

  // A main window showing `picture` (from `path`), its editor open at `zoom`.
  void open(std::shared_ptr<PictureBitmap> picture, double zoom = 4.0, const std::string& path = std::string()) {
    resetWindowState();
    messages = std::make_unique<MessageRecorder>();
    fileAnswers.clear();
    setFileChooser([this](const FileRequest&) -> std::optional<QString> {
      if (fileAnswers.empty()) return std::nullopt;
      const QString answer = fileAnswers.front().value_or(QString());
      fileAnswers.erase(fileAnswers.begin());
      if (answer.isEmpty()) return std::nullopt;
      return answer;
    });
    window = std::make_unique<MainWindow>();
    window->show();
    showPicture(*window, std::move(picture), path);
    editor = openEditor(*window);
    QVERIFY(editor != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(editor));
    editor->canvas()->setZoom(zoom);
  }

  void close() {
    editor = nullptr;
    window.reset();
    messages.reset();
    setFileChooser(nullptr);
  }

  EditorCanvas& canvas() const { return *editor->canvas(); }
  QWidget* viewport() const { return editor->canvas()->viewport(); }
  PictureDocument& document() const { return window->document(); }
  const PictureBitmap& picture() const { return *document().picture(); }
  // Where picture point (x, y) is in the canvas's viewport.
  QPoint at(double x, double y) const { return canvas().toViewport(QPointF(x, y)).toPoint(); }

  void useTool(Tool tool) {
    QAction* action = editor->toolAction(tool);
    QVERIFY(action != nullptr && action->isEnabled());
    action->trigger();
  }
  void click(double x, double y) { QTest::mouseClick(viewport(), Qt::LeftButton, {}, at(x, y)); }
  // The pointer moved to picture point (x, y), with `buttons` held: the
  // event the window system sends.
  void moveTo(double x, double y, Qt::MouseButtons buttons = Qt::NoButton) {
    const QPoint p = at(x, y);
    QMouseEvent event(QEvent::MouseMove, QPointF(p), QPointF(viewport()->mapToGlobal(p)), Qt::NoButton, buttons, {});
    QApplication::sendEvent(viewport(), &event);
  }
  // A drag through `points`, pressed at the first and released at the last.
  void drag(const std::vector<QPointF>& points) {
    QTest::mousePress(viewport(), Qt::LeftButton, {}, at(points.front().x(), points.front().y()));
    for (std::size_t i = 1; i < points.size(); ++i) moveTo(points[i].x(), points[i].y(), Qt::LeftButton);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at(points.back().x(), points.back().y()));
  }
  Rgb pixel(std::uint32_t x, std::uint32_t y) const { return colourAt(picture(), x, y); }
};

}  // namespace vellomar::test

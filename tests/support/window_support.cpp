// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/window_support.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace vellomar::test {

void resetWindowState() {
  renderSettings = RenderSettings{};
  pictureData = PictureData{};
  randomSeed = kInitialRandomSeed;
  abortRequested = false;
  inputWaveDuration = 0.0f;
  noteChoice = NoteChoice{};
  lastRenderLevels = RenderLevels{};
  fileOptions = SoundFileOptions{};
}

namespace {

constexpr int kModalPollMs = 20;
constexpr int kModalPolls = 250;  // five seconds

void pollForModal(const QString& name, std::function<void(QWidget*)> act, std::shared_ptr<bool> answered,
                  std::shared_ptr<bool> live, int pollsLeft) {
  if (!*live || *answered) return;
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal->objectName() == name && modal->isVisible()) {
    *answered = true;
    QPointer<QWidget> dialog(modal);
    act(modal);
    // A check that failed inside `act` leaves no dialog waiting for ever.
    if (auto* d = qobject_cast<QDialog*>(dialog.data()); d != nullptr && d->isVisible()) d->reject();
    return;
  }
  if (pollsLeft <= 0) return;
  QTimer::singleShot(kModalPollMs, [=] { pollForModal(name, act, answered, live, pollsLeft - 1); });
}

}  // namespace

ModalAnswer::ModalAnswer(const QString& objectName, std::function<void(QWidget*)> act)
    : answered_(std::make_shared<bool>(false)), live_(std::make_shared<bool>(true)) {
  pollForModal(objectName, std::move(act), answered_, live_, kModalPolls);
}

ModalAnswer::~ModalAnswer() { *live_ = false; }

void pressCancelOnBackgroundWork(bool& pressed) {
  auto poll = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> self = poll;
  *poll = [&pressed, self] {
    for (QWidget* w : QApplication::allWidgets()) {
      auto* d = qobject_cast<QProgressDialog*>(w);
      if (d && d->objectName() == "soundEditProgress") {
        if (auto* cancel = d->findChild<QPushButton*>(); cancel != nullptr) {
          cancel->click();
          pressed = true;
          return;
        }
      }
    }
    if (auto again = self.lock()) QTimer::singleShot(2, [again] { (*again)(); });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

}  // namespace vellomar::test

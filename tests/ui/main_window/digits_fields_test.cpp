// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's digits-only fields: a refused key or a clamped value is
// heard and shown, never taken silently.

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolTip>
#include <memory>

#include "engine/settings.h"
#include "support/window_support.h"
#include "ui/common/digits_field.h"
#include "ui/main_window/main_window.h"

using namespace vellomar;
using namespace vellomar::test;

class DigitsFieldsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window_;
  int beeps_ = 0;

  const MainWindowControls& c() const { return window_->controls(); }
  void typeKeys(QLineEdit* edit, const char* keys) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, keys);
  }
  void leave() { c().exitButton->setFocus(); }

 private slots:
  void init() {
    resetWindowState();
    beeps_ = 0;
    setDefaultSound([this] { ++beeps_; });
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void cleanup() {
    window_.reset();
    setDefaultSound(nullptr);
    resetWindowState();
  }

  void aPointTypedIntoTheGainIsRefusedAndTheResultClampedAloud() {
    // The point is refused with a beep and a tip at the field; the 125 that
    // the digits make is clamped to 48 with a second beep.
    typeKeys(c().gainEdit, "12.5");
    QCOMPARE(c().gainEdit->text(), QString("125"));
    QCOMPARE(beeps_, 1);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString(kOnlyDigitsTip));
    leave();
    QCOMPARE(renderSettings.masterGainDb, 48);
    QCOMPARE(c().gainEdit->text(), QString("48"));
    QCOMPARE(beeps_, 2);
  }

  void aSignIsRefusedAndAValueInRangeIsTakenQuietly() {
    typeKeys(c().gainEdit, "-5");
    QCOMPARE(c().gainEdit->text(), QString("5"));
    QCOMPARE(beeps_, 1);
    leave();
    QCOMPARE(renderSettings.masterGainDb, 5);
    QCOMPARE(beeps_, 1);
    // Digits alone never beep.
    typeKeys(c().gainEdit, "12");
    leave();
    QCOMPARE(renderSettings.masterGainDb, 12);
    QCOMPARE(beeps_, 1);
  }

  void theRangeBeepsWhenClampedButNotWhenRounded() {
    c().logRadio->click();
    typeKeys(c().rangeEdit, "65");
    leave();
    QCOMPARE(renderSettings.logRangeDb, 70);
    QCOMPARE(beeps_, 0);
    typeKeys(c().rangeEdit, "1e3");
    QCOMPARE(c().rangeEdit->text(), QString("13"));
    QCOMPARE(beeps_, 1);
    QTest::keyClick(c().rangeEdit, Qt::Key_Return);
    QCOMPARE(renderSettings.logRangeDb, 20);
    QCOMPARE(beeps_, 2);
  }
};

QTEST_MAIN(DigitsFieldsTest)
#include "digits_fields_test.moc"

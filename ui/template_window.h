// The frequency scale template window: the chosen scale as a light ruler
// on a black band whose length the user sets by resizing the window.
#pragma once

#include <QDialog>
#include <QImage>

class QLabel;
class QPushButton;

namespace vellomar {

// Result of the window: "Close" was pressed.
inline constexpr int kTemplateClosed = 8;

// The window's height, measured anew every time it opens; 0 until then.
extern int templateWindowHeight;

// The band's ruler for the current scale, W x H pixels (black band, light
// ruler, title "Frequency (hertz)").
QImage drawTemplateRuler(int width, int height);

class TemplateWindow : public QDialog {
  Q_OBJECT

 public:
  explicit TemplateWindow(QWidget* owner);

  QLabel* instructions() const { return instructions_; }
  QLabel* lengthLabel() const { return lengthLabel_; }
  QLabel* band() const { return band_; }
  QPushButton* closeButton() const { return closeButton_; }
  const QImage& rulerImage() const { return ruler_; }

  // Esc does nothing: "Close" is the only way out.
  void reject() override {}

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void layOut();

  QPushButton* closeButton_ = nullptr;
  QLabel* instructions_ = nullptr;
  QLabel* band_ = nullptr;
  QLabel* lengthLabel_ = nullptr;
  int bandTop_ = 0;
  int bandBottom_ = 0;
  QImage ruler_;
};

// Runs the window modally over `owner`.
int runTemplateWindow(QWidget* owner);

}  // namespace vellomar

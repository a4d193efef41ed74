// SPDX-License-Identifier: GPL-3.0-or-later
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

// The band's ruler for the current scale (black band, light ruler, title
// "Frequency (hertz)"), for a band of width x height window pixels on a
// screen with `pixelRatio` device pixels to a window pixel. The ruler is
// laid out over the device pixels themselves, since those are what a
// screen capture holds: the image is templateLength(width, pixelRatio)
// device pixels wide and carries the ratio.
QImage drawTemplateRuler(int width, int height, qreal pixelRatio = 1.0);

// The length of the band in device pixels: what the read-out states.
int templateLength(int width, qreal pixelRatio);

// Where the template window's controls go in a client area of `client`
// pixels: the instructions, the read-out and "Close" centred across it,
// "Close" with half its height free below it, and the band 14 pixels in
// from either side between `bandTop` and `bandBottom`. The read-out is as
// wide as its text needs and at least `readOutMinWidth`.
struct TemplateLayout {
  int instructionsX = 0;
  QRect readOut;
  QPoint close;
  QRect band;
};
TemplateLayout templateLayout(const QSize& client, int instructionsWidth, const QRect& readOut, int readOutTextWidth,
                              const QSize& closeSize, int bandTop, int bandBottom);

class TemplateWindow : public QDialog {
  Q_OBJECT

 public:
  explicit TemplateWindow(QWidget* owner);

  QLabel* instructions() const { return instructions_; }
  QLabel* lengthLabel() const { return lengthLabel_; }
  QLabel* band() const { return band_; }
  QPushButton* closeButton() const { return closeButton_; }
  const QImage& rulerImage() const { return ruler_; }

  // Esc does nothing: "Close" (or the window manager's close box, where
  // it shows one anyway) is the only way out.
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
  QRect readOutPlace_;  // the read-out's place in the template
  bool followsScreen_ = false;
  int bandTop_ = 0;
  int bandBottom_ = 0;
  QImage ruler_;
};

// Runs the window modally over `owner`.
int runTemplateWindow(QWidget* owner);

}  // namespace vellomar

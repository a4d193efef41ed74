// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's dialogs: a new blank picture, scaling the selection, and
// brightness and contrast (shown on the picture while the sliders move).
#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>

class QDoubleSpinBox;
class QLabel;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace vellomar {

class ToolController;

// Rows of a picture that lasts `seconds` at a time granularity of
// `granularitySeconds` (a row per hop, the first at the start and the last
// at the end).
std::uint64_t rowsForSeconds(double seconds, double granularitySeconds);

struct NewPictureRequest {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::optional<double> seconds;  // set when asked for as columns x seconds
};

class NewPictureDialog : public QDialog {
  Q_OBJECT

 public:
  // `granularitySeconds`: the current time granularity, for columns x seconds.
  NewPictureDialog(double granularitySeconds, QWidget* parent = nullptr);

  NewPictureRequest request() const;
  QRadioButton* pixelsChoice() const { return pixels_; }
  QRadioButton* secondsChoice() const { return bySeconds_; }
  QSpinBox* widthField() const { return width_; }
  QSpinBox* heightField() const { return height_; }
  QSpinBox* columnsField() const { return columns_; }
  QDoubleSpinBox* secondsField() const { return seconds_; }

  // OK: a size the editor cannot make is refused, saying which sizes it
  // can, and the dialog stays open.
  void accept() override;

 private:
  void refresh();

  double granularity_;
  QRadioButton* pixels_ = nullptr;
  QRadioButton* bySeconds_ = nullptr;
  QSpinBox* width_ = nullptr;
  QSpinBox* height_ = nullptr;
  QSpinBox* columns_ = nullptr;
  QDoubleSpinBox* seconds_ = nullptr;
  QLabel* rows_ = nullptr;
};

// Asks for the selection's new size; nothing when cancelled.
std::optional<std::pair<std::int64_t, std::int64_t>> askSelectionSize(QWidget* parent, std::int64_t width,
                                                                      std::int64_t height);

// Brightness (-255 ... 255) and contrast (0 ... 400%) of the selection or the
// whole picture, applied as the sliders move and kept (one step) on OK.
class AdjustDialog : public QDialog {
  Q_OBJECT

 public:
  AdjustDialog(ToolController& tools, QWidget* parent = nullptr);
  QSlider* brightnessSlider() const { return brightness_; }
  QSlider* contrastSlider() const { return contrast_; }
  void accept() override;
  void reject() override;

 private:
  void preview();

  ToolController& tools_;
  QSlider* brightness_ = nullptr;
  QSlider* contrast_ = nullptr;
  QLabel* values_ = nullptr;
};

}  // namespace vellomar

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/editor_dialogs.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

#include "files/messages.h"
#include "ui/editor/editor_memory.h"
#include "ui/editor/tool_controller.h"

namespace vellomar {

namespace {

// Fields take sizes beyond what can be made, so that such a size is
// refused with the reason instead of silently held.
constexpr int kFieldMaximum = 100000000;

QSpinBox* sizeField(QWidget* parent, int value, const char* name) {
  auto* field = new QSpinBox(parent);
  field->setObjectName(QString::fromUtf8(name));
  field->setRange(0, kFieldMaximum);
  field->setValue(value);
  field->setMinimumWidth(100);
  return field;
}

QDialogButtonBox* okCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

std::uint64_t rowsForSeconds(double seconds, double granularitySeconds) {
  if (!(seconds > 0.0) || !(granularitySeconds > 0.0)) return 0;
  return static_cast<std::uint64_t>(std::llround(seconds / granularitySeconds)) + 1;
}

NewPictureDialog::NewPictureDialog(double granularitySeconds, QWidget* parent)
    : QDialog(parent), granularity_(granularitySeconds) {
  setObjectName(QStringLiteral("newPictureDialog"));
  setWindowTitle(QStringLiteral("New picture"));
  pixels_ = new QRadioButton(QStringLiteral("&Pixels:"), this);
  pixels_->setObjectName(QStringLiteral("pixelsChoice"));
  bySeconds_ = new QRadioButton(QStringLiteral("&Columns and seconds:"), this);
  bySeconds_->setObjectName(QStringLiteral("secondsChoice"));
  pixels_->setChecked(true);
  width_ = sizeField(this, 512, "widthField");
  height_ = sizeField(this, 512, "heightField");
  columns_ = sizeField(this, 512, "columnsField");
  seconds_ = new QDoubleSpinBox(this);
  seconds_->setObjectName(QStringLiteral("secondsField"));
  seconds_->setDecimals(2);
  seconds_->setRange(0.0, 1000000.0);
  seconds_->setValue(15.0);
  rows_ = new QLabel(this);
  rows_->setObjectName(QStringLiteral("rowsLabel"));

  auto* grid = new QGridLayout;
  grid->addWidget(pixels_, 0, 0);
  grid->addWidget(width_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("x"), this), 0, 2);
  grid->addWidget(height_, 0, 3);
  grid->addWidget(bySeconds_, 1, 0);
  grid->addWidget(columns_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("x"), this), 1, 2);
  grid->addWidget(seconds_, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("s"), this), 1, 4);
  grid->addWidget(rows_, 2, 1, 1, 4);
  grid->setColumnStretch(5, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addLayout(grid);
  layout->addWidget(okCancel(this));

  connect(pixels_, &QRadioButton::toggled, this, &NewPictureDialog::refresh);
  connect(columns_, &QSpinBox::valueChanged, this, &NewPictureDialog::refresh);
  connect(seconds_, &QDoubleSpinBox::valueChanged, this, &NewPictureDialog::refresh);
  refresh();
}

void NewPictureDialog::refresh() {
  const bool pixels = pixels_->isChecked();
  width_->setEnabled(pixels);
  height_->setEnabled(pixels);
  columns_->setEnabled(!pixels);
  seconds_->setEnabled(!pixels);
  rows_->setEnabled(!pixels);
  rows_->setText(QStringLiteral("%1 rows, one per %2 s of time granularity; the duration becomes %3 s")
                     .arg(rowsForSeconds(seconds_->value(), granularity_))
                     .arg(granularity_, 0, 'f', 4)
                     .arg(seconds_->value()));
}

NewPictureRequest NewPictureDialog::request() const {
  NewPictureRequest r;
  if (pixels_->isChecked()) {
    r.width = static_cast<std::uint64_t>(width_->value());
    r.height = static_cast<std::uint64_t>(height_->value());
  } else {
    r.width = static_cast<std::uint64_t>(columns_->value());
    r.height = rowsForSeconds(seconds_->value(), granularity_);
    r.seconds = seconds_->value();
  }
  return r;
}

void NewPictureDialog::accept() {
  const NewPictureRequest r = request();
  QString reason;
  if (r.seconds && !(*r.seconds >= kMinDurationSeconds)) {
    reason = QStringLiteral("A new picture lasts at least %1 s.").arg(static_cast<double>(kMinDurationSeconds));
  } else {
    newPictureSizeAllowed(r.width, r.height, &reason);  // the sizes that can be made, when this one cannot
  }
  if (!reason.isEmpty()) {
    showErrorBox(static_cast<QWidget*>(this), "%s", reason.toUtf8().constData());
    return;
  }
  QDialog::accept();
}

std::optional<std::pair<std::int64_t, std::int64_t>> askSelectionSize(QWidget* parent, std::int64_t width,
                                                                      std::int64_t height) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("scaleSelectionDialog"));
  dialog.setWindowTitle(QStringLiteral("Scale selection"));
  auto* w = sizeField(&dialog, static_cast<int>(width), "widthField");
  auto* h = sizeField(&dialog, static_cast<int>(height), "heightField");
  w->setMinimum(1);
  h->setMinimum(1);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Width (columns):"), w);
  form->addRow(QStringLiteral("&Height (rows):"), h);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(okCancel(&dialog));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return std::make_pair<std::int64_t, std::int64_t>(w->value(), h->value());
}

AdjustDialog::AdjustDialog(ToolController& tools, QWidget* parent) : QDialog(parent), tools_(tools) {
  setObjectName(QStringLiteral("adjustDialog"));
  setWindowTitle(QStringLiteral("Brightness and contrast"));
  brightness_ = new QSlider(Qt::Horizontal, this);
  brightness_->setObjectName(QStringLiteral("brightnessSlider"));
  brightness_->setRange(-255, 255);
  contrast_ = new QSlider(Qt::Horizontal, this);
  contrast_->setObjectName(QStringLiteral("contrastSlider"));
  contrast_->setRange(0, 400);
  contrast_->setValue(100);
  values_ = new QLabel(this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Brightness:"), brightness_);
  form->addRow(QStringLiteral("&Contrast:"), contrast_);
  form->addRow(QString(), values_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancel(this));
  connect(brightness_, &QSlider::valueChanged, this, &AdjustDialog::preview);
  connect(contrast_, &QSlider::valueChanged, this, &AdjustDialog::preview);
  resize(360, sizeHint().height());
  values_->setText(QStringLiteral("Brightness 0, contrast 100%"));
}

void AdjustDialog::preview() {
  values_->setText(QStringLiteral("Brightness %1, contrast %2%").arg(brightness_->value()).arg(contrast_->value()));
  tools_.previewAdjustment(brightness_->value(), contrast_->value() / 100.0);
}

void AdjustDialog::accept() {
  tools_.acceptAdjustment();
  QDialog::accept();
}

void AdjustDialog::reject() {
  tools_.rejectAdjustment();
  QDialog::reject();
}

}  // namespace vellomar

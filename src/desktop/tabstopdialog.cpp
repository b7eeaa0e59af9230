#include "desktop/tabstopdialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

TTabStopSlider::TTabStopSlider(const TTabStopMarks& marks, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), Marks(marks) {
  setRange(0, TTabStopMarks::kLastPosition);
  setPageStep(TTabStopMarks::kPageSize);
  setTickPosition(QSlider::NoTicks);  // ours are drawn below
  setMinimumWidth(4 * (TTabStopMarks::kLastPosition + 1));
  setMinimumHeight(36);
}

int TTabStopSlider::TickX(int position) const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  const int span = width() - handle.width();
  return handle.width() / 2 + QStyle::sliderPositionFromValue(minimum(), maximum(), position, span);
}

void TTabStopSlider::paintEvent(QPaintEvent* event) {
  QSlider::paintEvent(event);
  QPainter painter(this);
  painter.setPen(palette().windowText().color());
  const int bottom = height() - 2;
  for (const int position : Marks.Positions()) {
    const int x = TickX(position);
    painter.drawLine(x, bottom - 6, x, bottom);
  }
}

TQelTabStops::TQelTabStops(const TSetupRecord& settings, QWidget* parent)
    : QDialog(parent), Draft(settings), Stops(settings.TabStops) {
  setWindowTitle(QStringLiteral("Set Tab Stops"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  Slider = new TTabStopSlider(Stops, this);
  PositionLabel = new QLabel(QStringLiteral("0"), this);
  PositionLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")));
  SetTabBtn = new QPushButton(QStringLiteral("Set Tab"), this);
  ResetTabBtn = new QPushButton(QStringLiteral("Reset Tab"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  OkBtn = buttons->button(QDialogButtonBox::Ok);
  CancelBtn = buttons->button(QDialogButtonBox::Cancel);
  connect(Slider, &QSlider::valueChanged, this,
          [this](int value) { PositionLabel->setText(QString::number(value)); });
  connect(SetTabBtn, &QPushButton::clicked, this, [this] { SetMark(true); });
  connect(ResetTabBtn, &QPushButton::clicked, this, [this] { SetMark(false); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addWidget(Slider, 1);
  row->addWidget(PositionLabel);
  auto* tabButtons = new QHBoxLayout;
  tabButtons->addWidget(SetTabBtn);
  tabButtons->addWidget(ResetTabBtn);
  tabButtons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addLayout(tabButtons);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TQelTabStops::SetMark(bool on) {
  if (on) {
    Stops.Set(Slider->value());
  } else {
    Stops.Reset(Slider->value());
  }
  Slider->update();
}

TSetupRecord TQelTabStops::Settings() const {
  TSetupRecord result = Draft;
  Stops.StoreInto(result.TabStops);
  return result;
}

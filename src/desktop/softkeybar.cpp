#include "desktop/softkeybar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <qdrawutil.h>

#include "core/settings.h"

TQelSoftK::TQelSoftK(TSoftKeyGroup group, QWidget* parent)
    : QWidget(parent), Group_(group), Label(QString::fromLatin1(SoftKeyBarLabel(group))) {
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setAccessibleName(Label);
}

void TQelSoftK::ApplySettings(const TSetupRecord& settings) {
  const std::array<std::string, 12> hints = SoftKeyHints(settings, Group_);
  for (int i = 0; i < 12; ++i) Hints[i] = QString::fromLatin1(hints[i].data(), static_cast<int>(hints[i].size()));
  update();
}

void TQelSoftK::SetSoftKeyLabel(const QString& label) {
  Label = label;
  setAccessibleName(label);
  update();
}

void TQelSoftK::SetHint(int index, const QString& hint) {
  if (index < 1 || index > 12) return;
  Hints[index - 1] = hint;
  update();
}

QString TQelSoftK::Hint(int index) const { return index >= 1 && index <= 12 ? Hints[index - 1] : QString(); }

void TQelSoftK::SetLabelWidth(int width) {
  Geometry.LabelWidth = std::max(0, width);
  update();
}

void TQelSoftK::SetSpace(int space) {
  Geometry.Space = std::max(0, space);
  update();
}

void TQelSoftK::SetBevelWidth(int width) {
  Geometry.BevelWidth = std::max(0, width);
  update();
}

void TQelSoftK::SetBevel(TBevel bevel) {
  Bevel = bevel;
  update();
}

QRect TQelSoftK::KeyRect(int index) const {
  const TBarRect r = Geometry.KeyRect(index, width(), height());
  return {r.Left, r.Top, r.Width, r.Height};
}

QSize TQelSoftK::sizeHint() const { return {219, std::max(20, fontMetrics().height() + 6)}; }

QSize TQelSoftK::minimumSizeHint() const { return {Geometry.LabelWidth + 24, sizeHint().height()}; }

int TQelSoftK::KeyAt(const QPoint& point) const {
  return Geometry.KeyAt(point.x(), point.y(), width(), height());
}

void TQelSoftK::PaintFrame(QPainter& painter, const QRect& rect, bool raised) const {
  qDrawShadePanel(&painter, rect, palette(), !raised, Geometry.BevelWidth);
}

void TQelSoftK::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().button());
  if (Bevel != bvNone) PaintFrame(painter, rect(), Bevel == bvRaised);
  QFont bold = font();
  bold.setBold(true);
  painter.setFont(bold);
  painter.setPen(palette().buttonText().color());
  const TBarRect label = Geometry.LabelRect(height());
  painter.drawText(QRect(label.Left, label.Top, label.Width, label.Height), Qt::AlignCenter, Label);
  painter.setFont(font());
  for (int index = 1; index <= TSoftKeyBarLayout::kKeys; ++index) {
    const TBarRect key = Geometry.KeyRect(index, width(), height());
    if (!Geometry.ShowsText(key)) continue;
    const QRect r(key.Left, key.Top, key.Width, key.Height);
    PaintFrame(painter, r, index != PressedKey);
    const QRect inside = r.adjusted(Geometry.BevelWidth + 1, 0, -Geometry.BevelWidth - 1, 0);
    const QString text = painter.fontMetrics().elidedText(Hints[index - 1], Qt::ElideRight, inside.width());
    painter.drawText(inside, Qt::AlignCenter, text);
  }
}

void TQelSoftK::mouseMoveEvent(QMouseEvent* event) {
  const int key = KeyAt(event->position().toPoint());
  if (key == HoveredKey) return;
  HoveredKey = key;
  const QString hint = key ? Hints[key - 1] : QString();
  setToolTip(hint);
  if (hint.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(event->globalPosition().toPoint(), hint, this, KeyRect(key));
  }
}

void TQelSoftK::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  PressedKey = KeyAt(event->position().toPoint());
  update();
}

void TQelSoftK::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  PressedKey = 0;
  update();
  const int key = KeyAt(event->position().toPoint());
  if (key) emit Clicked(key);
}

void TQelSoftK::leaveEvent(QEvent*) {
  HoveredKey = 0;
  update();
}

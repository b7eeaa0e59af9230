// TQelSoftK: one soft-key bar under the screen, a label and twelve keys that
// show their soft keys' definitions. Hovering a key shows its hint at once;
// releasing the left button over a key emits Clicked with its index (1..12).
// The main window makes three, one per group.
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "terminal/softkeylayout.h"

struct TSetupRecord;

class TQelSoftK : public QWidget {
  Q_OBJECT
 public:
  enum TBevel { bvNone, bvLowered, bvRaised };

  explicit TQelSoftK(TSoftKeyGroup group, QWidget* parent = nullptr);

  TSoftKeyGroup Group() const { return Group_; }
  // The group's twelve definitions from the settings become the key hints.
  void ApplySettings(const TSetupRecord& settings);

  // Each setter repaints.
  void SetSoftKeyLabel(const QString& label);
  QString SoftKeyLabel() const { return Label; }
  void SetHint(int index, const QString& hint);  // index 1..12
  QString Hint(int index) const;
  void SetLabelWidth(int width);
  void SetSpace(int space);
  void SetBevelWidth(int width);
  void SetBevel(TBevel bevel);
  const TSoftKeyBarLayout& Layout() const { return Geometry; }
  // Key index 1..12 in this widget's coordinates.
  QRect KeyRect(int index) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The soft key the click starts is SoftKeyOfBarKey(Group(), index).
  void Clicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int KeyAt(const QPoint& point) const;
  void PaintFrame(class QPainter& painter, const QRect& rect, bool raised) const;

  TSoftKeyGroup Group_;
  TSoftKeyBarLayout Geometry;
  TBevel Bevel = bvRaised;
  QString Label;
  std::array<QString, 12> Hints;
  int HoveredKey = 0;
  int PressedKey = 0;  // drawn sunken while the button is down
};

// TQelTabStops: "Set Tab Stops". A slider over positions 0..132 whose tick
// marks are the tab stops, the slider's position in decimal, and "Set Tab" /
// "Reset Tab" for the mark at that position. It edits a copy of the
// settings; on OK the caller takes Settings().
#pragma once

#include <QDialog>
#include <QSlider>

#include "core/settings.h"
#include "terminal/tabstops.h"

class QLabel;
class QPushButton;

// A slider that draws its tick marks where the tab stops are.
class TTabStopSlider : public QSlider {
  Q_OBJECT
 public:
  TTabStopSlider(const TTabStopMarks& marks, QWidget* parent);
  // The x of a slider position's tick.
  int TickX(int position) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const TTabStopMarks& Marks;
};

class TQelTabStops : public QDialog {
  Q_OBJECT
 public:
  explicit TQelTabStops(const TSetupRecord& settings, QWidget* parent = nullptr);

  TSetupRecord Settings() const;
  const TTabStopMarks& Marks() const { return Stops; }

  TTabStopSlider* Slider;
  QLabel* PositionLabel;
  QPushButton* SetTabBtn;
  QPushButton* ResetTabBtn;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;

 private:
  void SetMark(bool on);

  TSetupRecord Draft;
  TTabStopMarks Stops;
};

// TAttributeChooser: the colour and attribute chooser the configuration
// dialog's attribute buttons open. A 16-colour grid (left click foreground,
// right click background), bold, italic and underline, and sample lines in
// the look chosen. Choice() holds the values; the caller stores them on OK.
#pragma once

#include <QDialog>
#include <QWidget>

#include "app/configrules.h"
#include "desktop/colors.h"

class QCheckBox;
class QListWidget;

// The grid of the sixteen palette colours; marks the foreground and
// background cells.
class TColorGrid : public QWidget {
  Q_OBJECT
 public:
  explicit TColorGrid(QWidget* parent = nullptr);
  static constexpr int kColumns = 8;
  QRect CellRect(int index) const;
  void SetChoice(TColor foreground, TColor background);
  QSize sizeHint() const override;

 signals:
  void ForegroundPicked(TColor color);
  void BackgroundPicked(TColor color);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int CellAt(const QPoint& point) const;
  TColor Foreground = colors::Black;
  TColor Background = colors::White;
};

class TAttributeChooser : public QDialog {
  Q_OBJECT
 public:
  TAttributeChooser(const QString& caption, const TAttributeChoice& preset, QWidget* parent = nullptr);
  const TAttributeChoice& Choice() const { return Current; }

 private:
  void BuildSamples();
  void ShowChoice();
  TAttributeChoice Current;
  TColorGrid* Grid = nullptr;
  QCheckBox* Bold = nullptr;
  QCheckBox* Italic = nullptr;
  QCheckBox* Underline = nullptr;
  QListWidget* Samples = nullptr;
};

// 0x00BBGGRR from a colour.
TColor FromQColor(const QColor& color);

// The start-up panel: covers the client area while the program starts and
// goes at the first received data, after ten seconds, or at a click.
#pragma once

#include <QWidget>

class QLabel;

class TStartupPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TStartupPanel(QWidget* parent);

 signals:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CentreLabels();
  QLabel* MainLabel;
  QLabel* MinorLabel;
};

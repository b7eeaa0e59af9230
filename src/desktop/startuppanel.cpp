#include "desktop/startuppanel.h"

#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

TStartupPanel::TStartupPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("QelStartupPanel"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  MainLabel = new QLabel(QStringLiteral("QEL for Windows"), this);
  MainLabel->setObjectName(QStringLiteral("MainLabel"));
  QFont title = font();
  title.setPointSize(26);
  title.setBold(true);
  MainLabel->setFont(title);
  MainLabel->setStyleSheet(QStringLiteral("color: white;"));
  MinorLabel = new QLabel(QStringLiteral("Terminal, trace decoder and file transfer for exchange maintenance"), this);
  MinorLabel->setObjectName(QStringLiteral("MinorLabel"));
  QFont minor = font();
  minor.setPointSize(11);
  MinorLabel->setFont(minor);
  MinorLabel->setStyleSheet(QStringLiteral("color: #c8d8ff;"));
  for (QLabel* label : {MainLabel, MinorLabel}) {
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->adjustSize();
  }
}

void TStartupPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient sky(0, 0, 0, height());
  sky.setColorAt(0, QColor(0x10, 0x24, 0x5c));
  sky.setColorAt(1, QColor(0x04, 0x0c, 0x24));
  painter.fillRect(rect(), sky);
  // A trace line across the panel: the product's mark.
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(QColor(0x40, 0xc0, 0xff, 160), 2);
  painter.setPen(pen);
  QPainterPath trace;
  const int base = height() * 3 / 4;
  trace.moveTo(0, base);
  for (int x = 0; x <= width(); x += 24) {
    const int step = (x / 24) % 6;
    trace.lineTo(x, base - (step == 2 ? 40 : step == 3 ? -20 : 0));
  }
  painter.drawPath(trace);
}

void TStartupPanel::resizeEvent(QResizeEvent*) { CentreLabels(); }

void TStartupPanel::CentreLabels() {
  const int top = height() / 3;
  MainLabel->move((width() - MainLabel->width()) / 2, top);
  MinorLabel->move((width() - MinorLabel->width()) / 2, top + MainLabel->height() + 8);
}

void TStartupPanel::mousePressEvent(QMouseEvent*) { emit Clicked(); }
void TStartupPanel::mouseDoubleClickEvent(QMouseEvent*) { emit Clicked(); }

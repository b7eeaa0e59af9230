#include "desktop/mainwindow.h"

TMainWindow::TMainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("QEL for Windows : []"));
}

TMainWindow::~TMainWindow() = default;

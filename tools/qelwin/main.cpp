// qelwin: the desktop program.
#include <QApplication>

#include "desktop/mainwindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TMainWindow window;
  window.show();
  return app.exec();
}

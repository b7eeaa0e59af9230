// TMainWindow: the program's one main window. It owns the session, the
// line drivers and every bar and dialog, and routes window events to the
// session.
#pragma once

#include <QMainWindow>
#include <memory>

class TMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainWindow(QWidget* parent = nullptr);
  ~TMainWindow() override;
};

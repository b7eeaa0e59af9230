// TQelKeyboard: the key map dialog. A picture of a PC keyboard, and the
// group "Keyboard Map File Name" with its edit field and "Browse". It edits
// a copy of the settings; on OK the caller takes Settings().
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "core/desktop.h"
#include "core/settings.h"

class QLineEdit;
class QPushButton;

// The keyboard picture: one captioned panel per key.
class TKeyboardPicture : public QWidget {
  Q_OBJECT
 public:
  explicit TKeyboardPicture(QWidget* parent = nullptr);
  QSize sizeHint() const override;
  // A key's panel in this widget's coordinates.
  QRect PanelRect(int index) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int Unit() const;  // pixels of a quarter key
};

class TQelKeyboard : public QDialog {
  Q_OBJECT
 public:
  explicit TQelKeyboard(const TSetupRecord& settings, QWidget* parent = nullptr);

  TSetupRecord Settings() const;
  // The open dialog "Browse" shows; the Qt file dialog unless replaced (tests).
  std::function<std::optional<std::string>(const TFileDialog&)> ChooseFile;

  TKeyboardPicture* Picture;
  QLineEdit* FileNameEdit;
  QPushButton* BrowseBtn;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;

 private:
  void Browse();

  TSetupRecord Draft;
};

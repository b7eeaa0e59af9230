// TEditBox: a one-line question ("Enter Bookmark Name"): a caption, an edit
// box and OK / Cancel.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

class TEditBox : public QDialog {
  Q_OBJECT
 public:
  TEditBox(const QString& caption, const QString& text, QWidget* parent = nullptr);

  std::string Text() const;
  // Asks modally: the text on OK, nullopt when cancelled.
  static std::optional<std::string> Ask(QWidget* parent, const QString& caption, const QString& text = {});

  QLineEdit* Edit;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
};

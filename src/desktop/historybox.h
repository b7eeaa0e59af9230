// THistoryBox: the Quorix command history box. A borderless, always-on-top
// combo box over the cursor line, as wide as the screen, listing the history
// ring. Up and Down wrap round, the text is always fully selected, Enter
// confirms (or closes an open drop-down list), Esc cancels.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QComboBox;

class THistoryBox : public QDialog {
  Q_OBJECT
 public:
  THistoryBox(const std::vector<std::string>& lines, int selected, QWidget* parent = nullptr);

  std::string Text() const;
  // Asks modally, placed over area (global coordinates): the confirmed text,
  // or nullopt when cancelled. The main window sets TKeyboard::ShowHistoryBox
  // to this with the screen's cursor line.
  static std::optional<std::string> Ask(QWidget* parent, const QRect& area, const std::vector<std::string>& lines,
                                        int selected);

  QComboBox* Combo;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Step(int delta);
};

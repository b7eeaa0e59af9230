// TQelMemoForm: the memo viewer, a window of its own showing a listing or a
// converted message read-only in a fixed font, with the caret at a line.
// Shown modally it lets the user pick a line: Enter or a double click takes
// the line under the caret, Esc cancels. Its find dialog is TMemoFindDlg.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/desktop.h"

class QAction;
class QPlainTextEdit;
class QCheckBox;
class QLineEdit;
class QPrinter;
class TBrowse;
class TLogFiles;
class TMemoFindDlg;
struct TSetupRecord;

// What the viewer's Print and Paste to Disk use of the program's; without
// them (a viewer of its own, as a test makes) Print is disabled.
struct TMemoServices {
  TSetupRecord* Settings = nullptr;  // the print choices and the Log File Name
  const TLogFiles* Files = nullptr;  // files being written are never printed into
  TDesktop* Desktop = nullptr;
  QPrinter* Printer = nullptr;
  std::function<void()> PasteToDisk;  // the main window's Paste to Disk
};

class TQelMemoForm : public QDialog {
  Q_OBJECT
 public:
  explicit TQelMemoForm(QWidget* parent = nullptr);
  ~TQelMemoForm() override;

  // Title, text (CR LF, LF or CR line ends) and the caret at line and
  // column, both from 1 (clamped to the text).
  void SetMemo(const TMemoText& memo);
  void SetCursor(int line, int column = 1);
  int CursorLine() const;
  int CursorColumn() const;
  // The line the user confirmed (empty until then).
  const QString& ChosenLine() const { return Chosen; }
  QPlainTextEdit* TextView() const { return View; }

  // Shows a memo modelessly; the window frees itself when closed.
  static TQelMemoForm* ShowModeless(const TMemoText& memo, QWidget* parent,
                                    const TMemoServices& services = {});
  // Shows a memo modally; the chosen line, or nullopt when cancelled.
  static std::optional<std::string> ChooseLine(const TMemoText& memo, QWidget* parent);

  // Find with the dialog's options: kind 2 from the start (or the caret),
  // 0 the next, 1 the previous occurrence. True when found (it is marked).
  bool Find(int kind);

  void SetServices(const TMemoServices& services);
  // The viewer's lines as a buffer control, the selection as its mark (what
  // a print takes).
  std::unique_ptr<TBrowse> LinesAsStore() const;
  // File|Print after its dialog; whether anything was printed or written.
  bool PrintChosen(bool markedOnly, bool toFile);

  struct TMenuActions {
    QAction *Print, *Exit, *Copy, *PasteToDisk, *SelectAll, *Unmark, *Find, *FindForward, *FindBackward, *Help;
  };
  const TMenuActions& Actions() const { return Menu; }
  QString SearchText;
  bool CaseSensitive = false;
  bool FromStart = true;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void Print();
  void TakeCursorLine();
  void ShowFindDialog();
  void MarkCursorLine();
  void Exit();

  QPlainTextEdit* View;
  TMemoFindDlg* FindDialog = nullptr;
  QString Chosen;
  TMemoServices Services;
  TMenuActions Menu{};
};

// The viewer's search dialog ("Find Dialog").
class TMemoFindDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TMemoFindDlg(TQelMemoForm& viewer);
  void Preset();

 private:
  void Run(int kind);

  TQelMemoForm& Viewer;
  QLineEdit* Text;
  QCheckBox* CaseSensitive;
  QCheckBox* FromStart;
};

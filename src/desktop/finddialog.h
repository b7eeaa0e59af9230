// TQelFindDlg: the modeless find dialog. Its buttons store the search text
// and options where the main window finds them and post the main window's
// find request (message 1139); the main window runs the search and reports
// back (message 1140), which the caption shows.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class TDesktop;
class TScreenFind;

class TQelFindDlg : public QDialog {
  Q_OBJECT
 public:
  // finder keeps the search text and options; desktop carries the request.
  TQelFindDlg(TScreenFind& finder, TDesktop& desktop, QWidget* parent = nullptr);

  // The "&Find" command: caption "Find Dialog", the last search text and
  // options, then shown and raised.
  void Open();
  // The main window's report: fsFound, fsSearching or fsNotFound.
  void ShowFindState(int state);
  // The same, run later on the window thread as a posted message is.
  void PostFindState(int state);

  QLineEdit* FindEdt;
  QCheckBox* CaseSenseBtn;
  QCheckBox* StartSearchBtn;
  QPushButton* FindBtn;
  QPushButton* FindNextBtn;
  QPushButton* FindPreviousBtn;
  QPushButton* CancelBtn;

  // Cancel and Escape: the search-active flag is cleared and the dialog closes.
  void reject() override;

 private:
  void Request(int request);

  TScreenFind& Finder;
  TDesktop& Desktop;
};

// TQelFKeyDlg: the soft-key definition dialog. Twelve edit fields "F1" ..
// "F12" for one group of soft keys, or the single field of the answer-back
// string. It edits a copy of the settings; on OK the caller takes Settings().
#pragma once

#include <QDialog>
#include <array>

#include "core/settings.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TQelFKeyDlg : public QDialog {
  Q_OBJECT
 public:
  enum TKind { fkNormal, fkShift, fkCntrl, fkAnswerBack };

  TQelFKeyDlg(const TSetupRecord& settings, TKind kind, QWidget* parent = nullptr);

  // The settings with the dialog's texts in them (meaningful after OK).
  TSetupRecord Settings() const;
  static QString Caption(TKind kind);

  std::array<QLabel*, 12> Labels{};
  std::array<QLineEdit*, 12> Edits{};
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
  QPushButton* HelpBtn;

 signals:
  void HelpRequested();

 private:
  TShortString<255>* Fields(TSetupRecord& record) const;

  TSetupRecord Draft;
  TKind Kind;
};

// TQelPrintDialog: Qt's print dialog (printer, paper, copies; the range
// "All" or "Selection" for the marked lines) with a page of its own, "Print
// to File", whose choice writes the lines as text into the Log File Name
// instead of printing them. Preset from the settings' print choices; Choice()
// hands back what the user chose.
#pragma once

#include <QPrintDialog>
#include <string>

#include "auxwin/printcommand.h"

class QCheckBox;
class QLabel;
class QPushButton;

class TQelPrintDialog : public QPrintDialog {
  Q_OBJECT
 public:
  TQelPrintDialog(QPrinter& printer, const TPrintChoice& preset, const std::string& logFileName, QWidget* parent);

  TPrintChoice Choice() const;
  QCheckBox* ToFileBox() const { return ToFile; }
  QLabel* FileNameLabel() const { return FileName; }
  QPushButton* HelpButton() const { return Help; }

 private:
  QCheckBox* ToFile;
  QLabel* FileName;
  QPushButton* Help;
};

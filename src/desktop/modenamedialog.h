// TModeDialogBox: the mode name dialog ("Enter Mode Name") of Display Mode
// and of word and byte conversions. "Browse" lists the modes of the mode
// list file (<Mode File Name>.mnt) in the memo viewer and takes the line the
// user picks.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "core/desktop.h"

class QLineEdit;
class QPushButton;
class TErrorReporter;

class TModeDialogBox : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kListTitle = "List of available modes. Select and press 'RETURN'";
  static constexpr const char* kNoModeFile = "No Mode Name File Specified\rEnter in Setup|Files";

  // desktop beeps; errors shows the boxes.
  TModeDialogBox(TDesktop& desktop, TErrorReporter& errors, QWidget* parent = nullptr);

  // The name shown and the mode list file "Browse" reads (empty: no mode
  // file is set up).
  void SetModeName(const std::string& name);
  void SetModeListFile(const std::string& path) { ModeListFile = path; }
  std::string ModeName() const;
  bool Cancelled() const { return WasCancelled; }

  // How the list is shown for choosing: modally in the memo viewer unless a
  // test replaces it. Returns the chosen line, nullopt when cancelled.
  std::function<std::optional<std::string>(const TMemoText&)> ChooseFromList;

  void Browse();

  // The whole question, for TQtDesktop::OnAskModeName: the edit text on OK,
  // nullopt on Cancel.
  static std::optional<std::string> Ask(TDesktop& desktop, TErrorReporter& errors, QWidget* parent,
                                        const std::string& lastName, const std::string& modeListFile);

  // The same dialog left open beside the window (the toolbar's "DM"): onOk
  // gets the edit text each time OK is pressed. Frees itself when closed.
  static TModeDialogBox* OpenModeless(TDesktop& desktop, TErrorReporter& errors, QWidget* parent,
                                      const std::string& lastName, const std::string& modeListFile,
                                      std::function<void(const std::string&)> onOk);


  QLineEdit* NameEdit() const { return Name; }
  QPushButton* BrowseButton() const { return BrowseBtn; }

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  TDesktop& Desktop;
  TErrorReporter& Errors;
  std::string ModeListFile;
  QLineEdit* Name;
  QPushButton* BrowseBtn;
  bool WasCancelled = false;
};

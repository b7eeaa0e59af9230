// TReceiveDialog: "Receive File Parameters", shown by "Receive &Ascii" and
// "Receive &Binary". It edits a copy of the receive parameters and hands
// them back on OK; "Browse" picks the file through the desktop's save dialog.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "core/desktop.h"
#include "transfer/receive.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class TReceiveDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Receive File Parameters";
  static constexpr const char* kBrowseTitle = "Save To File";

  // ascii: the two receive options can be chosen; a binary receive shows
  // them off and disabled.
  TReceiveDialog(TDesktop& desktop, bool ascii, const TReceiveParameters& preset, QWidget* parent = nullptr);

  TReceiveParameters Parameters() const;

  // The whole question, for TFileReceive::AskParameters: nullopt on Cancel.
  static std::optional<TReceiveParameters> Ask(TDesktop& desktop, QWidget* parent, bool ascii,
                                               const TReceiveParameters& preset);

  void Browse();

  QLineEdit* NameEdit() const { return Name; }
  QCheckBox* CtrlZBox() const { return CtrlZ; }
  QCheckBox* SuppressBox() const { return Suppress; }
  QPushButton* BrowseButton() const { return BrowseBtn; }

 private:
  TDesktop& Desktop;
  QLineEdit* Name;
  QPushButton* BrowseBtn;
  QCheckBox* CtrlZ;
  QCheckBox* Suppress;
};

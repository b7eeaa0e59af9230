// TQtDesktop: the desktop seam on Qt Widgets. Boxes are QMessageBoxes, file
// dialogs QFileDialogs, the clipboard QClipboard; posted messages and waits
// come from the headless desktop it extends. Every modal question raises the
// session's DialogShowing while it is up, so received data waits under it.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>

#include "app/coredesktop.h"

class QWidget;
class QProgressDialog;
class TErrorReporter;

class TQtDesktop : public TCoreDesktop {
 public:
  TQtDesktop();
  ~TQtDesktop() override;

  // The caption of boxes that name none. Kept here, not as Qt's display
  // name, which the window system would append to every window's title.
  QString ApplicationTitle = QStringLiteral("QEL for Windows");
  // The parent of boxes and dialogs; may be null.
  QWidget* Window = nullptr;
  // Raised while a modal question is up; may be null.
  TErrorReporter* Reporter = nullptr;
  // The memo viewer and the mode name dialog live in windows of their own.
  std::function<void(const TMemoText&)> OnShowMemo;
  std::function<std::optional<std::string>(const std::string&, const std::string&)> OnAskModeName;
  // Answers the file dialogs in the window's place (scripted runs); unset,
  // the dialog is shown.
  std::function<std::optional<std::string>(const TFileDialog&)> OnFileDialog;
  std::function<std::optional<std::string>(const std::string&, const std::string&, bool)> OnAskSecret;

  TMsgResult ShowMessage(const TMessageBox& box) override;
  std::optional<std::string> FileDialog(const TFileDialog& dialog) override;
  void Beep() override;
  std::optional<std::string> ClipboardText() override;
  void SetClipboardText(const std::string& text) override;
  void BeginProgress(const std::string& caption, std::int64_t maximum) override;
  bool Progress(std::int64_t position) override;
  void EndProgress() override;
  void ShowMemo(const TMemoText& memo) override;
  std::optional<std::string> AskModeName(const std::string& lastName, const std::string& modeListFile) override;
  // A password box (QInputDialog), or OnAskSecret when set (tests).
  std::optional<std::string> AskSecret(const std::string& caption, const std::string& prompt, bool echo) override;

  // Runs a modal step (a dialog's exec) with DialogShowing raised.
  template <typename TStep>
  auto Modal(TStep step) {
    TModalGuard guard(Reporter);
    return step();
  }

  // "Desc|*.A;*.B|Other|*.*" -> "Desc (*.A *.B);;Other (*)", patterns in
  // both cases since names from Windows come in either.
  static QString QtFilter(const std::string& filter);

 private:
  struct TModalGuard {
    TErrorReporter* R;
    explicit TModalGuard(TErrorReporter* r);
    ~TModalGuard();
  };
  QPointer<QProgressDialog> ProgressWindow;
  std::int64_t ProgressMax = 0;
};

#include "desktop/qtdesktop.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStringList>

#include "desktop/helpwindow.h"
#include "log/errors.h"

TQtDesktop::TModalGuard::TModalGuard(TErrorReporter* r) : R(r) {
  if (R) R->BeginModal();
}

TQtDesktop::TModalGuard::~TModalGuard() {
  if (R) R->EndModal();
}

TQtDesktop::TQtDesktop() {
  // A window's event pass (X events, paints) costs more than a headless one:
  // every 4 ms keeps the window responsive and a flood flowing.
  PumpIntervalUs = 4000;
}
TQtDesktop::~TQtDesktop() { delete ProgressWindow.data(); }

namespace {
QMessageBox::Icon IconOf(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Error: return QMessageBox::Critical;
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Confirmation: return QMessageBox::Question;
    case TMsgIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

struct TButtonKind {
  unsigned Flag;
  QMessageBox::StandardButton Button;
  TMsgResult Result;
};

// In the order the boxes show them.
const TButtonKind kButtons[] = {
    {mbYes, QMessageBox::Yes, TMsgResult::Yes},       {mbNo, QMessageBox::No, TMsgResult::No},
    {mbOK, QMessageBox::Ok, TMsgResult::OK},          {mbAbort, QMessageBox::Abort, TMsgResult::Abort},
    {mbRetry, QMessageBox::Retry, TMsgResult::Retry}, {mbIgnore, QMessageBox::Ignore, TMsgResult::Ignore},
    {mbCancel, QMessageBox::Cancel, TMsgResult::Cancel}, {mbHelp, QMessageBox::Help, TMsgResult::None},
};

// Box texts use CR, LF or both as line breaks.
QString BoxText(const std::string& text) {
  QString out = QString::fromLatin1(text.data(), static_cast<int>(text.size()));
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  out.replace(QLatin1String("\n\r"), QLatin1String("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return out;
}
}  // namespace

TMsgResult TQtDesktop::ShowMessage(const TMessageBox& box) {
  QMessageBox message(Window);
  message.setIcon(IconOf(box.Icon));
  message.setWindowTitle(box.Caption.empty() ? ApplicationTitle
                                             : QString::fromLatin1(box.Caption.c_str()));
  message.setText(BoxText(box.Text));
  QMessageBox::StandardButtons buttons;
  for (const TButtonKind& kind : kButtons) {
    if (box.Buttons & kind.Flag) buttons |= kind.Button;
  }
  if (!buttons) buttons = QMessageBox::Ok;
  message.setStandardButtons(buttons);
  if ((box.Buttons & mbDefaultNo) && (box.Buttons & mbNo)) message.setDefaultButton(QMessageBox::No);
  const QString topic = HelpTopicOf(box);
  if (QAbstractButton* help = message.button(QMessageBox::Help)) {
    // The manual is not a reply: the box stays up while it is read.
    help->disconnect();
    QObject::connect(help, &QAbstractButton::clicked, &message, [&message, topic] { ShowHelpTopic(&message, topic); });
  }
  const int pressed = Modal([&] { return message.exec(); });
  // A manual opened from the box stays open when the box has gone.
  if (Window && HelpWindowOf(&message)) ShowHelpTopic(Window, topic);
  for (const TButtonKind& kind : kButtons) {
    if (pressed == kind.Button) return kind.Result;
  }
  return TMsgResult::None;
}

QString TQtDesktop::QtFilter(const std::string& filter) {
  const QStringList parts = QString::fromLatin1(filter.c_str()).split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (QString pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      pattern = pattern.trimmed();
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
      patterns << pattern;
      if (pattern.toLower() != pattern) patterns << pattern.toLower();
    }
    QString description = parts[i].trimmed();
    const int paren = description.indexOf(QLatin1Char('('));
    if (paren > 0) description = description.left(paren).trimmed();
    out << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return out.join(QStringLiteral(";;"));
}

std::optional<std::string> TQtDesktop::FileDialog(const TFileDialog& dialog) {
  if (OnFileDialog) return OnFileDialog(dialog);
  QFileDialog chooser(Window, QString::fromLatin1(dialog.Title.c_str()));
  chooser.setAcceptMode(dialog.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  chooser.setFileMode(dialog.Save || !dialog.MustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!dialog.Filter.empty()) chooser.setNameFilter(QtFilter(dialog.Filter));
  if (!dialog.DefaultExtension.empty()) chooser.setDefaultSuffix(QString::fromLatin1(dialog.DefaultExtension.c_str()));
  if (!dialog.OverwritePrompt) chooser.setOption(QFileDialog::DontConfirmOverwrite);
  const QString initial = QString::fromLocal8Bit(dialog.InitialName.c_str());
  QString directory = QString::fromLocal8Bit(dialog.InitialDirectory.c_str());
  if (directory.isEmpty() && !initial.isEmpty()) directory = QFileInfo(initial).absolutePath();
  if (!directory.isEmpty()) chooser.setDirectory(directory);
  if (!initial.isEmpty()) chooser.selectFile(QFileInfo(initial).fileName());
  if (Modal([&] { return chooser.exec(); }) != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = chooser.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first().toLocal8Bit().toStdString();
}

void TQtDesktop::Beep() { QApplication::beep(); }

std::optional<std::string> TQtDesktop::ClipboardText() {
  const QString text = QApplication::clipboard()->text();
  if (text.isEmpty()) return std::nullopt;
  return text.toLatin1().toStdString();
}

void TQtDesktop::SetClipboardText(const std::string& text) {
  QApplication::clipboard()->setText(QString::fromLatin1(text.data(), static_cast<int>(text.size())));
}

void TQtDesktop::BeginProgress(const std::string& caption, std::int64_t maximum) {
  delete ProgressWindow.data();
  ProgressMax = maximum > 0 ? maximum : 1;
  ProgressWindow = new QProgressDialog(QString::fromLatin1(caption.c_str()), QStringLiteral("Cancel"), 0, 1000, Window);
  ProgressWindow->setWindowTitle(QString::fromLatin1(caption.c_str()));
  ProgressWindow->setWindowModality(Qt::WindowModal);
  ProgressWindow->setMinimumDuration(300);
  ProgressWindow->setValue(0);
}

bool TQtDesktop::Progress(std::int64_t position) {
  if (!ProgressWindow) return true;
  ProgressWindow->setValue(static_cast<int>(position * 1000 / ProgressMax));
  return !ProgressWindow->wasCanceled();
}

void TQtDesktop::EndProgress() {
  delete ProgressWindow.data();
  ProgressWindow = nullptr;
}

void TQtDesktop::ShowMemo(const TMemoText& memo) {
  if (OnShowMemo) OnShowMemo(memo);
}

std::optional<std::string> TQtDesktop::AskModeName(const std::string& lastName, const std::string& modeListFile) {
  if (!OnAskModeName) return std::nullopt;
  return Modal([&] { return OnAskModeName(lastName, modeListFile); });
}

std::optional<std::string> TQtDesktop::AskSecret(const std::string& caption, const std::string& prompt, bool echo) {
  if (OnAskSecret) return Modal([&] { return OnAskSecret(caption, prompt, echo); });
  bool ok = false;
  const QString answer = Modal([&] {
    return QInputDialog::getText(Window, QString::fromStdString(caption), QString::fromStdString(prompt),
                                 echo ? QLineEdit::Normal : QLineEdit::Password, QString(), &ok);
  });
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

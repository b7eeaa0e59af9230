#include "desktop/modenamedialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <string>

#include "core/text.h"
#include "desktop/helpwindow.h"
#include "desktop/memoviewer.h"
#include "log/errors.h"
#include "log/file.h"

TModeDialogBox::TModeDialogBox(TDesktop& desktop, TErrorReporter& errors, QWidget* parent)
    : QDialog(parent), Desktop(desktop), Errors(errors) {
  setObjectName(QStringLiteral("ModeDialogBox"));
  setWindowTitle(QStringLiteral("Display Mode"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* group = new QGroupBox(QStringLiteral("Enter Mode Name"), this);
  Name = new QLineEdit(group);
  Name->setObjectName(QStringLiteral("ModeNameEdt"));
  Name->setMaxLength(80);
  Name->setMinimumWidth(Name->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 24);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(Name);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  buttons->addButton(QDialogButtonBox::Cancel);
  QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
  BrowseBtn = buttons->addButton(QStringLiteral("Browse"), QDialogButtonBox::ActionRole);
  BrowseBtn->setObjectName(QStringLiteral("BrowseBtn"));
  BrowseBtn->setAutoDefault(false);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { ShowHelpTopic(this, QString::fromLatin1(help::kModes)); });
  connect(BrowseBtn, &QPushButton::clicked, this, &TModeDialogBox::Browse);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);

  ChooseFromList = [this](const TMemoText& memo) { return TQelMemoForm::ChooseLine(memo, this); };
}

void TModeDialogBox::SetModeName(const std::string& name) {
  Name->setText(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

std::string TModeDialogBox::ModeName() const { return Name->text().toLatin1().toStdString(); }

void TModeDialogBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the screen, not on the window, with the name ready to type over.
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  Name->selectAll();
  Name->setFocus();
}

void TModeDialogBox::reject() {
  WasCancelled = true;
  Name->clear();
  QDialog::reject();
}

void TModeDialogBox::Browse() {
  if (ModeListFile.empty()) {
    Desktop.Beep();
    Errors.ReportError(ekMessage, 0, kNoModeFile);
    return;
  }
  BrowseBtn->setEnabled(false);
  // A mode list is a few thousand names; a wrong file must not take the memory.
  constexpr std::size_t kListLimit = std::size_t(16) << 20;
  std::string text;
  if (const int error = ReadWholeFile(ModeListFile, kListLimit, text); error != 0) {
    Errors.ReportErrno(ekFileAccess, error, ModeListFile);
    BrowseBtn->setEnabled(true);
    return;
  }
  TMemoText list;
  list.Title = kListTitle;
  list.Text = std::move(text);
  const std::optional<std::string> chosen = ChooseFromList ? ChooseFromList(list) : std::nullopt;
  if (chosen) {
    const std::string_view trimmed = TrimBlanks(*chosen);
    Name->setText(QString::fromLatin1(trimmed.data(), static_cast<qsizetype>(trimmed.size())));
  }
  BrowseBtn->setEnabled(true);
}

std::optional<std::string> TModeDialogBox::Ask(TDesktop& desktop, TErrorReporter& errors, QWidget* parent,
                                               const std::string& lastName, const std::string& modeListFile) {
  TModeDialogBox dialog(desktop, errors, parent);
  dialog.SetModeName(lastName);
  dialog.SetModeListFile(modeListFile);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.ModeName();
}

TModeDialogBox* TModeDialogBox::OpenModeless(TDesktop& desktop, TErrorReporter& errors, QWidget* parent,
                                             const std::string& lastName, const std::string& modeListFile,
                                             std::function<void(const std::string&)> onOk) {
  auto* dialog = new TModeDialogBox(desktop, errors, parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->SetModeName(lastName);
  dialog->SetModeListFile(modeListFile);
  connect(dialog, &QDialog::accepted, dialog, [dialog, onOk = std::move(onOk)] {
    if (onOk) onOk(dialog->ModeName());
  });
  dialog->show();
  return dialog;
}

#include "desktop/finddialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/desktop.h"
#include "screen/screenfind.h"

TQelFindDlg::TQelFindDlg(TScreenFind& finder, TDesktop& desktop, QWidget* parent)
    : QDialog(parent), Finder(finder), Desktop(desktop) {
  setWindowTitle(QStringLiteral("Find Dialog"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setModal(false);

  FindEdt = new QLineEdit(this);
  FindEdt->setObjectName(QStringLiteral("FindEdt"));
  FindEdt->setMinimumWidth(260);
  CaseSenseBtn = new QCheckBox(QStringLiteral("Case sensitive"), this);
  CaseSenseBtn->setObjectName(QStringLiteral("CaseSenseBtn"));
  StartSearchBtn = new QCheckBox(QStringLiteral("Seach from start text"), this);
  StartSearchBtn->setObjectName(QStringLiteral("StartSearchBtn"));
  FindBtn = new QPushButton(QStringLiteral("Find"), this);
  FindBtn->setObjectName(QStringLiteral("FindBtn"));
  FindBtn->setDefault(true);
  FindNextBtn = new QPushButton(QStringLiteral("Find Next"), this);
  FindNextBtn->setObjectName(QStringLiteral("FindNextBtn"));
  FindPreviousBtn = new QPushButton(QStringLiteral("Find Previous"), this);
  FindPreviousBtn->setObjectName(QStringLiteral("FindPreviousBtn"));
  CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  for (QPushButton* button : {FindNextBtn, FindPreviousBtn, CancelBtn}) button->setAutoDefault(false);

  auto* options = new QVBoxLayout;
  options->addWidget(FindEdt);
  options->addWidget(CaseSenseBtn);
  options->addWidget(StartSearchBtn);
  options->addStretch();
  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {FindBtn, FindNextBtn, FindPreviousBtn, CancelBtn}) buttons->addWidget(button);
  buttons->addStretch();
  auto* layout = new QGridLayout(this);
  layout->addLayout(options, 0, 0);
  layout->addLayout(buttons, 0, 1);
  // A dialog border: the user does not resize it.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(FindBtn, &QPushButton::clicked, this, [this] { Request(frFind); });
  connect(FindNextBtn, &QPushButton::clicked, this, [this] { Request(frFindNext); });
  connect(FindPreviousBtn, &QPushButton::clicked, this, [this] { Request(frFindPrevious); });
  connect(CancelBtn, &QPushButton::clicked, this, &TQelFindDlg::reject);
}

void TQelFindDlg::Open() {
  setWindowTitle(QStringLiteral("Find Dialog"));
  FindEdt->setText(QString::fromLatin1(Finder.SearchText.data(), static_cast<qsizetype>(Finder.SearchText.size())));
  FindEdt->selectAll();
  CaseSenseBtn->setChecked(Finder.SearchCaseSensitive);
  StartSearchBtn->setChecked(!Finder.SearchFromCursor);
  show();
  raise();
  activateWindow();
  FindEdt->setFocus();
}

void TQelFindDlg::Request(int request) {
  // The store holds bytes: one character is one byte.
  const QByteArray text = FindEdt->text().trimmed().toLatin1();
  Finder.SearchText.assign(text.constData(), static_cast<std::size_t>(text.size()));
  Finder.SearchFromCursor = !StartSearchBtn->isChecked();
  Finder.SearchCaseSensitive = CaseSenseBtn->isChecked();
  setWindowTitle(QString::fromStdString(FindDialogCaption(fsSearching)));
  Desktop.PostMessage(wmFindRequest, request, 0);
}

void TQelFindDlg::ShowFindState(int state) {
  setWindowTitle(QString::fromStdString(FindDialogCaption(state)));
}

void TQelFindDlg::PostFindState(int state) {
  // The dialog may be gone by the time the report arrives.
  QMetaObject::invokeMethod(this, [self = QPointer<TQelFindDlg>(this), state] {
    if (self) self->ShowFindState(state);
  }, Qt::QueuedConnection);
}

void TQelFindDlg::reject() {
  Finder.Busy = false;
  QDialog::reject();
}

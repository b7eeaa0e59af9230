#include "desktop/modemtoolbar.h"

#include <QAction>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

#include "app/modemdial.h"
#include "desktop/bytetext.h"

namespace {
// A telephone handset, lifted (dial) or laid down (hang up).
QIcon HandsetIcon(const QColor& colour, qreal angle) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(12, 12);
  painter.rotate(angle);
  QPainterPath handset;
  handset.moveTo(-9, 3);
  handset.cubicTo(-9, -6, 9, -6, 9, 3);
  painter.setPen(QPen(colour, 3.2, Qt::SolidLine, Qt::RoundCap));
  painter.drawPath(handset);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawRoundedRect(QRectF(-11, 1, 6, 5), 1.5, 1.5);
  painter.drawRoundedRect(QRectF(5, 1, 6, 5), 1.5, 1.5);
  return QIcon(pixmap);
}

QLineEdit* ModemEdit(QWidget* parent, const char* name, const char* hint, int length, int shownCharacters) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setToolTip(QLatin1String(hint));
  edit->setAccessibleName(QLatin1String(hint));
  // The settings hold no more than this.
  edit->setMaxLength(length);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * shownCharacters + 12);
  return edit;
}
}  // namespace

void TDialListBox::showPopup() {
  emit DroppingDown();
  QComboBox::showPopup();
}

TModemToolbar::TModemToolbar(TModem& modem, QWidget* parent)
    : QToolBar(QStringLiteral("Modem Toolbar"), parent), Modem(modem) {
  setObjectName(QStringLiteral("ModemToolbar"));
  Dial = addAction(HandsetIcon(QColor(0, 128, 0), -20), QStringLiteral("Dial"));
  Dial->setObjectName(QStringLiteral("DBSDial"));
  Dial->setToolTip(QStringLiteral("Start Dialling"));
  HangUp = addAction(HandsetIcon(QColor(192, 0, 0), 180), QStringLiteral("Hang Up"));
  HangUp->setObjectName(QStringLiteral("DBSHangUp"));
  HangUp->setToolTip(QStringLiteral("Hang Up"));
  Init = addAction(QStringLiteral("I"));
  Init->setObjectName(QStringLiteral("DBSInitModem"));
  Init->setToolTip(QStringLiteral("Send Init Modem String"));
  addSeparator();

  Numbers = new TDialListBox(this);
  Numbers->setObjectName(QStringLiteral("DialListBox"));
  Numbers->setEditable(true);
  Numbers->setInsertPolicy(QComboBox::NoInsert);
  Numbers->setToolTip(QStringLiteral("Select a telephone number"));
  Numbers->setAccessibleName(QStringLiteral("Select a telephone number"));
  Numbers->lineEdit()->setMaxLength(32);
  Numbers->setMinimumContentsLength(18);
  addWidget(Numbers);
  DialString = ModemEdit(this, "DialStringEdt", "Dial String", 32, 12);
  HangUpString = ModemEdit(this, "HangUpStringEdt", "Hangup String", 32, 24);
  InitString = ModemEdit(this, "InitModemStringEdt", "Init Modem String", 80, 18);
  addWidget(DialString);
  addWidget(HangUpString);
  addWidget(InitString);

  connect(Dial, &QAction::triggered, this, [this] { Modem.DBSDialClick(); });
  connect(HangUp, &QAction::triggered, this, [this] { Modem.DBSHangUpClick(); });
  connect(Init, &QAction::triggered, this, [this] { Modem.DBSInitModemClick(); });
  // Only what the user types is stored: a number put in the box by a choice
  // from the list is the modem logic's own.
  connect(Numbers->lineEdit(), &QLineEdit::textEdited, this,
          [this](const QString& text) { Modem.DialListBoxChange(ToBytes(text)); });
  connect(Numbers, &TDialListBox::DroppingDown, this, [this] {
    Modem.DialListBoxDropDown();
    ShowList();
  });
  connect(Numbers, &QComboBox::activated, this, [this](int index) {
    if (index < 0) return;
    Modem.DialListBoxSelect(static_cast<std::size_t>(index));
    Numbers->setEditText(FromBytes(Modem.DialBoxText));
  });
  connect(DialString, &QLineEdit::textEdited, this,
          [this](const QString& text) { Modem.DialStringEdtChange(ToBytes(text)); });
  connect(HangUpString, &QLineEdit::textEdited, this,
          [this](const QString& text) { Modem.HangUpStringEdtChange(ToBytes(text)); });
  connect(InitString, &QLineEdit::textEdited, this,
          [this](const QString& text) { Modem.InitModemStringEdtChange(ToBytes(text)); });
}

void TModemToolbar::ShowList() {
  const QString text = Numbers->currentText();
  const QSignalBlocker quiet(Numbers);
  Numbers->clear();
  for (const std::string& entry : Modem.DialList) Numbers->addItem(FromBytes(entry));
  // Filling the list must not replace the number being typed.
  Numbers->setCurrentIndex(-1);
  Numbers->setEditText(text);
}

void TModemToolbar::SetToolbarVisible(bool visible) {
  setVisible(visible);
  Modem.ToolbarVisibilityChanged(visible);
  ShowList();
}

void TModemToolbar::ShowSettings() {
  Modem.ShowSettings();
  Numbers->setEditText(FromBytes(Modem.DialBoxText));
  DialString->setText(FromBytes(Modem.DialStringEdt));
  HangUpString->setText(FromBytes(Modem.HangUpStringEdt));
  InitString->setText(FromBytes(Modem.InitModemStringEdt));
  // Strings longer than their edit show from their start.
  for (QLineEdit* edit : {DialString, HangUpString, InitString}) edit->setCursorPosition(0);
}

// TModemToolbar: the modem toolbar. Dial, hang-up and "I" (init) send the
// modem strings through the soft-key sender; the number box offers the dial
// list "QELWIN.TEL", read afresh each time it drops down; the three edits
// write the dial, hang-up and init strings into the settings as they change.
// Everything it does is TModem's; this is the face of it.
#pragma once

#include <QComboBox>
#include <QToolBar>

class QAction;
class QLineEdit;
class TModem;

// The number box: its list is read when it opens.
class TDialListBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TDialListBox(QWidget* parent = nullptr) : QComboBox(parent) {}
  void showPopup() override;
 signals:
  void DroppingDown();
};

class TModemToolbar : public QToolBar {
  Q_OBJECT
 public:
  explicit TModemToolbar(TModem& modem, QWidget* parent = nullptr);

  // The Window menu's "M&odem Toolbar": shows or hides the bar; showing offers
  // the placeholder entries, hiding empties the list.
  void SetToolbarVisible(bool visible);
  // The box and the edits show the settings (start-up, a settings file opened).
  void ShowSettings();

  QAction* DialAction() const { return Dial; }
  QAction* HangUpAction() const { return HangUp; }
  QAction* InitAction() const { return Init; }
  TDialListBox* DialListBox() const { return Numbers; }
  QLineEdit* DialStringEdit() const { return DialString; }
  QLineEdit* HangUpStringEdit() const { return HangUpString; }
  QLineEdit* InitModemStringEdit() const { return InitString; }

 private:
  void ShowList();

  TModem& Modem;
  QAction* Dial;
  QAction* HangUp;
  QAction* Init;
  TDialListBox* Numbers;
  QLineEdit* DialString;
  QLineEdit* HangUpString;
  QLineEdit* InitString;
};

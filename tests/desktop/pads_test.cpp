// The PADS window offscreen: its captions and controls, Browse through the
// desktop's file dialog, the list following the protocol, the buttons
// building commands, and closing at once when no capture runs.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "desktop/padswindow.h"
#include "guitesting.h"
#include "support/testing.h"
#include "transfer/engine.h"
#include "transfer/padssession.h"

namespace {

std::string Received(TSession& session, const std::string& bytes) {
  session.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return bytes;
}

std::string LinkAnswer() {
  std::string data;
  pads::Put16(data, 2);
  pads::Put16(data, 64);
  pads::Put16(data, 64);
  return pads::BuildFrame(pads::ftLink, 0, data, false);
}

}  // namespace

class TPadsWindowTest : public QObject {
  Q_OBJECT

 private:
  struct TSetup {
    TTestSession T;
    TRecordingSerialLine Line;
    TSetup() {
      T.S->Transmit->Serial = &Line;
      T.S->Transmit->SerialConnected = true;
      T.S->Settings.PadsDelay = 0;
    }
    // The window linked: the scripted clock passes the first second, the
    // exchange acknowledges the header and answers the link.
    void Link(TPadsWindow& window) {
      pads::StartCapture(*T.S);
      QVERIFY(Exposed(window));
      T.Desktop.Ticks += 1000;
      window.Pads().Pump();
      QCOMPARE(Line.Sent.size(), std::size_t{4});
      Received(*T.S, "\x06");
      window.Pads().Pump();
      Received(*T.S, LinkAnswer());
      QTRY_COMPARE(window.Pads().Protocol().State, int{pads::psActive});
    }
  };

 private slots:
  void CaptionsControlsBrowseAndAWrongCommand() {
    TSetup setup;
    TPadsWindow window(*setup.T.S);
    setup.Link(window);
    QCOMPARE(window.windowTitle(), QString("PADS communication"));
    QCOMPARE(MissingTexts(window, {"Status", "Local File Name", "Commands", "Device ID", "File ID", "Deallocate",
                                   "Browse", "Read", "Write"}),
             QStringList());
    QCOMPARE(window.StatusLabel->text(), QString("Status : Active"));
    QCOMPARE(window.List->item(window.List->count() - 1)->text(), QString("Waiting for input"));
    QVERIFY(window.Read->isEnabled());
    Shot(window, "pads_window.png");

    // Browse asks for the file with its filter.
    setup.T.Desktop.DialogAnswers.push_back(std::string("/data/UP.PLS"));
    QTest::mouseClick(window.Browse, Qt::LeftButton);
    QCOMPARE(setup.T.Desktop.Dialogs.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(setup.T.Desktop.Dialogs[0].Title), QString("Open File"));
    QCOMPARE(QString::fromStdString(setup.T.Desktop.Dialogs[0].Filter),
             QString("GLS/HOT/PLS/DUF Files (*.GLS,*.HOT,*.PLS,*.DUF)|*.GLS;*.HOT;*.PLS;*.DUF|TXT Files    "
                     "(*.TXT)|*.TXT|All File Types(*.*)|*.*"));
    QCOMPARE(window.LocalName->text(), QString("/data/UP.PLS"));
    // A wrong command is listed; no button takes its Enter.
    window.Commands->setText("rea 1 2");
    QTest::keyClick(window.Commands, Qt::Key_Return);
    QCOMPARE(window.List->item(window.List->count() - 1)->text(), QString("?? Wrong logical device id /1 2/"));
    QVERIFY(window.Commands->text().isEmpty());
    QCOMPARE(window.List->findItems("?? Wrong logical device id //", Qt::MatchExactly).size(), 0);  // no button took the Enter
  }

  void ButtonsBuildCommandsAndControlsWaitWhileTheyRun() {
    TSetup setup;
    TPadsWindow window(*setup.T.S);
    setup.Link(window);
    window.DeviceId->setText("0AH");
    window.FileId->setText("12");
    setup.Line.Sent.clear();
    QTest::mouseClick(window.Deallocate, Qt::LeftButton);
    // The file description request for device 10, file 12 is under way.
    QCOMPARE(setup.Line.Sent, std::string("\x02\x06\x0e\x00", 4));
    QVERIFY(!window.Read->isEnabled());
    QVERIFY(!window.Commands->isEnabled());
    QCOMPARE(window.List->item(window.List->count() - 1)->text(), QString("Waiting for input"));
  }

  void ClosesAtOnceWithoutACapture() {
    TSetup setup;
    TPadsWindow window(*setup.T.S);
    window.show();
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(setup.Line.Sent.empty());
  }
};

QTEST_MAIN(TPadsWindowTest)
#include "pads_test.moc"

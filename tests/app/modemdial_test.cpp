// Modem dialling: the three strings played out by the soft-key sender at its
// pace, the refusal without a serial port, the edits and the dial list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/modemdial.h"
#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/settings.h"
#include "log/errors.h"
#include "support/shown.h"
#include "support/testing.h"
#include "transfer/engine.h"

namespace {

struct TModemFixture {
  TTestSession T;
  TSession& S = *T.S;
  TRecordingSerialLine Serial;
  TModem Modem{ModemContext(S)};
  TModemFixture() {
    S.StartUp();
    S.Transmit->Serial = &Serial;
    S.Transmit->SerialConnected = true;
  }
  // One tick of the main window's 100-ms timer.
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) S.TimerTick();
  }
  bool Sending() const { return (S.Transfer->Activities & acSoftKey) != 0; }
};

// The pauses and the echo wait are the soft-key sender's (its own tests time them).
TEST(Modem, HangUpPlaysTheDefaultStringThroughTheSoftKeySender) {
  TModemFixture f;
  f.Modem.DBSHangUpClick();
  EXPECT_EQ(f.Modem.ModemString, "<P:20>+++<P:20>ATH<CR>");
  f.Tick(20);
  EXPECT_EQ(f.Serial.Sent, "");
  f.Tick(30);
  EXPECT_EQ(f.Serial.Sent, "+++ATH\r\n");  // New Line is on by default
  EXPECT_FALSE(f.Sending());
}

TEST(Modem, DialSendsTheDialStringTheNumberAndACarriageReturn) {
  TModemFixture f;
  f.Modem.DialListBoxChange("5551234");
  f.Modem.DBSDialClick();
  f.Tick();
  EXPECT_EQ(f.Serial.Sent, "ATDP 9,5551234\r\n");
  EXPECT_FALSE(f.Sending());

  f.Serial.Sent.clear();
  f.S.Settings.NewLine = 0;
  f.Modem.DialStringEdtChange("ATDT");
  f.Modem.DBSDialClick();
  f.Tick();
  EXPECT_EQ(f.Serial.Sent, "ATDT5551234\r");
}

TEST(Modem, EveryButtonIsRefusedWithoutAnOpenSerialPort) {
  TModemFixture f;
  f.S.Transmit->SerialConnected = false;
  f.S.Transmit->NetworkConnected = true;  // a network session does not count
  f.Modem.DBSDialClick();
  f.Modem.DBSHangUpClick();
  f.Modem.DBSInitModemClick();
  EXPECT_EQ(BoxesShown(f.T.Desktop), std::vector<TBoxShown>(3, {"No Comport connected", mbOK, TMsgIcon::Error}));
  EXPECT_FALSE(f.Sending());
  EXPECT_EQ(f.Modem.ModemString, "");
}

TEST(Modem, TheToolbarShowsTheSettingsAndItsEditsGoBackCutToTheirFields) {
  TModemFixture f;
  f.S.Settings.DialNumber.assign("0815");
  f.Modem.ShowSettings();
  EXPECT_EQ((std::vector<std::string>{f.Modem.DialBoxText, f.Modem.DialStringEdt, f.Modem.HangUpStringEdt,
                                       f.Modem.InitModemStringEdt}),
            (std::vector<std::string>{"0815", "ATDP 9,", "<P:20>+++<P:20>ATH<CR>", ""}));

  const std::string long40(40, '9');
  f.Modem.DialStringEdtChange(long40);
  f.Modem.HangUpStringEdtChange(long40);
  f.Modem.DialListBoxChange(long40);
  f.Modem.InitModemStringEdtChange(std::string(90, 'I'));
  const TSetupRecord& r = f.S.Settings;
  EXPECT_EQ((std::vector{r.DialString.str(), r.HangUpString.str(), r.DialNumber.str(), r.InitModemString.str()}),
            (std::vector{std::string(32, '9'), std::string(32, '9'), std::string(32, '9'), std::string(80, 'I')}));
}

TEST(Modem, ChoosingADialListEntryTakesTheNumberAfterTheFirstEquals) {
  TModemFixture f;
  // The file as it was written on Windows, found whatever the case of its name.
  WriteFileBytes(f.T.Dir.file("qelwin.tel"),
                 "Office= 0221 4711  \r\nLab=a=b\r\nNo number here\r\nEmpty=\r\n");
  f.Modem.ToolbarVisibilityChanged(true);
  f.Modem.DialListBoxDropDown();
  EXPECT_EQ(f.Modem.DialList,
            (std::vector<std::string>{"Office= 0221 4711  ", "Lab=a=b", "No number here", "Empty="}));

  f.Modem.DialListBoxSelect(0);
  EXPECT_EQ(f.S.Settings.DialNumber.str(), "0221 4711");
  EXPECT_EQ(f.Modem.DialBoxText, "0221 4711");
  f.Modem.DialListBoxSelect(1);
  EXPECT_EQ(f.S.Settings.DialNumber.str(), "a=b");
  f.Modem.DialListBoxSelect(2);  // no "=": the number stays
  EXPECT_EQ(f.S.Settings.DialNumber.str(), "a=b");
  f.Modem.DialListBoxSelect(3);
  EXPECT_EQ(f.S.Settings.DialNumber.str(), "");
}

TEST(Modem, AMissingDialListIsReportedAndLeavesTheListEmpty) {
  TModemFixture f;
  f.Modem.ToolbarVisibilityChanged(true);
  f.Modem.DialListBoxDropDown();
  EXPECT_TRUE(f.Modem.DialList.empty());
  ASSERT_EQ(f.T.Desktop.Boxes.size(), 1u);
  const std::string expected =
      "File access error. File = " + f.S.ProgramDirectory + "QELWIN.TEL\rError = The system cannot find the file specified.";
  EXPECT_EQ(f.T.Desktop.Boxes[0].Box.Text.substr(0, expected.size()), expected);
}

}  // namespace

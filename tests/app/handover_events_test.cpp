// The connection events of the main window: flags, the Connect and
// Disconnect controls, and the boxes the user sees.
#include <gtest/gtest.h>

#include "app/handover_support.h"
#include "log/errors.h"

namespace {

struct TEventsFixture : THandoverFixture {
  TSessionEvents Events{S};
  std::vector<std::string> Ended;
  int Changes = 0;
  TEventsFixture() {
    S.Transmit->Network = &Network;
    Events.OnChanged = [this] { ++Changes; };
    Events.OnSessionEnded = [this](const std::string& text) { Ended.push_back(text); };
  }
};

void ExpectDisconnectedControls(const TConnectionControls& c) {
  EXPECT_EQ(std::tuple(c.ConnectItem, c.NetworkConnectButton, c.DisconnectItem, c.NetworkDisconnectButton),
            std::tuple(true, true, false, false));
}

TEST(HandoverEvents, AnErrorOnAnOpenSessionClosesItFirst) {
  TEventsFixture f;
  f.Events.QelSocketSessionConnected();
  f.Events.QelSocketErrorOccurred("Connection reset by peer");
  EXPECT_EQ(f.Network.Disconnects, 1);
  EXPECT_EQ(BoxTexts(f.Desktop), std::vector<std::string>{"Connection reset by peer"});
  EXPECT_FALSE(f.S.Transmit->NetworkConnected);
  ExpectDisconnectedControls(f.Events.Controls);
}

TEST(HandoverEvents, ACallIsAcceptedOnlyWhenTheAcceptSucceeds) {
  TEventsFixture f;
  int accepts = 0;
  f.Events.AcceptSession = [&] { return ++accepts == 1 ? -1 : 7; };
  f.Events.QelSocketSessionAvailable();
  EXPECT_FALSE(f.S.Transmit->ListenActive);
  EXPECT_TRUE(f.Events.Controls.ConnectItem);

  f.Events.QelSocketSessionAvailable();
  EXPECT_TRUE(f.S.Transmit->ListenActive);
  EXPECT_FALSE(f.Events.Controls.ConnectItem);
  EXPECT_TRUE(f.Events.Controls.NetworkDisconnectButton);

  f.Events.QelSocketSessionClosed();
  EXPECT_EQ(BoxTexts(f.Desktop), std::vector<std::string>{"Session Closed!"});
  EXPECT_TRUE(f.Events.Controls.NetworkConnectButton);
  // The call is over: typed bytes no longer go to its socket.
  EXPECT_FALSE(f.S.Transmit->ListenActive);
  f.S.Transmit->SendByte('x');
  EXPECT_TRUE(f.Network.Sends.empty());
}

TEST(HandoverEvents, ASerialFailureGivesTheDisconnectedState) {
  TEventsFixture f;
  f.S.Transmit->SerialConnected = true;
  f.Events.Controls.SerialConnectButton = false;
  f.Events.Controls.SerialDisconnectButton = true;
  f.Events.Controls.ConnectItem = false;
  f.Events.Controls.DisconnectItem = true;

  f.S.Transmit->Serial = &f.Serial;
  f.Events.QelCommException(1117);
  EXPECT_FALSE(f.S.Transmit->SerialConnected);
  EXPECT_EQ(f.Serial.Closes, 1);  // the component is closed, not left running
  const TConnectionControls& c = f.Events.Controls;
  EXPECT_EQ(std::tuple(c.ConnectItem, c.SerialConnectButton, c.SerialDisconnectButton, c.DisconnectItem),
            std::tuple(true, true, false, false));
  EXPECT_FALSE(f.S.Status.Connected);
  EXPECT_TRUE(f.Desktop.Boxes.empty());
  EXPECT_EQ(f.Ended.size(), 1u);
}

}  // namespace

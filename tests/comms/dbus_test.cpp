// The DDE server: the greeting and the item's lines, then the same on a real
// session bus (each test runs in a dbus-run-session of its own) with gdbus
// and dbus-send as the clients.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>

#include "comms/dbus.h"
#include "comms/dde.h"
#include "support/eventloop.h"

namespace {

const std::vector<std::string> kIdentification = {
    "Product Name : QEL for Windows - 32 Bit Version",
    "Version : 0.23",
    "Last Modified : April 12, 1998.",
};

TEST(DdeServer, TheGreetingInAnyCaseWithBlanksAroundAnswersTheIdentificationAndNothingElse) {
  TDdeServer dde;
  dde.Poke("  c:Hello \t");
  EXPECT_EQ(dde.ItemLines, kIdentification);
  // Only the beginning counts.
  TDdeServer longer;
  longer.Poke("C:HELLO THERE");
  EXPECT_EQ(longer.ItemLines, kIdentification);
  // Any other text leaves the item unchanged.
  longer.ItemLines = {"kept"};
  for (const char* text : {"C:HELP", "C:", "hello", "C: HELLO", "", "xC:HELLO"}) longer.Poke(text);
  EXPECT_EQ(longer.ItemLines, std::vector<std::string>{"kept"});
}

TEST(DdeServer, ExecuteJoinsItsLinesAndAlwaysAnswersWithTheIdentification) {
  TDdeServer dde;
  // Joined with CR LF, "C:" and "HELLO" on two lines are not the greeting.
  EXPECT_EQ(dde.Execute({"c:", "hello"}), kIdentification);
  EXPECT_TRUE(dde.ItemLines.empty());
  EXPECT_EQ(dde.Execute({"c:hello", "more"}), kIdentification);
  EXPECT_EQ(dde.ItemLines, kIdentification);
}

// Runs a client while the event loop serves the bus.
TProcessRun RunClient(const QString& program, const QStringList& arguments) { return RunProcess(program, arguments, 10000); }

QStringList GdbusCall(const QString& service, const QString& method, const QStringList& arguments) {
  return QStringList{"call", "--session", "--dest", service, "--object-path", "/QelDdeServer", "--method", method} +
         arguments;
}

// The identification as gdbus prints a string array.
const std::string kIdentificationArray =
    "['Product Name : QEL for Windows - 32 Bit Version', 'Version : 0.23', 'Last Modified : April 12, 1998.']";
const std::string kIdentificationReply = "(" + kIdentificationArray + ",)\n";

class DdeOnTheBus : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(Bus.Start("qeltest", &why)) << why;
  }
  TProcessRun Call(const QString& method, const QStringList& arguments) {
    return RunClient("gdbus", GdbusCall(Service, method, arguments));
  }
  TDdeServer Dde;
  TDBusDdeServer Bus{Dde};
  const QString Service = "org.qelwin.qeltest";
};

// What the greeting and other pokes do to the item is the server's own tests'.
TEST_F(DdeOnTheBus, APokedGreetingIsAnsweredByTheItemsLinesAndNoItemButODebServerIsTaken) {
  const TProcessRun refused = Call("org.qelwin.DdeServer.Poke", {"Other", "c:hello"});
  EXPECT_NE(refused.ExitCode, 0);
  EXPECT_NE(refused.Err.find("No item Other on topic QelDdeServer"), std::string::npos) << refused.Err;
  EXPECT_EQ(Call("org.qelwin.DdeServer.Request", {"ODebServer"}).Out, "(@as [],)\n");
  const TProcessRun poke = Call("org.qelwin.DdeServer.Poke", {"ODebServer", "  c:hello  "});
  ASSERT_EQ(poke.ExitCode, 0) << poke.Err;
  const TProcessRun request = Call("org.qelwin.DdeServer.Request", {"ODebServer"});
  ASSERT_EQ(request.ExitCode, 0) << request.Err;
  EXPECT_EQ(request.Out, kIdentificationReply);
  const TProcessRun property = Call("org.freedesktop.DBus.Properties.Get", {"org.qelwin.DdeServer", "ODebServer"});
  EXPECT_EQ(property.Out, "(<" + kIdentificationArray + ">,)\n");
}

TEST_F(DdeOnTheBus, AnExecuteRequestComesBackAsTheIdentification) {
  const TProcessRun run = RunClient("dbus-send", {"--session", "--print-reply", "--dest=" + Service, "/QelDdeServer",
                                           "org.qelwin.DdeServer.Execute", "array:string:c:hello"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("string \"Product Name : QEL for Windows - 32 Bit Version\""), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("string \"Last Modified : April 12, 1998.\""), std::string::npos) << run.Out;
  EXPECT_EQ(Dde.ItemLines, kIdentification);
}

TEST_F(DdeOnTheBus, AConversationLastsWhileTheClientStaysOnTheBus) {
  EXPECT_FALSE(Dde.DdeConnected);
  {
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client");
    ASSERT_TRUE(client.isConnected());
    QDBusMessage poke = QDBusMessage::createMethodCall(Service, "/QelDdeServer", "org.qelwin.DdeServer", "Poke");
    poke << QString("ODebServer") << QString("c:hello");
    QDBusPendingCall pending = client.asyncCall(poke);
    ASSERT_TRUE(RunUntil([&] { return pending.isFinished(); }));
    EXPECT_TRUE(Dde.DdeConnected);
  }
  QDBusConnection::disconnectFromBus("client");
  EXPECT_TRUE(RunUntil([&] { return !Dde.DdeConnected; }));
}

TEST(DdeInQelConnect, TheToolServesTheTopicWhileItRuns) {
  QProcess tool;
  tool.start(QEL_TOOL, {"connect", "--host", "127.0.0.1:0", "--listen", "--for", "6"});
  ASSERT_TRUE(tool.waitForStarted(5000));
  const TProcessRun wait = RunClient("gdbus", {"wait", "--session", "--timeout", "5", "org.qelwin.qel"});
  ASSERT_EQ(wait.ExitCode, 0) << wait.Err;
  const QString service = "org.qelwin.qel";
  const TProcessRun poke = RunClient("gdbus", GdbusCall(service, "org.qelwin.DdeServer.Poke", {"ODebServer", "C:Hello"}));
  EXPECT_EQ(poke.ExitCode, 0) << poke.Err;
  const TProcessRun request = RunClient("gdbus", GdbusCall(service, "org.qelwin.DdeServer.Request", {"ODebServer"}));
  EXPECT_EQ(request.Out, kIdentificationReply);
  tool.terminate();
  ASSERT_TRUE(tool.waitForFinished(5000));
}

}  // namespace

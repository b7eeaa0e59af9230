// SSH sessions against a private OpenSSH server on loopback: the qel tool
// end to end (host keys unknown, accepted, changed; a key the server does
// not take; a host that is not there), and the line in this process wired
// as the window wires it (terminal type and size, passphrases, the agent,
// both ways a session ends, a dropped line).
#include <gtest/gtest.h>

#include <cstdlib>

#include "comms/sshline.h"
#include "integration_support.h"
#include "screen/writer.h"
#include "support/sshserver.h"
#include "terminal/keyboard.h"

namespace {

// Tests must not find the user's own agent or keys.
class TPrivateEnvironment {
 public:
  explicit TPrivateEnvironment(const std::string& home) {
    ::unsetenv("SSH_AUTH_SOCK");
    ::setenv("HOME", home.c_str(), 1);
  }
  ~TPrivateEnvironment() {
    for (const auto& [name, value] : Saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }

 private:
  static std::optional<std::string> Get(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  const std::pair<const char*, std::optional<std::string>> Saved[2] = {{"SSH_AUTH_SOCK", Get("SSH_AUTH_SOCK")},
                                                                       {"HOME", Get("HOME")}};
};

class SshTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Server.Ready()); }
  TTempDir Dir;
  TPrivateEnvironment Environment{Dir.path().string()};
  TSshServer Server{Dir.path().string()};
  std::string Known = Dir.file("known_hosts");

  std::string Target() const { return TSshServer::User() + "@" + Server.Host(); }
  TQelRun Connect(const std::string& more, const TSshKeyPair* key = nullptr) {
    const std::string identity = (key ? *key : Server.ClientKey).Private;
    return RunQel(Dir, "connect --ssh " + Target() + " --identity " + ShellQuoted(identity) + " --known-hosts " +
                           ShellQuoted(Known) + " --emulation vt100 --for 20 " + more);
  }
  // Types a command and ends the shell, so the run ends when the host closes.
  static std::string Typing(const std::string& command) {
    return "--send " + ShellQuoted(command + "<CR>") + " --send " + ShellQuoted("exit<CR>");
  }
  bool KnownByOpenSsh() const {
    return RunProgram({"ssh-keygen", "-F", "[127.0.0.1]:" + std::to_string(Server.PortNumber()), "-f", Known}) == 0;
  }
};

TEST_F(SshTool, AnUnknownKeyIsRefusedThenAcceptedOnRequestKnownAfterwardsAndRefusedOnceChanged) {
  const std::string port = std::to_string(Server.PortNumber());
  const TQelRun refused = Connect(Typing("echo never"));
  EXPECT_EQ(refused.Status, 1);
  EXPECT_TRUE(Holds(refused.Err, {"qel connect: " + Target() + ": host key verification failed",
                                  "ED25519 host key of 127.0.0.1 port " + port, Server.HostKey.Fingerprint(),
                                  "--accept-new-host-key"}));
  EXPECT_EQ(Count(refused.Err, "\n"), 1) << "one line: " << refused.Err;
  EXPECT_FALSE(std::filesystem::exists(Known));

  const TQelRun accepted = Connect("--accept-new-host-key " + Typing("echo hello-$((6*7))"));
  EXPECT_EQ(accepted.Status, 0) << accepted.Err;
  EXPECT_TRUE(Holds(accepted.Out, {"hello-42"}));
  EXPECT_TRUE(Holds(accepted.Err, {"Permanently added '[127.0.0.1]:" + port + "'"}));
  EXPECT_TRUE(KnownByOpenSsh()) << ReadFileBytes(Known);

  const TQelRun again = Connect(Typing("echo again-$((2+3))"));
  EXPECT_EQ(again.Status, 0) << again.Err;
  EXPECT_TRUE(Holds(again.Out, {"again-5"}));
  EXPECT_EQ(again.Err.find("Permanently added"), std::string::npos);

  // A changed key is refused even with --accept-new-host-key.
  const std::string before = ReadFileBytes(Known);
  Server.ChangeHostKey();
  ASSERT_TRUE(Server.Ready());
  const TQelRun run = Connect("--accept-new-host-key " + Typing("echo never"));
  EXPECT_EQ(run.Status, 1);
  // It names the entry in the file.
  EXPECT_TRUE(Holds(run.Err, {"REMOTE HOST IDENTIFICATION HAS CHANGED", "127.0.0.1 port " + port,
                              "is now " + Server.HostKey.Fingerprint(), Known + ":1"}));
  EXPECT_EQ(run.Out.find("never"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(Known), before) << "a changed key is never stored";
}

TEST_F(SshTool, AKeyTheServerDoesNotTakeEndsWithAnAuthenticationMessage) {
  const TSshKeyPair stranger = TSshKeyPair::Make(Dir.path().string(), "stranger");
  const TQelRun run = Connect("--accept-new-host-key " + Typing("echo never"), &stranger);
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Holds(run.Err, {"qel connect: " + Target() + ": authentication failed for " + TSshServer::User() +
                              "@127.0.0.1: Permission denied (publickey)"}));
  EXPECT_EQ(Count(run.Err, "\n") - Count(run.Err, "qel connect: note: "), 1) << "one failure line: " << run.Err;
}

TEST_F(SshTool, NoServerAndNoSuchHostEachEndWithTheirReason) {
  const TQelRun refused = RunQel(Dir, "connect --ssh 127.0.0.1:" + std::to_string(FreePort()) + " --for 10");
  EXPECT_EQ(refused.Status, 1);
  EXPECT_TRUE(Holds(refused.Err, {": Connection refused"}));
  const TQelRun unknown = RunQel(Dir, "connect --ssh engineer@no-such-host.invalid --for 10");
  EXPECT_EQ(unknown.Status, 1);
  EXPECT_TRUE(Holds(unknown.Err, {"qel connect: engineer@no-such-host.invalid:22: Host not found"}));
}

// ------------------------------------------------------------ in process

// The window's side with an SSH line wired beside the socket.
struct TSshWindow {
  TWindow W;
  TSshLine Ssh;
  std::vector<std::string> Notes;
  explicit TSshWindow(const std::string& known) {
    WireSecureLine(W.S, Ssh, W.Handover, W.Events);
    Ssh.AcceptNewHostKey = [](const TNewHostKey&) { return true; };
    Ssh.OnNote = [this](const std::string& text) { Notes.push_back(text); };
    W.S.Connection.KnownHostsFile = known;
    W.S.Settings.Emulation = emVT220;
  }
  ~TSshWindow() { W.S.Transmit->ConnectionControl(ckBoth, ctClose); }
  void Open(const TSshServer& server, const std::string& key) {
    W.S.Connection.SshKeyFile = key;
    W.S.Settings.HostName.assign(TSshServer::User() + "@" + server.Host());
    W.S.Transmit->ConnectionControl(ckSecure, ctOpen);
  }
  bool Up() const { return W.S.Transmit->NetworkConnected; }
  // Opens with the server's client key; true once the session is up.
  bool OpenUp(const TSshServer& server) {
    Open(server, server.ClientKey.Private);
    return RunUntil([&] { return Up(); });
  }
  void Type(const std::string& text) { W.S.Keyboard->StartText(text); }
};

class SshSession : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Server.Ready()); }
  TTempDir Dir;
  TPrivateEnvironment Environment{Dir.path().string()};
  TSshServer Server{Dir.path().string()};
  TSshWindow Window{Dir.file("known_hosts")};
};

TEST_F(SshSession, ThePtyCarriesTheEmulationsTypeAndTheScreensSizeAndTheHostEndsItAsATelnetHost) {
  ASSERT_TRUE(Window.OpenUp(Server)) << ::testing::PrintToString(Window.W.Boxes);
  Window.Type("echo T=$TERM S=$(stty size)<CR>");
  EXPECT_TRUE(RunUntil([&] { return Window.W.Shows("T=vt220 S=24 80"); })) << Window.W.ScreenText();
  Window.W.S.Writer->SetColumnMode(1);  // 132 columns, as DECCOLM or the dialog sets them
  Window.Type("echo S=$(stty size)<CR>");
  EXPECT_TRUE(RunUntil([&] { return Window.W.Shows("S=24 132"); })) << Window.W.ScreenText();
  EXPECT_EQ(Window.Notes.size(), 1u);  // the key stored
  Window.Type("exit<CR>");
  ASSERT_TRUE(RunUntil([&] { return Window.W.Ended == 1; }));
  EXPECT_FALSE(Window.Up());
  EXPECT_EQ(Window.W.Boxes, std::vector<std::string>{"Session Closed!"});
  EXPECT_TRUE(Window.W.Events.Controls.ConnectItem);
}

TEST_F(SshSession, TheUsersDisconnectSaysGoodbyeToTheServerAndRaisesNoEvent) {
  ASSERT_TRUE(Window.OpenUp(Server));
  Window.W.S.Transmit->ConnectionControl(ckNetwork, ctClose);
  EXPECT_TRUE(RunUntil([&] { return Holds(Server.LogText(), {"Received disconnect from 127.0.0.1"}); }))
      << Server.LogText();
  RunFor(300);
  EXPECT_EQ(Window.W.Ended, 0);
  EXPECT_TRUE(Window.W.Boxes.empty());
}

TEST_F(SshSession, ADroppedLineEndsTheSessionWithItsReason) {
  ASSERT_TRUE(Window.OpenUp(Server));
  ASSERT_FALSE(Server.Children().empty());
  Server.DropSessions();
  ASSERT_TRUE(RunUntil([&] { return Window.W.Ended == 1; }));
  EXPECT_FALSE(Window.Up());
  EXPECT_EQ(Window.W.Boxes, std::vector<std::string>{"Connection to 127.0.0.1 closed by remote host"});
  // Typing after the drop goes nowhere and breaks nothing.
  Window.Type("echo late<CR>");
  RunFor(300);
  EXPECT_EQ(Window.W.Ended, 1);
}

TEST_F(SshSession, AProtectedKeyAsksItsPassphraseAndAWrongOneGivesUpAfterThree) {
  const TSshKeyPair locked = TSshKeyPair::Make(Dir.path().string(), "locked", "ed25519", "open sesame");
  Server.AuthorizeOnly({locked});
  // No public key beside it: the private key is loaded before it is offered.
  std::filesystem::remove(locked.Private + ".pub");

  std::vector<std::string> prompts;
  std::deque<std::string> answers{"wrong", "still wrong", "no"};
  Window.Ssh.AskSecret = [&](const TSecretPrompt& prompt) -> std::optional<std::string> {
    prompts.push_back(prompt.Prompt);
    if (answers.empty()) return std::nullopt;
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  };
  Window.Open(Server, locked.Private);
  ASSERT_TRUE(RunUntil([&] { return Window.W.Ended == 1; }));
  ASSERT_EQ(prompts.size(), 3u);
  EXPECT_EQ(prompts[0], "Enter passphrase for key '" + locked.Private + "': ");
  ASSERT_EQ(Window.W.Boxes.size(), 1u);
  EXPECT_TRUE(Holds(Window.W.Boxes[0], {"Permission denied (publickey)"}));

  prompts.clear();
  answers = {"open sesame"};
  Window.Open(Server, locked.Private);
  EXPECT_TRUE(RunUntil([&] { return Window.Up(); })) << ::testing::PrintToString(Window.W.Boxes);
  EXPECT_EQ(prompts.size(), 1u);
}

TEST_F(SshSession, TheAgentsKeyIsTriedFirst) {
  const std::string socket = Dir.file("agent.sock");
  TChild agent({"ssh-agent", "-D", "-a", socket});
  ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(socket); }, 5000));
  ::setenv("SSH_AUTH_SOCK", socket.c_str(), 1);
  ASSERT_EQ(RunProgram({"ssh-add", Server.ClientKey.Private}), 0);
  // No key file at all: HOME is empty, and the one named does not exist.
  Window.Open(Server, Dir.file("no-such-key"));
  EXPECT_TRUE(RunUntil([&] { return Window.Up(); })) << ::testing::PrintToString(Window.W.Boxes);
}

}  // namespace

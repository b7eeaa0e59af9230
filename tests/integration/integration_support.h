// Whole sessions against real peers: the components wired as the main
// window wires them, on this thread's event loop, and helpers that start and
// stop peers (telnetd under socat, socat on ptys) and the qel tool. Every
// wait has a time limit.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/coredesktop.h"
#include "app/events.h"
#include "app/handover.h"
#include "app/linewiring.h"
#include "app/session.h"
#include "comms/comm.h"
#include "comms/sockets.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "screen/store.h"
#include "support/eventloop.h"
#include "support/loopback.h"
#include "support/testing.h"

// Records what the terminal sends while passing it on to the socket.
class TSendTap : public TNetworkLine {
 public:
  explicit TSendTap(TNetworkLine& line) : Line(line) {}
  std::string Sent;
  void SetAddress(const std::string& host, const std::string& port) override { Line.SetAddress(host, port); }
  void Connect() override { Line.Connect(); }
  void Listen() override { Line.Listen(); }
  void CancelListen() override { Line.CancelListen(); }
  void Disconnect() override { Line.Disconnect(); }
  int Send(const std::uint8_t* buffer, int length) override {
    Sent.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
    return Line.Send(buffer, length);
  }
  int Receive(std::uint8_t* buffer, int length) override { return Line.Receive(buffer, length); }

 private:
  TNetworkLine& Line;
};

// The main window's side: a session with its components, boxes recorded,
// the 100-ms timer running.
struct TWindow {
  TTempDir Dir;
  TCoreDesktop Desktop;
  TSession S{Desktop, Dir.path().string()};
  TComm Comm;
  TSockets Sockets{Desktop};
  TReceiveHandover Handover{S};
  TSessionEvents Events{S};
  TSendTap Tap{Sockets};
  QTimer Timer;
  std::vector<std::string> Boxes;
  int Ended = 0;

  TWindow() {
    S.StartUp();
    WireLines(S, Comm, Sockets, Handover, Events);
    Desktop.Handler = [this](const TPostedMessage& message) { Handover.HandleMessage(message); };
    Desktop.OnMessage = [this](const TMessageBox& box) {
      Boxes.push_back(box.Text);
      return THeadlessDesktop::DefaultAnswer(box.Buttons);
    };
    Events.OnSessionEnded = [this](const std::string&) { ++Ended; };
    QObject::connect(&Timer, &QTimer::timeout, [this] { Handover.TimerTick(); });
    Timer.start(100);
  }
  ~TWindow() {
    Timer.stop();
    S.Transmit->ConnectionControl(ckBoth, ctClose);
  }
  // Sends the bytes as the terminal sends what is typed, without the keyboard.
  void Type(const std::string& text) {
    for (const char c : text) S.Transmit->SendByte(static_cast<std::uint8_t>(c));
  }
  // What the terminal sends to the host is kept in Tap.Sent from now on.
  void TapSends() { S.Transmit->Network = &Tap; }
  void Connect(const std::string& address) {
    S.Settings.HostName.assign(address);
    S.Transmit->ConnectionControl(ckNetwork, ctOpen);
  }
  // The screen rows, trailing blanks dropped, one per line.
  std::string ScreenText() const {
    std::string text;
    for (int row = 1; row <= S.Screen->Rows; ++row) {
      std::string line = S.Screen->GetLineText(S.Screen->ScreenLine(row));
      while (!line.empty() && (line.back() == ' ' || line.back() == '\0')) line.pop_back();
      text += line + "\n";
    }
    return text;
  }
  bool Shows(const std::string& text) const { return ScreenText().find(text) != std::string::npos; }
  bool ShowsRow(const std::string& text) const { return ("\n" + ScreenText()).find("\n" + text + "\n") != std::string::npos; }
};

// Takes one call, sends the bytes and ends its side, reading what the
// terminal answers until it hangs up too (a close with answers unread would
// reset the call).
class TOneShotHost {
 public:
  explicit TOneShotHost(std::string bytes)
      : Bytes(std::move(bytes)), Thread([this] {
          const int fd = Host.AcceptOne(10000);
          if (fd < 0) return;
          [[maybe_unused]] const ssize_t n = write(fd, Bytes.data(), Bytes.size());
          ::shutdown(fd, SHUT_WR);
          const timeval limit{20, 0};  // a terminal that never hangs up does not hold the test
          setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
          char answers[256];
          while (::read(fd, answers, sizeof answers) > 0) {
          }
          ::close(fd);
        }) {}
  ~TOneShotHost() { Thread.join(); }
  QString Address() const { return QString::fromStdString(Host.Address()); }

 private:
  TLoopbackHost Host;
  std::string Bytes;
  std::thread Thread;
};

// inetutils telnetd behind socat, one shell per call, on a free loopback port.
class TTelnetServer {
 public:
  TTelnetServer()
      : Port(FreePort()),
        Server({"socat", "TCP-LISTEN:" + std::to_string(Port) + ",bind=127.0.0.1,reuseaddr,fork",
                "EXEC:/usr/sbin/telnetd -h -E /bin/sh,nofork"}) {}
  // True once the server takes calls.
  bool Ready() const { return WaitForListener(Port); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port); }
  const std::uint16_t Port;

 private:
  TChild Server;
};

// One qel exchange on a free loopback port (0 when it did not say which),
// stopped with SIGTERM at the end, which it must take as a clean exit.
class TExchangeProcess {
 public:
  explicit TExchangeProcess(const QStringList& extra = {}) {
    Process.start(QEL_TOOL, QStringList{"exchange", "--listen", "127.0.0.1:0"} + extra);
    if (!Process.waitForStarted(5000)) return;
    while (!Process.canReadLine() && Process.waitForReadyRead(5000)) {
    }
    const std::string first = Process.readLine().toStdString();
    std::smatch match;
    if (std::regex_match(first, match, std::regex("listening on 127\\.0\\.0\\.1:(\\d+)\n")))
      Port = static_cast<std::uint16_t>(std::stoi(match[1]));
  }
  ~TExchangeProcess() {
    Process.terminate();
    if (!Process.waitForFinished(5000)) Process.kill();
  }
  // True when it stopped by itself at SIGTERM with status 0.
  bool StopsCleanly() {
    Process.terminate();
    return Process.waitForFinished(5000) && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port); }

  std::uint16_t Port = 0;
  QProcess Process;
};

// Runs the qel tool to its end (killed after timeoutMs).
inline TProcessRun RunTool(const QStringList& arguments, int timeoutMs = 20000) {
  return RunProcess(QEL_TOOL, arguments, timeoutMs);
}

// Whether the text holds every piece; the text and the missing piece when not.
inline ::testing::AssertionResult Holds(const std::string& text, std::initializer_list<std::string> pieces) {
  for (const std::string& piece : pieces)
    if (text.find(piece) == std::string::npos)
      return ::testing::AssertionFailure() << "no " << piece << " in\n" << text;
  return ::testing::AssertionSuccess();
}

inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

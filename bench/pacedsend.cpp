// Paced send against qel exchange over loopback Telnet, with the window's
// pieces on a QtCore event loop and the 100-ms timer:
// 1. an unpaced send moves the per-tick budget, 100 characters a tick, so
//    1000 a second over a measured 10 s (target: within 1 %);
// 2. a prompt-paced send of 1000 lines (the count is the first argument):
//    each line starts no later than the tick after its prompt arrived.
#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/coredesktop.h"
#include "app/events.h"
#include "app/handover.h"
#include "app/linewiring.h"
#include "app/session.h"
#include "comms/comm.h"
#include "comms/sockets.h"
#include "comms/transmit.h"
#include "core/tempdir.h"
#include "screen/store.h"
#include "terminal/interpreter.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"

namespace {
using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (TClock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
  }
  return true;
}

// Notes when each byte left and how many ticks and prompts there had been.
class TTimingTap : public TNetworkLine {
 public:
  struct TSend {
    char Byte;
    TClock::time_point At;
    long Tick;
  };
  explicit TTimingTap(TNetworkLine& line) : Line(line) {}
  std::vector<TSend> Sends;
  long Ticks = 0;
  void SetAddress(const std::string& host, const std::string& port) override { Line.SetAddress(host, port); }
  void Connect() override { Line.Connect(); }
  void Listen() override { Line.Listen(); }
  void CancelListen() override { Line.CancelListen(); }
  void Disconnect() override { Line.Disconnect(); }
  int Send(const std::uint8_t* buffer, int length) override {
    const auto now = TClock::now();
    for (int i = 0; i < length; ++i) Sends.push_back({static_cast<char>(buffer[i]), now, Ticks});
    return Line.Send(buffer, length);
  }
  int Receive(std::uint8_t* buffer, int length) override { return Line.Receive(buffer, length); }

 private:
  TNetworkLine& Line;
};

struct TPrompt {
  TClock::time_point At;
  long Tick;
};

// One exchange and one terminal session connected to it, in INPUT mode.
class TRun {
 public:
  TRun() {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    Exchange.start(QString::fromStdString((self.parent_path().parent_path() / "tools" / "qel").string()),
                   {"exchange", "--listen", "127.0.0.1:0"});
    Exchange.waitForStarted(5000);
    while (!Exchange.canReadLine() && Exchange.waitForReadyRead(5000)) {
    }
    std::smatch match;
    const std::string first = Exchange.readLine().toStdString();
    if (!std::regex_match(first, match, std::regex("listening on (127\\.0\\.0\\.1:\\d+)\n"))) return;
    S.StartUp();
    WireLines(S, Comm, Sockets, Handover, Events);
    Desktop.Handler = [this](const TPostedMessage& message) { Handover.HandleMessage(message); };
    Timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      ++Tap.Ticks;
      Handover.TimerTick();
    });
    Timer.start(100);
    S.Settings.HostName.assign(match[1].str());
    S.Transmit->ConnectionControl(ckNetwork, ctOpen);
    S.Transfer->ScreenPathOverride = [this](std::uint8_t c) {
      if (c == '>') Prompts.push_back({TClock::now(), Tap.Ticks});
      S.Interpreter->ReceiveByte(c);
    };
    if (!RunUntil([&] { return Shows("Type HELP"); }, 10000)) return;
    S.Transmit->Network = &Tap;
    S.Transfer->QueueSendString("INPUT\r");
    Ready = RunUntil([&] { return Shows("ENTER TEXT"); }, 5000);
  }
  ~TRun() {
    Timer.stop();
    S.Transmit->ConnectionControl(ckBoth, ctClose);
    Exchange.terminate();
    if (!Exchange.waitForFinished(5000)) Exchange.kill();
  }
  bool Shows(const std::string& text) const {
    for (int row = 1; row <= S.Screen->Rows; ++row) {
      if (S.Screen->GetLineText(S.Screen->ScreenLine(row)).find(text) != std::string::npos) return true;
    }
    return false;
  }
  bool Start(const std::string& text) {
    const std::string name = Dir.File("upload.txt");
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return false;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    S.Settings.SendReceiveFileName.assign(name);
    Tap.Sends.clear();  // the prompts stay: the first line answers INPUT's
    return Sender.StartFileSend();
  }
  bool Sending() const { return (S.Transfer->Activities & acFileSend) != 0; }

  bool Ready = false;
  TTemporaryDirectory Dir{"qelbench"};
  QProcess Exchange;
  TCoreDesktop Desktop;
  TSession S{Desktop, Dir.Path().string()};
  TComm Comm;
  TSockets Sockets{Desktop};
  TReceiveHandover Handover{S};
  TSessionEvents Events{S};
  TCommandState State;
  TPacedSend Sender{S, State};
  TTimingTap Tap{Sockets};
  QTimer Timer;
  std::vector<TPrompt> Prompts;
};

bool Unpaced() {
  TRun run;
  if (!run.Ready) return false;
  run.S.Settings.EOL = elNoChange;
  std::string text;
  while (text.size() < 20000) text += "UNPACED LINE OF SEVENTY CHARACTERS ........................ " + std::to_string(text.size()) + "\r\n";
  if (!run.Start(text)) return false;
  const auto warmUp = TClock::now() + std::chrono::seconds(1);
  RunUntil([&] { return TClock::now() >= warmUp; }, 5000);
  const std::size_t startBytes = run.Tap.Sends.size();
  const auto start = TClock::now();
  RunUntil([&] { return TClock::now() - start >= std::chrono::seconds(10); }, 15000);
  const std::size_t bytes = run.Tap.Sends.size() - startBytes;
  const double seconds = Seconds(TClock::now() - start);
  const double rate = bytes / seconds;
  const double off = (rate - 1000.0) / 10.0;
  std::printf("unpaced send      %zu characters in %.3f s: %.1f characters/s (target 1000 +- 1%%, %+.2f%%) %s\n",
              bytes, seconds, rate, off, std::abs(off) <= 1.0 ? "ok" : "MISSED");
  return std::abs(off) <= 1.0;
}

bool PromptPaced(int lines) {
  TRun run;
  if (!run.Ready) return false;
  TSetupRecord& settings = run.S.Settings;
  settings.EOL = elCR;
  settings.LineDelay = ldWaitForChar;
  settings.WaitChar = '>';
  settings.MaxEchoDelay = 50;
  std::string text;
  for (int i = 1; i <= lines; ++i) text += "PROMPTED LINE " + std::to_string(i) + "\r\n";
  if (!run.Start(text)) return false;
  const auto start = TClock::now();
  if (!RunUntil([&] { return !run.Sending(); }, lines * 1000 + 10000)) return false;
  const double seconds = Seconds(TClock::now() - start);
  // Line n + 1 (n from 1) answers the n + 1-th prompt: the first came with INPUT.
  std::vector<double> delays;
  long worstTicks = 0;
  std::size_t line = 0;
  for (std::size_t i = 0; i < run.Tap.Sends.size(); ++i) {
    if (i > 0 && run.Tap.Sends[i - 1].Byte != '\r') continue;
    if (run.Tap.Sends[i].Byte == 0x1A) break;
    if (line >= run.Prompts.size()) return false;
    const TPrompt& prompt = run.Prompts[line++];
    delays.push_back(Seconds(run.Tap.Sends[i].At - prompt.At) * 1000.0);
    worstTicks = std::max(worstTicks, run.Tap.Sends[i].Tick - prompt.Tick);
  }
  std::sort(delays.begin(), delays.end());
  const bool ok = line == std::size_t(lines) && delays.front() >= 0 && worstTicks <= 1;
  std::printf("prompt-paced send %zu lines in %.1f s; prompt to line start: median %.2f ms, max %.2f ms, "
              "at most %ld tick(s) later (target 1) %s\n",
              line, seconds, delays[delays.size() / 2], delays.back(), worstTicks, ok ? "ok" : "MISSED");
  return ok;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const bool unpaced = Unpaced();
  const bool paced = PromptPaced(lines);
  return unpaced && paced ? 0 : 1;
}

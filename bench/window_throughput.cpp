// The window end to end: a loopback peer sends a stream into a terminal
// running under Xvfb and times it from the first byte until the terminal
// has answered a cursor position request sent after the data and the X
// server has seen the last drawing of its text area (X DAMAGE on the
// terminal's window, with the bars around the text left out). The same
// streams go, in the same run, into xterm and urxvt running socat in a raw
// pty, timed the same way. Also: the longest delay of a 10-ms timer on
// qelwin's window thread during the burst, qelwin's memory holding 1,000,000
// scroll-back lines, and a week of mixed exchange output (10,000,000 lines)
// taken in and held. Each stream figure is the best of three runs.
//   bench_window_throughput [MEGABYTES [WORD]]      (run by bench/run)
// With WORD only the streams whose names hold it run, and no memory figure.
// $QELWIN_PROGRAM names another qelwin to measure (an older build, say).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/tempdir.h"
#include "exchange_output.h"
#include "receive_support.h"
// Last: Xlib defines macros (Status, None) that would clash with names above.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

namespace {
using TClock = std::chrono::steady_clock;

std::string BuildDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
  path = path.substr(0, path.rfind('/'));  // build-bench/bench
  return path.substr(0, path.rfind('/'));
}

bool OnPath(const char* program) {
  const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A listening loopback socket on a free port.
struct TListener {
  int Fd = -1;
  int Port = 0;
  TListener() {
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(Fd, 1);
    socklen_t length = sizeof address;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length);
    Port = ntohs(address.sin_port);
  }
  ~TListener() { close(Fd); }
  int Accept(int timeoutMs) const {
    pollfd p{Fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return -1;
    return accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    setpgid(0, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    usleep(20000);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// A rectangle in a top-level window's pixels.
struct TArea {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool Meets(const TArea& other) const {
    return X < other.X + other.Width && other.X < X + Width && Y < other.Y + other.Height && other.Y < Y + Height;
  }
};

// The X server's view of a terminal's drawing: DAMAGE on its top-level
// window reports drawing into the window and the windows inside it. It
// speaks once when the window's damage stops being empty; the damage is
// then taken (its rectangles read, the damage emptied), so the next drawing
// speaks again. The terminal's drawing costs the server no more events than
// there are turns of this loop, whichever terminal it is.
class TDamageWatch {
 public:
  struct TDrawn {
    TClock::time_point At;
    TArea Area;
  };

  explicit TDamageWatch(const std::string& display) : Connection(XOpenDisplay(display.c_str())) {
    // A terminal that has ended takes its windows and their damage with it:
    // what is asked of them afterwards fails, and that is no fault.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    int error = 0, fixesEvents = 0;
    if (Connection && (!XDamageQueryExtension(Connection, &EventBase, &error) ||
                       !XFixesQueryExtension(Connection, &fixesEvents, &error))) {
      XCloseDisplay(Connection);
      Connection = nullptr;
    }
    if (Connection) Parts = XFixesCreateRegion(Connection, nullptr, 0);
  }
  ~TDamageWatch() {
    if (!Connection) return;
    XFixesDestroyRegion(Connection, Parts);
    XCloseDisplay(Connection);
  }
  TDamageWatch(const TDamageWatch&) = delete;
  TDamageWatch& operator=(const TDamageWatch&) = delete;

  bool Usable() const { return Connection != nullptr; }
  int Fd() const { return ConnectionNumber(Connection); }

  // The viewable windows on the root now: a terminal's is the one that is new.
  std::vector<Window> TopLevels() {
    std::vector<Window> windows;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(Connection, DefaultRootWindow(Connection), &root, &parent, &children, &count)) return windows;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes attributes;
      if (XGetWindowAttributes(Connection, children[i], &attributes) && attributes.map_state == IsViewable &&
          attributes.width > 100 && attributes.height > 100)
        windows.push_back(children[i]);
    }
    if (children) XFree(children);
    return windows;
  }

  // Starts watching the first new top-level window (0 when none came).
  Window WatchNew(const std::vector<Window>& before, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      for (const Window w : TopLevels()) {
        if (std::find(before.begin(), before.end(), w) != before.end()) continue;
        Watched = w;
        Handle = XDamageCreate(Connection, w, XDamageReportNonEmpty);
        XSync(Connection, False);
        return w;
      }
      usleep(50000);
    }
    return 0;
  }

  // The largest window inside the watched one, in its coordinates: the text
  // area of xterm's VT100 widget and of urxvt (beside its scroll bar).
  TArea LargestChild() {
    TArea best;
    Largest(Watched, best);
    return best;
  }

  void Stop() {
    if (Handle) XDamageDestroy(Connection, Handle);
    Handle = 0;
    Watched = 0;
    XSync(Connection, False);
    Drain();
    Drawn.clear();
  }

  // Reads what has come.
  void Drain() {
    while (XPending(Connection) > 0) {
      XEvent event;
      XNextEvent(Connection, &event);
      if (event.type != EventBase + XDamageNotify) continue;
      const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
      if (damage.drawable != Watched || damage.damage != Handle) continue;
      const TClock::time_point at = TClock::now();
      XDamageSubtract(Connection, Handle, 0, Parts);
      int count = 0;
      XRectangle bounds;
      XRectangle* rectangles = XFixesFetchRegionAndBounds(Connection, Parts, &count, &bounds);
      for (int i = 0; i < count; ++i)
        Drawn.push_back({at, {rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height}});
      if (rectangles) XFree(rectangles);
    }
  }

  std::vector<TDrawn> Drawn;

 private:
  void Largest(Window window, TArea& best) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(Connection, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes attributes;
      if (!XGetWindowAttributes(Connection, children[i], &attributes) || attributes.map_state != IsViewable) continue;
      if (attributes.width * attributes.height > best.Width * best.Height) {
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(Connection, children[i], Watched, 0, 0, &x, &y, &child);
        best = {x, y, attributes.width, attributes.height};
      }
      Largest(children[i], best);
    }
    if (children) XFree(children);
  }

  Display* Connection = nullptr;
  int EventBase = 0;
  Window Watched = 0;
  Damage Handle = 0;
  XserverRegion Parts = 0;  // what the last taking of the damage held
};

// Sends everything, then the cursor position request, and waits for its
// answer, reading the window's drawing all the while and until it has been
// quiet for a while after the answer. Seconds from the first byte to the
// answer; nullopt on a failure. `start` is when the first byte went.
std::optional<double> Feed(int fd, const std::string& stream, TDamageWatch& watch, TClock::time_point& start) {
  constexpr int kQuietMs = 400;    // no drawing for this long: the terminal is done
  constexpr int kSettleMs = 5000;  // at most this long after the answer
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  watch.Drain();
  watch.Drawn.clear();
  // Whatever the terminal says first (Telnet answers, nothing) is not the answer.
  start = TClock::now();
  std::size_t sent = 0;
  const std::string request = "\x1b[6n";
  const std::string all = stream + request;
  std::string answer;
  std::optional<double> answered;
  while (!answered) {
    pollfd p[2] = {{fd, static_cast<short>(POLLIN | (sent < all.size() ? POLLOUT : 0)), 0},
                   {watch.Fd(), POLLIN, 0}};
    if (poll(p, 2, 60000) <= 0) return std::nullopt;
    if (p[1].revents & POLLIN) watch.Drain();
    if (p[0].revents & POLLOUT) {
      const ssize_t n = send(fd, all.data() + sent, std::min<std::size_t>(all.size() - sent, 1 << 16), MSG_NOSIGNAL);
      if (n < 0) return std::nullopt;
      sent += static_cast<std::size_t>(n);
    }
    if (p[0].revents & (POLLIN | POLLHUP)) {
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return std::nullopt;
      if (sent == all.size()) {
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.find('R') != std::string::npos)
          answered = std::chrono::duration<double>(TClock::now() - start).count();
      }
    }
  }
  const TClock::time_point end = TClock::now() + std::chrono::milliseconds(kSettleMs);
  for (;;) {
    watch.Drain();
    const TClock::time_point last = watch.Drawn.empty() ? start : watch.Drawn.back().At;
    const TClock::time_point now = TClock::now();
    if (now >= end || now - last >= std::chrono::milliseconds(kQuietMs)) break;
    pollfd p{watch.Fd(), POLLIN, 0};
    poll(&p, 1, 20);
  }
  return answered;
}

// Seconds from start to the last drawing that met the text area (0: none).
double LastDrawing(const TDamageWatch& watch, const TArea& text, TClock::time_point start) {
  for (auto it = watch.Drawn.rbegin(); it != watch.Drawn.rend(); ++it)
    if (it->Area.Meets(text)) return std::chrono::duration<double>(it->At - start).count();
  return 0;
}

// Listings as an exchange prints them (the receive path benchmark's lines),
// and a mix of short and long lines, which costs more per byte.
std::string PlainStream(std::size_t bytes) { return PlainLines(bytes); }
std::string ShortLineStream(std::size_t bytes) { return TextLines(bytes, 20, 79); }

// Full-screen output: cursor addressing and attributes on every few words.
std::string DenseStream(std::size_t bytes) {
  TRandom random;
  std::string out;
  out.reserve(bytes + 64);
  char head[48];
  while (out.size() < bytes) {
    const int n = std::snprintf(head, sizeof head, "\x1b[%d;%dH\x1b[%d;3%dm", random.Between(1, 24),
                                random.Between(1, 70), random.Between(0, 7) == 0 ? 7 : 1, random.Between(0, 7));
    out.append(head, static_cast<std::size_t>(n));
    AppendText(out, random, random.Between(3, 10));
    out += "\x1b[0m";
    if (random.Between(0, 15) == 0) out += "\x1b[K";
  }
  return out;
}

// A status display: title and footer rows, a scrolling region scrolled by LF.
std::string ScrollRegionStream(std::size_t bytes) { return ScrollRegionScreens(bytes); }

std::map<std::string, double> ReadStats(const std::string& file) {
  std::map<std::string, double> stats;
  std::ifstream in(file);
  std::string name;
  double value;
  while (in >> name >> value) stats[name] = value;
  return stats;
}

// Processor seconds a process has used so far (user and system).
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t name = text.rfind(')');  // the name may hold blanks
  if (name == std::string::npos) return 0;
  std::istringstream fields(text.substr(name + 2));
  std::string field;
  double user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::atof(field.c_str());
    if (i == 15) system = std::atof(field.c_str());
  }
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long RssKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

struct TTerminalRun {
  std::optional<double> Seconds;  // to the answer and the last drawing of the text
  double Answered = 0;            // to the answer alone
  double MaxTimerDelayMs = -1;
  double Paints = -1;
  // Processor seconds of the terminal and of the X server while it ran: on
  // a busy machine the wall clock measures the neighbours too.
  double TerminalCpu = 0, ServerCpu = 0;
};

class TBench {
 public:
  TBench(std::string display, std::string build, pid_t server)
      : Display(std::move(display)), Build(std::move(build)), Server(server), Watch(Display) {
    Settings = Dir.File("bench.mse");
    Stats = Dir.File("stats");
    const char* program = std::getenv("QELWIN_PROGRAM");
    Program = program && *program ? program : Build + "/tools/qelwin";
  }

  bool Usable() const { return Watch.Usable(); }

  // qelwin, 80x24, VT100, no Telnet, connected at start.
  TTerminalRun Qelwin(const std::string& stream, bool holdForMemory = false) {
    TListener listener;
    const std::string make = Build + "/tools/qel settings --defaults --set Emulation=1 --set Port=0 --set " +
                             "HostName=127.0.0.1:" + std::to_string(listener.Port) + " -o " + Settings +
                             " >/dev/null";
    if (std::system(make.c_str()) != 0) return {};
    unlink(Stats.c_str());
    const std::vector<Window> before = Watch.TopLevels();
    const pid_t pid = Spawn({Program, "--connect", "network", "--no-background", Settings},
                            {{"DISPLAY", Display}, {"QELWIN_HOME", Dir.Path().string()},
                             {"QELWIN_STATS", Stats}, {"QT_QPA_PLATFORM", "xcb"}});
    TTerminalRun run;
    const int fd = listener.Accept(20000);
    TClock::time_point start;
    if (fd >= 0 && Watch.WatchNew(before, 10000)) {
      usleep(300000);  // the window is up and idle before the clock starts
      const TCpu cpu = CpuNow(pid);
      run.Seconds = Feed(fd, stream, Watch, start);
      CpuSince(cpu, pid, run);
      if (holdForMemory) {
        usleep(1500000);
        Memory = RssKilobytes(pid);
      }
    }
    if (fd >= 0) close(fd);
    Stop(pid);  // SIGTERM: qelwin writes its figures and ends
    const auto stats = ReadStats(Stats);
    if (stats.count("max_timer_delay_ms")) run.MaxTimerDelayMs = stats.at("max_timer_delay_ms");
    if (stats.count("paints")) run.Paints = stats.at("paints");
    const TArea text{static_cast<int>(stats.count("text_area_x") ? stats.at("text_area_x") : 0),
                     static_cast<int>(stats.count("text_area_y") ? stats.at("text_area_y") : 0),
                     static_cast<int>(stats.count("text_area_width") ? stats.at("text_area_width") : 0),
                     static_cast<int>(stats.count("text_area_height") ? stats.at("text_area_height") : 0)};
    Finish(run, text, start);
    return run;
  }

  // xterm or urxvt running socat in a raw pty.
  TTerminalRun Terminal(const std::string& program, const std::string& stream) {
    TListener listener;
    const std::string shell =
        "stty raw -echo; exec socat - TCP:127.0.0.1:" + std::to_string(listener.Port);
    const std::vector<Window> before = Watch.TopLevels();
    const pid_t pid = Spawn({program, "-geometry", "80x24", "-e", "sh", "-c", shell}, {{"DISPLAY", Display}});
    TTerminalRun run;
    const int fd = listener.Accept(20000);
    TClock::time_point start;
    TArea text;
    if (fd >= 0 && Watch.WatchNew(before, 10000)) {
      usleep(300000);
      text = Watch.LargestChild();
      const TCpu cpu = CpuNow(pid);
      run.Seconds = Feed(fd, stream, Watch, start);
      CpuSince(cpu, pid, run);
    }
    if (fd >= 0) close(fd);
    Stop(pid);
    Finish(run, text, start);
    return run;
  }

  long Memory = 0;

 private:
  struct TCpu {
    double Terminal = 0, Server = 0;
  };
  TCpu CpuNow(pid_t terminal) const { return {CpuSeconds(terminal), CpuSeconds(Server)}; }
  void CpuSince(const TCpu& before, pid_t terminal, TTerminalRun& run) const {
    const TCpu now = CpuNow(terminal);
    run.TerminalCpu = now.Terminal - before.Terminal;
    run.ServerCpu = now.Server - before.Server;
  }

  // The time is the answer's or the last drawing of the text area's, whichever came later.
  void Finish(TTerminalRun& run, const TArea& text, TClock::time_point start) {
    if (run.Seconds) {
      run.Answered = *run.Seconds;
      if (text.Width <= 0) {
        run.Seconds.reset();  // the text area was not found: no honest figure
      } else {
        run.Seconds = std::max(*run.Seconds, LastDrawing(Watch, text, start));
      }
    }
    Watch.Stop();
  }

  TTemporaryDirectory Dir{"qelwinbench"};
  std::string Display, Build, Settings, Stats, Program;
  pid_t Server;
  TDamageWatch Watch;
};

std::string Rate(const TTerminalRun& run, double megabytes) {
  if (!run.Seconds) return "failed";
  char text[64];
  std::snprintf(text, sizeof text, "%.1f MB/s (%.2f s)", megabytes / *run.Seconds, *run.Seconds);
  return text;
}

std::string Cpu(const TTerminalRun& run) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f + %.2f s", run.TerminalCpu, run.ServerCpu);
  return text;
}

double RateOf(const TTerminalRun& run, double megabytes) { return run.Seconds ? megabytes / *run.Seconds : 0; }

// Every stream into every terminal, then qelwin's memory.
void Measure(TBench& bench, double megabytes, const std::string& only) {
  const std::size_t bytes = static_cast<std::size_t>(megabytes * 1e6);
  struct TStream {
    const char* Name;
    std::string Bytes;
  };
  const TStream streams[] = {{"text lines of 60-80 characters", PlainStream(bytes)},
                             {"text lines of 20-79 characters", ShortLineStream(bytes)},
                             {"cursor addressing and attributes", DenseStream(bytes)},
                             {"full screen with scroll regions", ScrollRegionStream(bytes)}};
  // Best of three for each terminal, taken in turn, so a busy moment of the
  // machine does not decide a ratio.
  auto best = [](const auto& run) {
    TTerminalRun kept;
    for (int i = 0; i < 3; ++i) {
      const TTerminalRun next = run();
      if (next.Seconds && (!kept.Seconds || *next.Seconds < *kept.Seconds)) kept = next;
    }
    return kept;
  };
  for (const TStream& stream : streams) {
    if (!only.empty() && std::string(stream.Name).find(only) == std::string::npos) continue;
    const TTerminalRun ours = best([&] { return bench.Qelwin(stream.Bytes); });
    const TTerminalRun xterm =
        OnPath("xterm") ? best([&] { return bench.Terminal("xterm", stream.Bytes); }) : TTerminalRun{};
    const TTerminalRun urxvt =
        OnPath("urxvt") ? best([&] { return bench.Terminal("urxvt", stream.Bytes); }) : TTerminalRun{};
    const double ratio = RateOf(urxvt, megabytes) > 0 ? RateOf(ours, megabytes) / RateOf(urxvt, megabytes) : 0;
    const double overXterm = RateOf(xterm, megabytes) > 0 ? RateOf(ours, megabytes) / RateOf(xterm, megabytes) : 0;
    std::printf("%-34s %.0f MB  qelwin %s | xterm %s | urxvt %s | qelwin/urxvt %.2fx (target 2x) %s, qelwin/xterm %.2fx\n",
                stream.Name, megabytes, Rate(ours, megabytes).c_str(), Rate(xterm, megabytes).c_str(),
                Rate(urxvt, megabytes).c_str(), ratio, ratio >= 2 ? "ok" : "SLOW", overXterm);
    std::printf("%-34s processor time, terminal + X server: qelwin %s | xterm %s | urxvt %s\n", "", Cpu(ours).c_str(),
                Cpu(xterm).c_str(), Cpu(urxvt).c_str());
    std::printf("%-34s qelwin answers after %.2f s, last drawing of its text %.2f s; longest 10-ms timer delay on the "
                "window thread %.1f ms (target <= 50 ms), %.0f paints\n",
                "", ours.Answered, ours.Seconds.value_or(0), ours.MaxTimerDelayMs, ours.Paints);
  }
  if (!only.empty()) return;

  // 1,000,000 scroll-back lines of 80 characters.
  std::string million;
  million.reserve(83000000);
  char line[96];
  for (int i = 0; i < 1000000; ++i) {
    const int n = std::snprintf(line, sizeof line, "%07d %-71.71s\r\n", i,
                                "exchange line: trunk group 0047 circuit 12 state idle alarm none since");
    million.append(line, static_cast<std::size_t>(n));
  }
  bench.Qelwin(million, true);
  std::printf("%-34s qelwin resident %.1f MB holding 1,000,000 lines (target <= 200 MB)\n", "scroll-back memory",
              bench.Memory / 1024.0);
  std::string().swap(million);

  // A week of exchange output: 10,000,000 mixed lines.
  std::string week;
  week.reserve(790000000);
  TExchangeOutput output;
  for (int i = 0; i < 10000000; ++i) output.AppendLine(week);
  const double weekMegabytes = static_cast<double>(week.size()) / 1e6;
  const TTerminalRun taken = bench.Qelwin(week, true);
  std::printf("%-34s qelwin %s, then resident %.1f MB holding 10,000,000 lines (targets >= 60 MB/s, <= 300 MB)\n",
              "a week of exchange output", Rate(taken, weekMegabytes).c_str(), bench.Memory / 1024.0);
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure shows when it is measured
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 20;
  const std::string only = argc > 2 ? argv[2] : "";
  if (!OnPath("Xvfb")) {
    std::printf("window_throughput: Xvfb is missing (apt-get install xvfb)\n");
    return 1;
  }
  // A display no other X server holds (other benchmarks may be running).
  int number = 87;
  while (access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) ++number;
  const std::string display = ":" + std::to_string(number);
  const pid_t xvfb = Spawn({"Xvfb", display, "-screen", "0", "1600x1200x24", "-nolisten", "tcp"});
  usleep(800000);
  int status = 0;
  {
    // Gone before the server: its connection would end the program.
    TBench bench(display, BuildDir(), xvfb);
    if (bench.Usable()) {
      Measure(bench, megabytes, only);
    } else {
      std::printf("window_throughput: the X server on %s offers no DAMAGE extension\n", display.c_str());
      status = 1;
    }
  }
  Stop(xvfb);
  return status;
}

#include "app/coredesktop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

class TCoreDesktop::TMessageEvent : public QEvent {
 public:
  TMessageEvent(const TPostedMessage& message, std::uint64_t generation)
      : QEvent(static_cast<QEvent::Type>(QEvent::User + (message.Message - wmUser))),
        Message(message),
        Generation(generation) {}
  TPostedMessage Message;
  std::uint64_t Generation;
};

namespace {
bool IsMessageType(int type) { return type >= QEvent::User && type <= QEvent::MaxUser; }
}  // namespace

TCoreDesktop::TCoreDesktop() = default;

TCoreDesktop::~TCoreDesktop() {
  QCoreApplication::removePostedEvents(this);
  for (TMessageEvent* event : Held) delete event;
}

TMsgResult TCoreDesktop::ShowMessage(const TMessageBox& box) {
  if (BoxOpenMs > 0) Wait(BoxOpenMs);
  if (OnMessage) return OnMessage(box);
  return THeadlessDesktop::DefaultAnswer(box.Buttons);
}

std::optional<std::string> TCoreDesktop::AskSecret(const std::string& caption, const std::string& prompt,
                                                   bool echo) {
  if (OnSecret) return OnSecret(caption, prompt, echo);
  // The controlling terminal, as ssh asks: standard input may be a script.
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return std::nullopt;
  termios saved{};
  const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
  if (isTerminal && !echo) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  (void)!::write(tty, prompt.data(), prompt.size());
  std::string answer;
  bool ended = false;
  char c = 0;
  while (::read(tty, &c, 1) == 1) {
    if (c == '\n') {
      ended = true;
      break;
    }
    if (c != '\r') answer.push_back(c);
  }
  if (isTerminal && !echo) ::tcsetattr(tty, TCSAFLUSH, &saved);
  ::close(tty);
  if (!ended) return std::nullopt;
  return answer;
}

void TCoreDesktop::Post(const TPostedMessage& message, std::uint64_t generation, bool ahead) {
  // Held messages go back ahead of anything posted since they were first
  // queued; Qt keeps posting order within a priority.
  QCoreApplication::postEvent(this, new TMessageEvent(message, generation),
                              ahead ? Qt::HighEventPriority : Qt::NormalEventPriority);
}

void TCoreDesktop::PostMessage(int message, std::intptr_t wparam, std::intptr_t lparam) {
  if (message < wmUser || !IsMessageType(QEvent::User + (message - wmUser))) return;
  std::lock_guard<std::mutex> guard(Lock);
  ++Queued[message];
  Post({message, wparam, lparam}, Removals[message], false);
}

bool TCoreDesktop::IsMessageQueued(int message) const {
  std::lock_guard<std::mutex> guard(Lock);
  const auto found = Queued.find(message);
  return found != Queued.end() && found->second > 0;
}

void TCoreDesktop::RemoveQueuedMessages(int message) {
  if (message < wmUser) return;
  std::lock_guard<std::mutex> guard(Lock);
  QCoreApplication::removePostedEvents(this, QEvent::User + (message - wmUser));
  // An event already taken from Qt's queue but not yet handled is void too.
  ++Removals[message];
  Queued[message] = 0;
  for (auto it = Held.begin(); it != Held.end();) {
    if ((*it)->Message.Message == message) {
      delete *it;
      it = Held.erase(it);
    } else {
      ++it;
    }
  }
}

bool TCoreDesktop::event(QEvent* event) {
  if (!IsMessageType(event->type())) return QObject::event(event);
  auto* posted = static_cast<TMessageEvent*>(event);
  const TPostedMessage message = posted->Message;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (posted->Generation != Removals[message.Message]) return true;
    if (HoldDepth > 0) {
      Held.push_back(new TMessageEvent(message, posted->Generation));
      return true;
    }
    int& queued = Queued[message.Message];
    if (queued > 0) --queued;
  }
  if (Handler) Handler(message);
  return true;
}

namespace {
std::int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

bool TCoreDesktop::PumpWanted() const { return NowUs() - LastPumpUs >= PumpIntervalUs; }

void TCoreDesktop::ProcessPendingMessages(bool systemOnly) {
  const std::int64_t now = NowUs();
  if (now - LastPumpUs < PumpIntervalUs) return;
  LastPumpUs = now;
  if (!systemOnly) {
    QCoreApplication::processEvents();
    return;
  }
  {
    std::lock_guard<std::mutex> guard(Lock);
    ++HoldDepth;
  }
  QCoreApplication::processEvents();
  std::lock_guard<std::mutex> guard(Lock);
  if (--HoldDepth > 0) return;
  for (TMessageEvent* held : Held) {
    Post(held->Message, held->Generation, true);
    delete held;
  }
  Held.clear();
}

void TCoreDesktop::Wait(int milliseconds) {
  if (milliseconds <= 0) {
    QCoreApplication::processEvents();
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

std::uint32_t TCoreDesktop::TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

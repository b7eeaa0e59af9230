// The main window's receive hand-over: bytes from the serial port's event
// thread and from the socket reach the session on the window thread, in
// order and in bounded bursts, and wait while an error box is up or the
// screen is held. Nothing here knows the window system: the window feeds it
// its messages and its timer, and reads the state it keeps.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/desktop.h"

class TSession;
class TSerialLine;
class TNetworkLine;

// Our own message: lines and failures of the serial event thread, handed to
// the window thread because the screen writer is not safe on any other.
inline constexpr int wmSerialLineEvents = 1146;

class TReceiveHandover {
 public:
  static constexpr int kReceiveBufferSize = 4097;
  static constexpr int kSocketChunk = 8192;
  // The window runs its pending messages after every this many bytes.
  static constexpr int kSerialBurst = 201;
  static constexpr int kSocketBurst = 101;
  // The longest run handed over at once while no pump is due.
  static constexpr int kLongRun = 4096;
  static constexpr int kStartupTicks = 100;

  // Built on the window thread, which it remembers.
  explicit TReceiveHandover(TSession& session);

  // The lines bytes are read from; not owned. The serial one is read on the
  // port's event thread.
  TSerialLine* Serial = nullptr;
  TNetworkLine* Network = nullptr;
  TNetworkLine* Secure = nullptr;  // SSH; read while the session is made over it

  // --- serial event thread (or any thread) ---
  void QelCommRxChar(int count);
  void QelCommError(unsigned errors);
  // The serial component failed: handed to the window thread as the
  // disconnected state (OnSerialFailure).
  void QelCommException(int code);

  // --- window thread ---
  // Runs the messages this class owns (1144, 1145 and its own); false for any other.
  bool HandleMessage(const TPostedMessage& message);
  void SerialReceived(int count);  // message 1144
  void QelSocketDataAvailable();   // the socket's data notification
  void SocketReread();             // message 1145
  // The end of a session met while bytes read before it are still being
  // delivered (the window pumps its messages between pieces) runs once they
  // are: the host's last screen is drawn whole, and then the end resets the
  // interpreter and shows its box. At any other time it runs at once.
  void AfterDelivery(std::function<void()> end);
  // The scroll-back hold ("Scroll&Buffer"): received data waits while it is on.
  void HoldScreenOn();
  bool HoldScreen() const { return Hold; }
  // Escape while the hold is on: the held data is shown, in order.
  void ReleaseHold();
  // The 100-ms timer of the main window.
  void TimerTick();

  // The line written for a serial error mask.
  static std::string SerialErrorText(unsigned errors);

  // State the window reads (all owned by the main window in its terms).
  std::array<std::uint8_t, kReceiveBufferSize> ReceiveBuffer{};
  std::atomic<int> SerialRxDepth{0};
  std::atomic<bool> SerialDataPending{false};
  int SocketRxDepth = 0;
  bool SocketDataPending = false;
  // Ticks until the start-up panel goes; any received byte makes it 1.
  std::atomic<int> StartupCountdown{kStartupTicks};
  bool TickBusy = false;

  // Window hooks, run on the window thread.
  std::function<void(int code)> OnSerialFailure;  // the serial component failed
  std::function<void()> OnStartupPanelDone;       // the countdown reached 0
  std::function<void()> OnHoldReleased;           // scroll bars off, view options back

 private:
  struct TLineEvent {
    bool Failure = false;  // else a line to write
    std::string Text;
    bool BlankAfter = false;
    int Code = 0;
  };

  bool OnWindowThread() const { return std::this_thread::get_id() == WindowThread; }
  void HandToWindow(TLineEvent event);
  void RunLineEvents();
  void DeliverBytes(const std::uint8_t* data, int count, std::uint8_t mask, int& counted, int burst,
                    bool systemOnly);
  void SocketLoop();
  TNetworkLine* SessionLine() const;
  void PostParkedSerial();
  void NoteReceived();

  TSession& S;
  TDesktop& Desktop;
  std::thread::id WindowThread;
  // Makes the event thread's look at the depth and the hold, and the window
  // thread's last look at the pending flag before it lets go, one step each,
  // so bytes that arrive in between are never left unannounced.
  std::mutex Lock;
  std::atomic<bool> Hold{false};
  std::mutex LineLock;
  std::deque<TLineEvent> LineEvents;
  // A 1144 that met the hold or a box: its count, until the hold is released
  // or the box has gone (-1: none).
  int HeldSerialCount = -1;
  // Socket data waits in the socket while a box is up; read again after it.
  bool SocketWaitsForBox = false;
  std::deque<std::function<void()>> EndsAfterDelivery;
  std::array<std::uint8_t, kSocketChunk> SocketBuffer{};
  std::array<std::uint8_t, kSerialBurst> Masked{};
};

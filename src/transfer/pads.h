// The PADS protocol: link, read, write, deallocate and exit against the
// exchange's file server, with acknowledged, checked frames, retries and
// resynchronisation.
//
// It is event-driven: the owner hands it received bytes (Received) and the
// time (Advance, due at Deadline()); every wait of the protocol is a
// suspension of the running operation, never a blocking call, so it runs on
// the window thread without holding it. The line, the boxes and the serial
// settings are reached through hooks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/padsframe.h"
#include "transfer/padstask.h"
#include "transfer/padstext.h"

class TDesktop;

namespace pads {

struct TPadsOptions {
  int Retries = 3;      // "Nbr of Retries", 1..5
  int DelayTenths = 2;  // "Pads Delay": before each part of a frame
  bool Improved = true; // "Use Improved Protocol"
};

struct TLinkParameters {
  std::uint16_t Version = 0;
  std::uint16_t LoadBlock = 64;
  std::uint16_t GetBlock = 64;
  bool NewProtocol = false;
};

class TPadsProtocol {
 public:
  // Receive timeouts, in milliseconds.
  static constexpr std::uint32_t kHeaderTimeout = 6000;
  static constexpr std::uint32_t kFileTimeout = 35000;   // open, deallocate, file description
  static constexpr std::uint32_t kDataTimeout = 8000;    // block data
  static constexpr std::uint32_t kOtherTimeout = 6000;
  static constexpr std::uint32_t kPause = 1000;          // after a refusal, a timeout, at the start
  static constexpr std::size_t kHostTextLimit = 7;       // this much text at the start: no PADS

  TPadsProtocol(TDesktop& desktop, TPadsOptions options);
  ~TPadsProtocol();
  TPadsProtocol(const TPadsProtocol&) = delete;
  TPadsProtocol& operator=(const TPadsProtocol&) = delete;

  // --- hooks, set once ---
  std::function<void(std::string_view bytes)> Send;
  // Received bytes not yet taken are to be thrown away (the capture ring).
  std::function<void()> DiscardInput;
  // The line goes to 8 data bits, no parity, one stop bit, no flow control.
  std::function<void()> LineUp;
  // The PADS link is over: the capture stops and the line settings come
  // back; exited: the exit ran (the screen and the host are told).
  std::function<void(bool exited)> LineDown;
  // Something the window shows changed (list, state, busy).
  std::function<void()> Changed;

  // --- events ---
  void Received(std::string_view bytes, std::uint32_t now);
  void Advance(std::uint32_t now);
  // When Advance is due; nullopt while nothing waits for the clock.
  std::optional<std::uint32_t> Deadline() const;

  // --- operations (each returns at once; the work goes on in the events) ---
  // The window opened in state "Linking": wait for stray text, then link.
  void Open(std::uint32_t now);
  // A line typed in "Commands" (the buttons build the same lines).
  void Execute(std::string_view line, std::uint32_t now);
  // The window is closing: a running operation stops; an active link exits.
  void Close(std::uint32_t now);

  // --- what the window shows ---
  int State = psLinking;
  bool Busy() const { return Running.Valid(); }
  // The exit ran or the link could not be made: the window is to close.
  bool Finished = false;
  std::vector<std::string> Lines;
  TLinkParameters Link;
  const TPadsOptions& Options() const { return Settings; }

 private:
  enum TWaitKind { wkNone, wkDelay, wkFrame };
  enum TReceiveResult { rrFrame, rrAck, rrNak, rrCrc, rrLength, rrTimeout };
  struct TReceived {
    TReceiveResult Result = rrTimeout;
    TFrame Frame;
  };
  // How one try of a request ended.
  enum TTryResult { trAnswered, trRefused, trLost };
  struct TTry {
    TTryResult Result = trLost;
    TFrame Frame;
  };
  struct TRequest {
    std::uint8_t Type = 0;
    std::uint8_t Extension = 0;
    std::string Data;
    int Status = scWaiting;  // the text shown while trying; -1 shows none
    int Block = 0;
    bool ResyncOnTimeout = false;
  };
  using TReply = std::optional<TFrame>;  // nullopt: the tries are used up

  struct TWait;
  TWait Wait(TWaitKind kind, std::uint32_t milliseconds);

  void Run(TTask<bool> task);
  void Resume();
  void Pump();
  void Finish();

  // Lines of the list; progress texts replace the progress text before them.
  void Show(const std::string& line);
  void ShowProgress(int code, int tries, int block = 0);
  void ShowError(int code, int tries = 0);
  void ShowRefusal(const char* what, const TFrame& frame);
  void ShowUnexpected(const TFrame& frame);

  std::size_t PendingCount() const { return Pending.size() - Head; }
  void Discard();
  TTask<bool> Pause(std::uint32_t milliseconds);
  TTask<bool> SendPart(std::string bytes);
  TTask<TReceived> ReceiveFrame(std::uint32_t timeout, bool acceptAcks);
  TTask<TTry> TryRequest(const TRequest& request, int tries, bool resyncing);
  TTask<TReply> Request(TRequest request, bool resyncing = false);
  TTask<bool> Resync();
  std::uint32_t ResponseTimeout(std::uint8_t type) const;
  TRequest FileRequest(std::uint8_t type, const TCommand& command, int status) const;

  TTask<bool> OpenTask();
  TTask<bool> ExitTask();
  TTask<bool> ReadTask(TCommand command);
  TTask<bool> ReadBlocks(std::FILE* file, const TCommand& command);
  struct TBlock {
    std::string Data;
    bool Last = false;
  };
  TTask<std::optional<TBlock>> GetBlock(int block);
  TTask<bool> WriteTask(TCommand command);
  TTask<bool> WriteBlocks(std::FILE* file, const TCommand& command);
  TTask<bool> PutBlock(int block, const std::string& data);
  TTask<bool> DeallocateTask(TCommand command);
  TTask<bool> CloseExchangeFile();

  TDesktop& Desktop;
  const TPadsOptions Settings;

  TTask<bool> Running;
  std::coroutine_handle<> Waiter;
  TWaitKind WaitKind = wkNone;
  std::uint32_t WaitUntil = 0;
  bool Resuming = false;
  bool ExitRunning = false;
  std::uint32_t Now = 0;

  std::string Pending;  // received, not yet read
  std::size_t Head = 0;
  TFrameReader Reader;
  TReceived LastReceived;
  bool LastLineIsProgress = false;
};

}  // namespace pads

// The clipboard commands: "&Paste Send" (the text goes to the host on the
// engine's tick), "Paste &Receive" (the text is fed to the receive side as if
// the host had sent it), "Paste to &Disk" and "C&ancel Paste". The three
// share one paste stream; only one paste runs at a time.
//
// The object plugs itself into the transfer engine's PasteSender and
// PasteReceiver hooks for its lifetime and keeps the gauge in the
// TCommandState it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class TSession;
struct TCommandState;

inline constexpr const char* kPasteBusyText = "Paste already in Progress. Cancel Previous";
inline constexpr const char* kAppendQuestion =
    "File already exists\r\nDo you wish to Append to the existing file?";

class TPaste {
 public:
  static constexpr std::size_t kReceiveBlock = 2048;  // bytes fed per tick
  static constexpr std::size_t kDiskBlock = 2049;     // bytes written at a time

  TPaste(TSession& session, TCommandState& state);
  ~TPaste();
  TPaste(const TPaste&) = delete;
  TPaste& operator=(const TPaste&) = delete;

  // The menu commands. Each does nothing when the clipboard holds no text
  // and is refused while a paste send or paste receive runs.
  void PasteSend();
  void PasteReceive();
  void PasteToDisk();
  // Stops either paste and frees the stream.
  void CancelPaste();

  // True while a paste send or paste receive runs.
  bool Running() const;
  // The characters of the stream not yet handled.
  std::size_t Remaining() const { return Stream.size() - Position; }

  // The engine's workers (bits 32 and 64).
  void SenderTick();
  void ReceiverTick();

  // Called whenever the gauge changed.
  std::function<void()> OnStateChanged;

 private:
  bool TakeClipboard(bool emptyIt);
  void ShowGauge(std::size_t maximum);
  void AdvanceGauge(std::size_t handled);
  void EndPaste(std::uint32_t bit);
  std::size_t SendLineEnd(std::uint8_t c);
  std::string ChooseDiskFile();
  void WriteToDisk(const std::string& name, bool append);
  void Changed();

  TSession& S;
  TCommandState& State;
  std::string Stream;
  std::size_t Position = 0;
};

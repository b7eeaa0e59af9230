#include "transfer/paste.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <optional>

#include "app/session.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "log/errors.h"
#include "log/file.h"
#include "log/logfiles.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"
#include "transfer/textbytes.h"

namespace {

// Opens name for appending, positioned so that the first byte written
// replaces a final Ctrl-Z. 0 or the errno.
int OpenForAppend(TFile& file, const std::string& name) {
  if (const int error = file.OpenReadWrite(name); error != 0) return error;
  const std::int64_t size = file.Size();
  if (size <= 0) return 0;
  std::uint8_t last = 0;
  const bool endsWithCtrlZ = file.Seek(static_cast<std::uint64_t>(size - 1)) == 0 &&
                             file.Read(&last, 1).Done == 1 && last == CtrlZ;
  return endsWithCtrlZ ? file.Seek(static_cast<std::uint64_t>(size - 1)) : file.SeekEnd();
}
}  // namespace

TPaste::TPaste(TSession& session, TCommandState& state) : S(session), State(state) {
  S.Transfer->PasteSender = [this] { SenderTick(); };
  S.Transfer->PasteReceiver = [this] { ReceiverTick(); };
}

TPaste::~TPaste() {
  S.Transfer->PasteSender = nullptr;
  S.Transfer->PasteReceiver = nullptr;
}

void TPaste::Changed() {
  ++S.Status.Changes;
  if (OnStateChanged) OnStateChanged();
}

bool TPaste::Running() const {
  return (S.Transfer->Activities & (acPasteSend | acPasteReceive)) != 0;
}

// The clipboard's text into the stream; false (and nothing changed) when the
// clipboard holds none or a paste runs.
bool TPaste::TakeClipboard(bool emptyIt) {
  const std::optional<std::string> text = S.Desktop.ClipboardText();
  if (!text || text->empty()) return false;
  if (Running()) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kPasteBusyText, "", mbOK | mbHelp, 0});
    return false;
  }
  Stream = *text;
  Position = 0;
  if (emptyIt) S.Desktop.SetClipboardText("");
  return true;
}

void TPaste::ShowGauge(std::size_t maximum) {
  State.GaugeVisible = true;
  State.GaugeProgress = 0;
  State.GaugeMax = std::max(1, GaugeValue(maximum));
  Changed();
}

void TPaste::AdvanceGauge(std::size_t handled) {
  if (handled == 0) return;
  State.GaugeProgress = GaugeValue(static_cast<std::size_t>(std::max(0, State.GaugeProgress)) + handled);
  Changed();
}

void TPaste::EndPaste(std::uint32_t bit) {
  S.Transfer->Activities &= ~bit;
  Stream.clear();
  Stream.shrink_to_fit();
  Position = 0;
  State.GaugeVisible = false;
  Changed();
}

void TPaste::PasteSend() {
  if (!TakeClipboard(false)) return;
  S.Transfer->Activities |= acPasteSend;
  ShowGauge(Stream.size());
}

void TPaste::PasteReceive() {
  if (!TakeClipboard(true)) return;
  S.Transfer->Activities |= acPasteReceive;
  ShowGauge(Stream.size());
}

void TPaste::CancelPaste() { EndPaste(acPasteSend | acPasteReceive); }

void TPaste::SenderTick() {
  TTransferEngine& engine = *S.Transfer;
  if (!(engine.Activities & acPasteSend)) return;
  const bool ctrlZAtEnd = S.Settings.EOFCtrlZ != 0;
  std::size_t handled = 0;
  for (int budget = std::max(1, S.Transmit->CharsPerTick); budget > 0; --budget) {
    if (Position >= Stream.size() || Stream[Position] == '\0') {
      EndPaste(acPasteSend);
      return;
    }
    if (engine.SendDelayRunning()) break;  // c is read again on the next tick
    const auto c = static_cast<std::uint8_t>(Stream[Position]);
    std::size_t taken = 1;
    if (!IsLineEnd(c)) {
      if (c != CtrlZ || ctrlZAtEnd) S.Transmit->SendByte(c);
    } else {
      taken = SendLineEnd(c);
    }
    Position += taken;
    handled += taken;
  }
  AdvanceGauge(handled);
}

// Sends c as "End Of Line" says; returns the characters taken (2 for a pair).
std::size_t TPaste::SendLineEnd(std::uint8_t c) {
  const int next = Position + 1 < Stream.size() ? static_cast<std::uint8_t>(Stream[Position + 1]) : -1;
  const TLineEndOut out = ConvertLineEnd(S.Settings.EOL, c, next);
  for (std::uint8_t i = 0; i < out.Count; ++i) S.Transmit->SendByte(static_cast<std::uint8_t>(out.Bytes[i]));
  return out.Taken;
}

void TPaste::ReceiverTick() {
  TTransferEngine& engine = *S.Transfer;
  if (!(engine.Activities & acPasteReceive)) return;
  const std::size_t end = std::min(Stream.size(), Position + kReceiveBlock);
  if (Position >= end) {
    EndPaste(acPasteReceive);
    return;
  }
  std::size_t handled = 0;
  while (Position < end) {
    const auto c = static_cast<std::uint8_t>(Stream[Position]);
    if (c == 0) {
      EndPaste(acPasteReceive);
      return;
    }
    ++Position;
    ++handled;
    engine.DispatchReceivedByte(c);
    // What the bytes did may have cancelled the paste.
    if (!(engine.Activities & acPasteReceive)) return;
  }
  AdvanceGauge(handled);
}

std::string TPaste::ChooseDiskFile() {
  TFileDialog dialog;
  dialog.Save = true;
  dialog.Title = "Save marked Screen to File";
  dialog.Filter = "Log File (*.LOG)|*.LOG";
  const std::string logName = S.Settings.LogFileName.str();
  const std::filesystem::path proposed(logName);
  dialog.InitialName = proposed.filename().string();
  dialog.InitialDirectory = proposed.has_parent_path() ? proposed.parent_path().string() : S.ProgramDirectory;
  return S.Desktop.FileDialog(dialog).value_or("");
}

void TPaste::PasteToDisk() {
  const std::optional<std::string> text = S.Desktop.ClipboardText();
  if (!text || text->empty()) return;
  if (Running()) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kPasteBusyText, "", mbOK | mbHelp, 0});
    return;
  }
  const std::string name = ChooseDiskFile();
  if (name.empty()) return;
  bool append = false;
  if (FileExists(name)) {
    const TMsgResult answer =
        S.Desktop.ShowMessage({TMsgIcon::Confirmation, kAppendQuestion, "", mbYes | mbNo | mbCancel, 0});
    if (answer != TMsgResult::Yes && answer != TMsgResult::No) return;
    append = answer == TMsgResult::Yes;
  }
  Stream = *text;
  Position = 0;
  WriteToDisk(name, append);
  Stream.clear();
  Stream.shrink_to_fit();
  State.GaugeVisible = false;
  Changed();
}

void TPaste::WriteToDisk(const std::string& name, bool append) {
  TFile file;
  file.SetFaults(&S.Files->Faults);
  const int error = append ? OpenForAppend(file, name) : file.Create(name);
  if (error != 0) {
    S.Errors->ReportErrno(ekFileAccess, error, name);
    return;
  }
  ShowGauge(Stream.size());
  while (Position < Stream.size()) {
    const std::size_t block = std::min(kDiskBlock, Stream.size() - Position);
    const std::size_t zero = Stream.find('\0', Position);
    const bool zeroInBlock = zero != std::string::npos && zero < Position + block;
    const std::size_t length = zeroInBlock ? zero - Position : block;
    const TIoResult written = file.Write(Stream.data() + Position, length);
    if (written.Done < length) {
      // The clipboard keeps the text: nothing of it is lost with the disk full.
      if (written.Error == ENOSPC || written.Error == 0) {
        S.Errors->ReportError(ekDiskFull, 0, name);
      } else {
        S.Errors->ReportErrno(ekFileAccess, written.Error, name);
      }
      return;
    }
    Position += block;
    AdvanceGauge(block);
    if (zeroInBlock) break;
  }
  S.Desktop.SetClipboardText("");
}

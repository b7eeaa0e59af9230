// The host's transfer sequences (ESC [ > P1 ; P2 ; P3 ... s and r) with any
// parameters, in the middle of a session that also ticks, types, loses its
// line, comes back and cancels, with the window's sender and receiver in
// place. Whatever the host asks: the user's own file is never changed, a
// receive writes only into its directory and stores no more than its limit,
// a lost line leaves nothing running, and at the end keys work again.
//
// Program: a settings byte, then operations, each an opcode byte and its
// arguments; the work of one input is capped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "app/mainform.h"
#include "comms/transmit.h"
#include "fuzzing.h"
#include "log/logfiles.h"
#include "terminal/keyboard.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"
#include "transfer/receive.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kReceiveLimit = 4096;
constexpr std::size_t kMaxOperations = 200;
const std::string kUserFile = "PRECIOUS USER DATA\r\nsecond line\r\n\x1a";

struct TWorld {
  std::string Dir = FuzzDirectory();
  std::string UserFile = Dir + "exchange.txt";
  std::string ReceiveDir = Dir + "received";
  // Every input starts from the same files.
  void Reset() const {
    std::error_code ignored;
    fs::remove_all(ReceiveDir, ignored);
    fs::create_directory(ReceiveDir, ignored);
    std::ofstream(UserFile, std::ios::binary | std::ios::trunc) << kUserFile;
  }
};

const TWorld& World() {
  static const TWorld world;
  return world;
}

class TFuzzSession : TLineSession {
 public:
  explicit TFuzzSession(std::uint8_t settings) {
    World().Reset();
    S.Settings.Emulation = static_cast<std::uint8_t>(settings % 5);
    S.Settings.EOL = static_cast<std::uint8_t>((settings >> 4) % 5);
    S.Settings.EOFCtrlZ = (settings >> 7) & 1;
    S.Settings.SendReceiveFileName.assign(World().UserFile);
    Start((settings & 0x08) != 0);
    THostTransferPermit& permit = S.Transfer->HostTransfers;
    permit.ReceiveDirectory = World().ReceiveDir;
    permit.ReceiveLimit = kReceiveLimit;
  }

  void Run(TFuzzInput& p) {
    for (std::size_t n = 0; n < kMaxOperations && p.More(); ++n) {
      Step(p);
      // Every receive here is the host's: none stores more than the limit.
      if (S.Files->ReceivedBytes > kReceiveLimit) std::abort();
    }
    // The line goes for good: nothing may be left running.
    Connect(false);
    Check();
    Connect(true);
    const std::string text = "\x1b[Hafter";
    Receive(text);
    Line.Sent.clear();
    S.HandleSessionEvent(sekKey, 'k');
    if (Line.Sent.empty()) std::abort();  // keys reach the host again
  }

 private:
  void Step(TFuzzInput& p) {
    switch (p.Byte() % 8) {
      case 0: {
        // A transfer request with whatever the host puts in it.
        const std::uint8_t form = p.Byte();
        std::string request = "\x1b[>";
        const int parameters = form % 6;
        for (int i = 0; i < parameters; ++i) {
          if (i > 0) request += ';';
          const std::uint8_t value = p.Byte();
          request += std::to_string(value < 200 ? value % 4 : value * 37u);
        }
        request += (form & 0x40) ? 's' : 'r';
        Receive(request);
        return;
      }
      case 1:
        Receive(std::string(p.Bytes(p.Byte())));
        return;
      case 2:
        for (int i = 1 + p.Byte() % 32; i > 0; --i) S.TimerTick();
        return;
      case 3:
        S.HandleSessionEvent(sekKey, p.Byte());
        return;
      case 4:
        Connect(false);
        Check();
        return;
      case 5:
        Connect(true);
        return;
      case 6:
        Form.CancelTransfer();
        return;
      default: {
        // The host floods a receive.
        const std::size_t count = 1 + p.Byte() * 40u;
        Receive(std::string(count, static_cast<char>(p.Byte())));
        return;
      }
    }
  }

  void Connect(bool up) {
    S.Transmit->Network = &Line;
    S.Transmit->NetworkConnected = up;
    if (!up) S.Transfer->LineEnded();
  }

  // With no line up nothing runs and nothing of the user's was changed.
  void Check() {
    const TTransferEngine& engine = *S.Transfer;
    if (engine.TransferActive) std::abort();
    if (engine.Activities & acFileSend) std::abort();
    if (S.Files->TransferFileState != TLogFiles::tsClosed) std::abort();
    if (ReadFuzzFile(World().UserFile) != kUserFile) std::abort();
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(World().Dir, error)) {
      const std::string name = entry.path().filename().string();
      if (name != "exchange.txt" && name != "received") std::abort();  // written where it was not allowed
    }
  }

  TMainForm Form{S};
  TPacedSend Sender{S, Form.State};
  TFileReceive Receiver{S, Form.State};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  TFuzzInput program(data + 1, size - 1);
  TFuzzSession session(data[0]);
  session.Run(program);
  return 0;
}

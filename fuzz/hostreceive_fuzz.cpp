// The path of a receive the host started: the request, then the host's bytes
// into the window's receiver, on a plain or a Telnet line, in blocks as a
// socket read delivers them in one session and byte by byte in another. Both
// must store the same file, count the same bytes and show the same screen;
// neither stores more than the host's count or the receive limit, and on a
// plain line a binary receive stores the host's bytes exactly.
//
// Input: a byte of settings (binary or text, Telnet, the count given or not),
// a byte of block size, then the host's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzzing.h"
#include "log/logfiles.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/receive.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kReceiveLimit = 3000;

struct TReceiveSession : TLineSession {
  TCommandState State;
  TFileReceive Receiver{S, State};
  std::string Directory;

  TReceiveSession(const std::string& name, bool telnet) : Directory(FuzzDirectory() + name) {
    std::error_code ignored;
    fs::remove_all(Directory, ignored);
    fs::create_directory(Directory, ignored);
    S.Settings.Emulation = emVT100;
    Start(telnet);
    THostTransferPermit& permit = S.Transfer->HostTransfers;
    permit.ReceiveDirectory = Directory;
    permit.ReceiveLimit = kReceiveLimit;
  }
  void Receive(const std::uint8_t* data, std::size_t size) { S.ReceiveBytes(data, size); }
  using TLineSession::Receive;
  std::string Stored() { return ReadFuzzFile(Directory + "/received"); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t settings = data[0];
  const std::size_t chunk = 1 + data[1];
  data += 2;
  size -= 2;
  const bool binary = (settings & 1) == 0;
  const bool telnet = (settings & 2) != 0;
  const std::size_t count = (settings & 4) ? std::min<std::size_t>(size, settings >> 3) : 0;
  // Type, an existing file replaced, the count.
  const std::string request = "\x1b[>" + std::string(binary ? "0" : "1") + ";1;" + std::to_string(count) + "r";

  TReceiveSession blocks("blocks", telnet);
  TReceiveSession bytes("bytes", telnet);
  blocks.Receive(request);
  bytes.Receive(request);
  if (!blocks.S.Transfer->TransferActive || blocks.Line.Sent != "Y") std::abort();
  for (std::size_t done = 0; done < size; done += chunk) blocks.Receive(data + done, std::min(chunk, size - done));
  for (std::size_t i = 0; i < size; ++i) bytes.S.HandleSessionEvent(sekReceivedByte, data[i]);
  blocks.S.TimerTick();
  bytes.S.TimerTick();

  if (blocks.S.Files->ReceivedBytes != bytes.S.Files->ReceivedBytes) std::abort();
  if (blocks.S.Transfer->TransferActive != bytes.S.Transfer->TransferActive) std::abort();
  const std::string stored = blocks.Stored();
  if (stored != bytes.Stored()) std::abort();
  if (stored.size() > kReceiveLimit || stored.size() > size) std::abort();
  if (binary && count > 0 && stored.size() > count) std::abort();
  if (binary && !telnet && stored != std::string(reinterpret_cast<const char*>(data), stored.size())) std::abort();
  if (!SameStoreLines(blocks.S, bytes.S)) std::abort();
  if (blocks.Line.Sent != bytes.Line.Sent) std::abort();
  return 0;
}

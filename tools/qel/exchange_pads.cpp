#include "exchange_pads.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "options.h"

namespace {

using namespace pads;
namespace fs = std::filesystem;

constexpr const char* kBanner = "\r\nQUORIX PADS FILE SERVER\r\n";
constexpr std::uint16_t kVersionImproved = 2;
constexpr std::uint16_t kVersionOld = 1;
constexpr std::size_t kNameSize = 18;

enum TExchangeStatus {
  esOk = 0,
  esCmdType = 5,
  esCmdLength = 6,
  esCrc = 7,
  esOpen = 9,
  esFileNotFound = 10,
  esWrite = 11,
  esRead = 12,
  esEof = 13,
  esDealloc = 15,
};

bool TakeCount(int argc, char** argv, int& i, const char* option, int& target, std::string& error, int& taken) {
  std::string value;
  bool missing = false;
  if (!TakeValue(argc, argv, i, option, value, missing)) return false;
  taken = 1;
  if (missing || value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos) {
    error = std::string(option) + " needs a number";
    taken = -1;
    return true;
  }
  target = std::stoi(value);
  return true;
}

}  // namespace

int TakePadsOption(int argc, char** argv, int& i, TPadsServerOptions& options, std::string& error) {
  std::string value;
  bool missing = false;
  if (TakeValue(argc, argv, i, "--pads-dir", value, missing)) {
    if (missing) {
      error = "--pads-dir needs a directory";
      return -1;
    }
    options.Dir = value;
    return 1;
  }
  int taken = 0;
  if (TakeCount(argc, argv, i, "--corrupt-check", options.CorruptCheck, error, taken) ||
      TakeCount(argc, argv, i, "--drop-frame", options.DropFrame, error, taken) ||
      TakeCount(argc, argv, i, "--nak", options.Nak, error, taken) ||
      TakeCount(argc, argv, i, "--stall", options.Stall, error, taken) ||
      TakeCount(argc, argv, i, "--stall-ms", options.StallMs, error, taken)) {
    return taken;
  }
  if (TakeCount(argc, argv, i, "--pads-block", options.Block, error, taken)) {
    if (taken > 0 && (options.Block < 1 || options.Block > 16383)) {
      error = "--pads-block needs 1..16383";
      return -1;
    }
    return taken;
  }
  return 0;
}

TPadsServer::TPadsServer(TPadsServerOptions options, TClock clock)
    : Options(std::move(options)), Clock(std::move(clock)) {}

void TPadsServer::Start() { Out += kBanner; }

std::string TPadsServer::PhysicalName(std::uint16_t device, std::uint16_t file) {
  char name[32];
  std::snprintf(name, sizeof name, "D%03uF%05u.PAD", unsigned{device}, unsigned{file});
  std::string padded = name;
  padded.resize(kNameSize, ' ');
  return padded;
}

void TPadsServer::Receive(std::string_view bytes) {
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (Mode == mdFrames) FrameByte(b);
    else LineByte(b);
  }
}

void TPadsServer::Tick() {
  if (!Held.empty() && Clock() >= HeldUntil) {
    Out += Held;
    Held.clear();
  }
  // A frame cut off (the terminal gave up on it) does not swallow the next.
  if (State != fsSeek && Clock() - FrameStart > kFrameGapMs) State = fsSeek;
}

// ------------------------------------------------------------ the line

void TPadsServer::LineByte(std::uint8_t b) {
  if (b == '\r') {
    std::string line;
    for (const char c : Line) line.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    Line.clear();
    if (Mode == mdPassword) {
      Mode = mdFrames;
      State = fsSeek;
      return;
    }
    Out += "\r\n";
    if (line.rfind("PAD", 0) == 0) {
      Out += "PASSWORD:\x03";
      Mode = mdPassword;
    } else if (!line.empty()) {
      Out += "TYPE PAD TO START THE FILE SERVER\r\n";
    }
    return;
  }
  if (b < 32 || b >= 127) return;
  if (Line.size() < 80) Line.push_back(static_cast<char>(b));
  if (Mode == mdLine) Out.push_back(static_cast<char>(b));  // the password is not echoed
}

// ------------------------------------------------------------ frames in

void TPadsServer::FrameByte(std::uint8_t b) {
  switch (State) {
    case fsSeek:
      if (b != kStx) return;
      Frame.assign(1, static_cast<char>(b));
      FrameStart = Clock();
      State = fsHeader;
      return;
    case fsHeader:
      Frame.push_back(static_cast<char>(b));
      if (Frame.size() == kHeaderSize) HeaderDone();
      return;
    case fsRest:
      Frame.push_back(static_cast<char>(b));
      if (Frame.size() == Expected) FrameDone();
      return;
  }
}

void TPadsServer::HeaderDone() {
  const auto length = static_cast<std::uint8_t>(Frame[1]);
  const auto type = static_cast<std::uint8_t>(Frame[2]);
  const auto extension = static_cast<std::uint8_t>(Frame[3]);
  const bool refused = length > kMaxLengthByte || ++HeadersSeen == Options.Nak;
  Out.push_back(static_cast<char>(refused ? kNak : kAck));
  if (refused) {
    State = fsSeek;
    return;
  }
  const std::size_t data = LongFrame(type, NewProtocol) ? std::size_t{extension} * 64 + length : length;
  Expected = kHeaderSize + data + 2;
  State = fsRest;
}

void TPadsServer::FrameDone() {
  State = fsSeek;
  TFrame request;
  request.Type = static_cast<std::uint8_t>(Frame[2]);
  request.Extension = static_cast<std::uint8_t>(Frame[3]);
  const std::string_view body(Frame.data() + 1, Frame.size() - 3);
  if (CheckByte(body) != static_cast<std::uint8_t>(Frame[Frame.size() - 2])) {
    Reply(request.Type == ftData ? std::uint8_t{ftDataLast} : request.Type, esCrc);
    return;
  }
  if (static_cast<std::uint8_t>(Frame.back()) != kEtx) {
    Reply(request.Type == ftData ? std::uint8_t{ftDataLast} : request.Type, esCmdLength);
    return;
  }
  request.Data.assign(Frame.data() + kHeaderSize, Frame.size() - kHeaderSize - 2);
  Answer(request);
}

// ------------------------------------------------------------ frames out

void TPadsServer::Emit(const std::string& frame) {
  ++FramesSent;
  if (FramesSent == Options.DropFrame) return;
  std::string bytes = frame;
  if (FramesSent == Options.CorruptCheck) bytes[bytes.size() - 2] = static_cast<char>(~bytes[bytes.size() - 2]);
  std::string& target = Held.empty() ? Out : Held;
  if (FramesSent != Options.Stall) {
    target += bytes;
    return;
  }
  const std::size_t half = bytes.size() / 2;
  target += bytes.substr(0, half);
  Held += bytes.substr(half);
  HeldUntil = Clock() + Options.StallMs;
}

void TPadsServer::Reply(std::uint8_t type, int status, const std::string& data) {
  Emit(BuildFrame(type, static_cast<std::uint8_t>(status), data, NewProtocol));
}

void TPadsServer::Answer(const TFrame& request) {
  switch (request.Type) {
    case ftLink: return Link(request);
    case ftResync:
      Pending.clear();
      return Reply(ftResync, esOk);
    case ftExit:
      CloseFiles();
      Mode = mdLine;
      return Reply(ftExit, esOk);
    case ftOpenRead: return OpenFile(request, false);
    case ftOpenWrite: return OpenFile(request, true);
    case ftClose:
      CloseFiles();
      return Reply(ftClose, esOk);
    case ftDeallocate: return Deallocate(request);
    case ftGetBlock: return GetBlock(request);
    case ftWriteBlock: return WriteBlock(request);
    case ftData:
    case ftDataLast:
      if (Pending.size() + request.Data.size() > LoadBlock) return Reply(ftDataLast, esCmdLength);
      Pending += request.Data;
      return Reply(ftDataLast, esOk);
    case ftGetDescription: return Describe(request);
    default: return Reply(request.Type, esCmdType);
  }
}

void TPadsServer::Link(const TFrame& request) {
  const bool improved = request.Extension == 2;
  LoadBlock = GetBlockSize = improved ? static_cast<std::size_t>(Options.Block) : 64;
  std::string data;
  Put16(data, improved ? kVersionImproved : kVersionOld);
  Put16(data, static_cast<std::uint16_t>(LoadBlock));
  Put16(data, static_cast<std::uint16_t>(GetBlockSize));
  Reply(ftLink, esOk, data);
  NewProtocol = LoadBlock > static_cast<std::size_t>(kMaxLengthByte);
}

std::string TPadsServer::PathOf(const TFrame& request) const {
  std::string name = PhysicalName(Get16(request.Data, 0), Get16(request.Data, 2));
  name.resize(name.find(' '));
  return (fs::path(Options.Dir) / name).string();
}

void TPadsServer::CloseFiles() {
  Reading.close();
  Reading.clear();
  Writing.close();
  Writing.clear();
  Pending.clear();
  LastWritten = -1;
}

void TPadsServer::OpenFile(const TFrame& request, bool writing) {
  CloseFiles();
  const std::string path = PathOf(request);
  std::string sub;
  Put16(sub, 0);
  if (writing) {
    Writing.open(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    return Reply(ftOpenWrite, Writing ? esOk : esOpen, sub);
  }
  Reading.open(path, std::ios::binary);
  Reply(ftOpenRead, Reading ? esOk : esFileNotFound, sub);
}

// The block's size in the answer, then its data: type-12 frames (one long
// frame under the new protocol) and a type-13 frame with the last bytes.
void TPadsServer::GetBlock(const TFrame& request) {
  if (!Reading.is_open()) return Reply(ftGetBlock, esRead);
  const std::size_t block = Get16(request.Data, 0);
  std::string data(GetBlockSize, '\0');
  Reading.clear();
  Reading.seekg(static_cast<std::streamoff>(block * GetBlockSize));
  Reading.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<std::size_t>(Reading.gcount()));
  const bool last = data.size() < GetBlockSize || Reading.peek() == std::char_traits<char>::eof();
  std::string size;
  Put16(size, static_cast<std::uint16_t>(data.size()));
  Reply(ftGetBlock, last ? esEof : esOk, size);
  const std::size_t lastSize = data.empty() ? 0 : (data.size() - 1) % kMaxLengthByte + 1;
  const std::size_t body = data.size() - lastSize;
  const std::size_t step = MaxDataLength(ftData, NewProtocol);
  for (std::size_t at = 0; at < body; at += step) {
    Emit(BuildFrame(ftData, 0, data.substr(at, std::min(step, body - at)), NewProtocol));
  }
  Emit(BuildFrame(ftDataLast, esOk, data.substr(body), NewProtocol));
}

// A repeated request for the block just written (its answer went astray)
// is answered again without writing.
void TPadsServer::WriteBlock(const TFrame& request) {
  const int block = Get16(request.Data, 0);
  if (!Writing.is_open()) return Reply(ftWriteBlock, esWrite);
  if (Pending.empty() && block == LastWritten) return Reply(ftWriteBlock, esOk);
  Writing.seekp(static_cast<std::streamoff>(static_cast<std::size_t>(block) * LoadBlock));
  Writing.write(Pending.data(), static_cast<std::streamsize>(Pending.size()));
  Writing.flush();
  Pending.clear();
  LastWritten = block;
  Reply(ftWriteBlock, Writing ? esOk : esWrite);
}

void TPadsServer::Deallocate(const TFrame& request) {
  std::error_code error;
  const bool removed = fs::remove(PathOf(request), error);
  Reply(ftDeallocate, removed ? esOk : (error ? esDealloc : esFileNotFound));
}

void TPadsServer::Describe(const TFrame& request) {
  std::string data = PhysicalName(Get16(request.Data, 0), Get16(request.Data, 2));
  std::error_code error;
  const auto size = fs::file_size(PathOf(request), error);
  const std::uint32_t bytes = error ? 0 : static_cast<std::uint32_t>(size);
  Put16(data, static_cast<std::uint16_t>(bytes & 0xFFFF));
  Put16(data, static_cast<std::uint16_t>(bytes >> 16));
  Reply(ftGetDescription, esOk, data);
}

// ------------------------------------------------------------ the line loop

int ServePads(int fd, const TPadsServerOptions& options, const std::function<bool(pollfd*, nfds_t)>& wait) {
  const auto now = [] {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  };
  TPadsServer server(options, now);
  server.Start();
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    const std::string_view out = server.Output();
    pollfd ready{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    if (!wait(&ready, 1)) return 0;
    if (ready.revents & POLLOUT) {
      const ssize_t n = ::write(fd, out.data(), out.size());
      if (n > 0) server.Consume(static_cast<std::size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EINTR) return 0;
    }
    if (ready.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n > 0) server.Receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      if (n == 0) return 0;  // the line went down
      // A pty whose other side is closed reports EIO until someone opens it again.
      if (n < 0 && errno == EIO) {
        if (!wait(nullptr, 0)) return 0;
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return 0;
      }
    }
    server.Tick();
  }
}

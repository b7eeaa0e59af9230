#include "transfer/pads.h"

#include <filesystem>
#include <memory>
#include <utility>

#include "core/desktop.h"

namespace pads {

// Outside the anonymous namespace: the frames of the coroutines below hold
// one, and a frame's type has external linkage.
struct TCloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFileHandle = std::unique_ptr<std::FILE, TCloseFile>;

namespace {

constexpr std::size_t kLineLimit = 2000;       // the list keeps the newest lines
constexpr std::size_t kIdleInputLimit = 65536;  // text arriving while nothing reads it
constexpr std::size_t kNameSize = 18;           // physical name in a file description

bool Succeeded(const TFrame& frame) { return frame.Status() == 0 || frame.Status() == 1; }

bool Reached(std::uint32_t now, std::uint32_t deadline) { return static_cast<std::int32_t>(now - deadline) >= 0; }

// The exchange answers a block data frame with a type-13 frame: its
// extension is then a status, which a long type-12 frame cannot carry.
std::uint8_t ResponseType(std::uint8_t type) { return type == ftData ? std::uint8_t{ftDataLast} : type; }

bool LocalFileExists(const std::string& name) {
  std::error_code error;
  return std::filesystem::exists(name, error);
}

}  // namespace

struct TPadsProtocol::TWait {
  TPadsProtocol& P;
  TWaitKind Kind;
  std::uint32_t Milliseconds;
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> waiting) noexcept {
    P.Waiter = waiting;
    P.WaitKind = Kind;
    P.WaitUntil = P.Now + Milliseconds;
  }
  void await_resume() const noexcept {}
};

TPadsProtocol::TPadsProtocol(TDesktop& desktop, TPadsOptions options) : Desktop(desktop), Settings(options) {}

TPadsProtocol::~TPadsProtocol() {
  Waiter = {};
  Running.Reset();
}

TPadsProtocol::TWait TPadsProtocol::Wait(TWaitKind kind, std::uint32_t milliseconds) {
  return TWait{*this, kind, milliseconds};
}

// ------------------------------------------------------------ the driving

void TPadsProtocol::Received(std::string_view bytes, std::uint32_t now) {
  Now = now;
  Pending.append(bytes);
  if (!Waiter && !Resuming && PendingCount() > kIdleInputLimit) Discard();
  Pump();
}

void TPadsProtocol::Advance(std::uint32_t now) {
  Now = now;
  Pump();
}

std::optional<std::uint32_t> TPadsProtocol::Deadline() const {
  if (!Waiter) return std::nullopt;
  return WaitUntil;
}

void TPadsProtocol::Run(TTask<bool> task) {
  Running = std::move(task);
  Resuming = true;
  Running.Start();
  Resuming = false;
  Pump();
  if (Changed) Changed();
}

void TPadsProtocol::Resume() {
  const std::coroutine_handle<> waiting = std::exchange(Waiter, {});
  WaitKind = wkNone;
  Resuming = true;
  waiting.resume();
  Resuming = false;
}

// Resumes the running operation for as long as what it waits for is there.
void TPadsProtocol::Pump() {
  if (Resuming) return;
  while (Waiter) {
    if (WaitKind == wkFrame) {
      bool complete = false;
      while (Head < Pending.size() && !complete) {
        const TFrameReader::TResult result = Reader.Feed(static_cast<std::uint8_t>(Pending[Head++]));
        if (result == TFrameReader::rsMore) continue;
        complete = true;
        LastReceived = {};
        switch (result) {
          case TFrameReader::rsFrame:
            LastReceived.Result = rrFrame;
            LastReceived.Frame = std::move(Reader.Frame);
            break;
          case TFrameReader::rsAck: LastReceived.Result = rrAck; break;
          case TFrameReader::rsNak: LastReceived.Result = rrNak; break;
          case TFrameReader::rsCrcError: LastReceived.Result = rrCrc; break;
          default: LastReceived.Result = rrLength; break;
        }
      }
      if (Head == Pending.size()) {
        Pending.clear();
        Head = 0;
      }
      if (complete) {
        Resume();
        continue;
      }
    }
    if (!Reached(Now, WaitUntil)) break;
    LastReceived = {};
    LastReceived.Result = WaitKind == wkFrame && Reader.Draining() ? rrLength : rrTimeout;
    Resume();
  }
  if (Running.Done()) Finish();
}

void TPadsProtocol::Finish() {
  try {
    Running.Result();
  } catch (const std::exception& error) {
    Show(std::string("?? ") + error.what());
  }
  Running.Reset();
  if (State == psActive) ShowProgress(scWaiting, 0);
  if (Changed) Changed();
}

// ------------------------------------------------------------ the list

void TPadsProtocol::Show(const std::string& line) {
  if (Lines.size() >= kLineLimit) Lines.erase(Lines.begin(), Lines.begin() + kLineLimit / 2);
  Lines.push_back(line);
  LastLineIsProgress = false;
  if (Changed) Changed();
}

void TPadsProtocol::ShowProgress(int code, int tries, int block) {
  if (LastLineIsProgress && !Lines.empty()) Lines.pop_back();
  Show(StatusText(code, tries, block));
  LastLineIsProgress = true;
}

void TPadsProtocol::ShowError(int code, int tries) { Show(StatusText(code, tries)); }

void TPadsProtocol::ShowRefusal(const char* what, const TFrame& frame) {
  Show(std::string("?? Unsuccesfull ") + what + ". Main code = " + std::to_string(frame.Status()));
  Show("Sub  code = " + std::to_string(Get16(frame.Data, 0)));
}

void TPadsProtocol::ShowUnexpected(const TFrame& frame) {
  Show("?? Unexpected error received " + ExchangeCodeName(frame.Status()));
}

// ------------------------------------------------------------ frames

void TPadsProtocol::Discard() {
  Pending.clear();
  Head = 0;
  if (DiscardInput) DiscardInput();
}

TTask<bool> TPadsProtocol::Pause(std::uint32_t milliseconds) {
  co_await Wait(wkDelay, milliseconds);
  co_return true;
}

TTask<bool> TPadsProtocol::SendPart(std::string bytes) {
  if (Settings.DelayTenths > 0) co_await Wait(wkDelay, static_cast<std::uint32_t>(Settings.DelayTenths) * 100);
  if (Send) Send(bytes);
  co_return true;
}

TTask<TPadsProtocol::TReceived> TPadsProtocol::ReceiveFrame(std::uint32_t timeout, bool acceptAcks) {
  Reader.Start(acceptAcks, Link.NewProtocol);
  co_await Wait(wkFrame, timeout);
  TReceived got = std::move(LastReceived);
  if (got.Result == rrTimeout) {
    // The exchange may sit inside a frame: an ETX ends it there.
    if (Send) Send(std::string(1, static_cast<char>(kEtx)));
    co_await Wait(wkDelay, kPause);
  }
  co_return got;
}

std::uint32_t TPadsProtocol::ResponseTimeout(std::uint8_t type) const {
  switch (type) {
    case ftOpenRead:
    case ftOpenWrite:
    case ftDeallocate:
    case ftGetDescription: return kFileTimeout;
    case ftData:
    case ftDataLast: return kDataTimeout;
    default: return kOtherTimeout;
  }
}

TTask<TPadsProtocol::TTry> TPadsProtocol::TryRequest(const TRequest& request, int tries, bool resyncing) {
  Discard();
  if (request.Status >= 0) ShowProgress(request.Status, tries, request.Block);
  const std::string frame = BuildFrame(request.Type, request.Extension, request.Data, Link.NewProtocol);
  co_await SendPart(frame.substr(0, kHeaderSize));
  // Frames still on their way from before this request (the rest of a
  // block after a damaged answer) are not its answer: the ACK comes after them.
  const std::uint32_t until = Now + kHeaderTimeout;
  TReceived answer = co_await ReceiveFrame(kHeaderTimeout, true);
  while (answer.Result != rrAck && answer.Result != rrNak && answer.Result != rrTimeout && !Reached(Now, until)) {
    answer = co_await ReceiveFrame(until - Now, true);
  }
  if (answer.Result != rrAck) {
    ShowError(scHeaderNacked);
    co_await Pause(kPause);
    co_return TTry{trRefused, {}};
  }
  co_await SendPart(frame.substr(kHeaderSize));
  TReceived reply = co_await ReceiveFrame(ResponseTimeout(request.Type), false);
  bool resync = !resyncing;
  switch (reply.Result) {
    case rrFrame: break;
    case rrTimeout:
      ShowError(scTimeout, tries);
      resync = resync && request.ResyncOnTimeout;
      break;
    case rrCrc: ShowError(scCrcFault, tries); break;
    default: ShowError(scWrongLength, tries); break;
  }
  if (reply.Result == rrFrame && reply.Frame.Type != ResponseType(request.Type)) ShowError(scWrongMsg);
  else if (reply.Result == rrFrame) {
    const int rejection = RejectionStatus(reply.Frame.Status());
    if (rejection < 0) co_return TTry{trAnswered, std::move(reply.Frame)};
    // The exchange threw the frame away: send it again.
    ShowError(rejection);
    co_await Pause(kPause);
    co_return TTry{trRefused, {}};
  }
  if (resync) co_await Resync();
  co_return TTry{trLost, {}};
}

TTask<TPadsProtocol::TReply> TPadsProtocol::Request(TRequest request, bool resyncing) {
  for (int tries = 1; tries <= Settings.Retries; ++tries) {
    TTry result = co_await TryRequest(request, tries, resyncing);
    if (result.Result == trAnswered) co_return std::move(result.Frame);
  }
  co_return std::nullopt;
}

// Runs like any request, but keeps the text on show and never resyncs itself.
TTask<bool> TPadsProtocol::Resync() {
  TRequest request;
  request.Type = ftResync;
  request.Status = -1;
  const TReply reply = co_await Request(request, true);
  co_return reply.has_value();
}

TPadsProtocol::TRequest TPadsProtocol::FileRequest(std::uint8_t type, const TCommand& command, int status) const {
  TRequest request;
  request.Type = type;
  request.Status = status;
  Put16(request.Data, command.Device);
  Put16(request.Data, command.File);
  request.Data += "**";
  return request;
}

// ------------------------------------------------------------ operations

void TPadsProtocol::Open(std::uint32_t now) {
  Now = now;
  if (Busy()) return;
  State = psLinking;
  Run(OpenTask());
}

void TPadsProtocol::Execute(std::string_view line, std::uint32_t now) {
  Now = now;
  if (Busy() || State != psActive) return;
  TCommand command = ParseCommand(line);
  if (!command.Error.empty()) {
    Show(command.Error);
    return;
  }
  switch (command.Kind) {
    case ckExit: Run(ExitTask()); break;
    case ckRead: Run(ReadTask(std::move(command))); break;
    case ckWrite: Run(WriteTask(std::move(command))); break;
    case ckDeallocate: Run(DeallocateTask(std::move(command))); break;
    default: break;
  }
}

void TPadsProtocol::Close(std::uint32_t now) {
  Now = now;
  if (Resuming || Finished) return;
  if (ExitRunning) return;
  const bool linked = State == psActive;
  // What runs stops here; its local file is closed with it.
  Waiter = {};
  Running.Reset();
  if (linked) {
    Run(ExitTask());
    return;
  }
  if (State != psDisconnected) {
    State = psDisconnected;
    if (LineDown) LineDown(false);
  }
  Finished = true;
  if (Changed) Changed();
}

TTask<bool> TPadsProtocol::OpenTask() {
  co_await Pause(kPause);
  if (PendingCount() >= kHostTextLimit) {
    // The host answered with text: this is no PADS server.
    State = psDisconnected;
    if (LineDown) LineDown(false);
    Finished = true;
    co_return false;
  }
  if (LineUp) LineUp();
  TRequest request;
  request.Type = ftLink;
  request.Extension = Settings.Improved ? 2 : 0;
  request.Status = scLinking;
  const TReply reply = co_await Request(request);
  if (!reply || !Succeeded(*reply)) {
    if (reply) ShowUnexpected(*reply);
    State = psDisconnected;
    if (LineDown) LineDown(false);
    co_return false;
  }
  Link = {};
  if (reply->Data.size() >= 6) {
    Link.Version = Get16(reply->Data, 0);
    // A zero block size would never end a write: the old size stands.
    if (const std::uint16_t load = Get16(reply->Data, 2); load > 0) Link.LoadBlock = load;
    if (const std::uint16_t get = Get16(reply->Data, 4); get > 0) Link.GetBlock = get;
  }
  Link.NewProtocol = Link.LoadBlock > kMaxLengthByte;
  Show("Pads Version   : " + std::to_string(Link.Version));
  Show("Blocksize Load : " + std::to_string(Link.LoadBlock));
  Show("Blocksize Get  : " + std::to_string(Link.GetBlock));
  Show(std::string("New Protocol   : ") + (Link.NewProtocol ? "Yes" : "No"));
  State = psActive;
  co_return true;
}

TTask<bool> TPadsProtocol::ExitTask() {
  ExitRunning = true;
  TRequest request;
  request.Type = ftExit;
  request.Status = scExiting;
  co_await Request(request);
  ExitRunning = false;
  State = psDisconnected;
  if (LineDown) LineDown(true);
  Finished = true;
  co_return true;
}

TTask<bool> TPadsProtocol::CloseExchangeFile() {
  TRequest request;
  request.Type = ftClose;
  request.Status = scClosing;
  const TReply reply = co_await Request(request);
  if (!reply) co_return false;
  if (Succeeded(*reply)) co_return true;
  ShowRefusal("Closure of file", *reply);
  co_return false;
}

TTask<bool> TPadsProtocol::ReadTask(TCommand command) {
  const std::string& name = command.LocalName;
  if (LocalFileExists(name)) {
    const TMsgResult answer = Desktop.ShowMessage(
        {TMsgIcon::Confirmation, " File already exists !\r\n Do you wish to overwrite !", "", mbYes | mbNo, 0});
    if (answer != TMsgResult::Yes) co_return false;
  }
  const TFileHandle file(std::fopen(name.c_str(), "wb"));
  if (!file) {
    Show("?? Error while opening file = " + name);
    co_return false;
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);  // a full disk shows at the block that hit it
  const TReply reply = co_await Request(FileRequest(ftOpenRead, command, scOpeningRead));
  if (!reply) co_return false;
  if (!Succeeded(*reply)) {
    ShowRefusal("open", *reply);
    co_return false;
  }
  const bool done = co_await ReadBlocks(file.get(), command);
  const bool closed = co_await CloseExchangeFile();
  co_return done && closed;
}

TTask<bool> TPadsProtocol::ReadBlocks(std::FILE* file, const TCommand& command) {
  for (int block = 0;; ++block) {
    const std::optional<TBlock> got = co_await GetBlock(block);
    if (!got) co_return false;
    if (!got->Data.empty() && std::fwrite(got->Data.data(), 1, got->Data.size(), file) != got->Data.size()) {
      Show("?? Error while writing file = " + command.LocalName);
      co_return false;
    }
    if (got->Last) co_return true;
  }
}

// A get-block request, answered with the block's size, then its data
// frames up to a type-13 frame. A damaged data frame asks for the whole
// block again.
TTask<std::optional<TPadsProtocol::TBlock>> TPadsProtocol::GetBlock(int block) {
  TRequest request;
  request.Type = ftGetBlock;
  request.Status = scReadingBlock;
  request.Block = block;
  Put16(request.Data, static_cast<std::uint16_t>(block));
  const std::uint32_t timeout = Link.NewProtocol ? kOtherTimeout : kDataTimeout;
  for (int tries = 1; tries <= Settings.Retries; ++tries) {
    const TTry answer = co_await TryRequest(request, tries, false);
    if (answer.Result != trAnswered) continue;
    const int status = answer.Frame.Status();
    if (!Succeeded(answer.Frame) && status != 13) {
      ShowRefusal("read operation", answer.Frame);
      co_return std::nullopt;
    }
    const std::size_t expected = Get16(answer.Frame.Data, 0);
    ShowProgress(scGetBlock, tries, block);
    TBlock got;
    got.Last = status == 13;
    bool complete = false;
    bool lost = false;
    while (!complete && !lost) {
      TReceived frame = co_await ReceiveFrame(timeout, false);
      lost = true;
      if (frame.Result == rrTimeout) {
        ShowError(scTimeout, tries);
        continue;
      }
      if (frame.Result == rrCrc) ShowError(scCrcFault, tries);
      else if (frame.Result != rrFrame) ShowError(scWrongLength, tries);
      else if (frame.Frame.Type != ftData && frame.Frame.Type != ftDataLast) ShowError(scWrongMsg);
      else if (got.Data.size() + frame.Frame.Data.size() > expected) ShowError(scWrongLength, tries);
      else {
        got.Data += frame.Frame.Data;
        complete = frame.Frame.Type == ftDataLast;
        lost = false;
      }
      if (lost) co_await Resync();
    }
    if (lost) continue;
    if (got.Data.size() < expected) {
      Show("?? Record size received too small");
      co_return std::nullopt;
    }
    co_return got;
  }
  co_return std::nullopt;
}

TTask<bool> TPadsProtocol::WriteTask(TCommand command) {
  const std::string& name = command.LocalName;
  if (!LocalFileExists(name)) {
    Show("?? File " + name + " does not exist");
    co_return false;
  }
  const TFileHandle file(std::fopen(name.c_str(), "rb"));
  if (!file) {
    Show("?? Error while opening file = " + name);
    co_return false;
  }
  TReply reply = co_await Request(FileRequest(ftGetDescription, command, -1));
  if (!reply) co_return false;
  if (!Succeeded(*reply)) {
    ShowRefusal("get FDB", *reply);
    co_return false;
  }
  reply = co_await Request(FileRequest(ftOpenWrite, command, scOpeningWrite));
  if (!reply) co_return false;
  if (!Succeeded(*reply)) {
    ShowRefusal("open", *reply);
    co_return false;
  }
  const bool done = co_await WriteBlocks(file.get(), command);
  const bool closed = co_await CloseExchangeFile();
  co_return done && closed;
}

TTask<bool> TPadsProtocol::WriteBlocks(std::FILE* file, const TCommand& command) {
  std::string data;
  for (int block = 0;; ++block) {
    data.resize(Link.LoadBlock);
    const std::size_t count = std::fread(data.data(), 1, data.size(), file);
    if (std::ferror(file)) {
      Show("?? Error while reading file = " + command.LocalName);
      co_return false;
    }
    data.resize(count);
    if (!co_await PutBlock(block, data)) co_return false;
    if (count < Link.LoadBlock) co_return true;
  }
}

// The block's data frames (type 12, the last one type 13), then the
// write-block request. A frame the exchange may have taken before the
// answer went astray cannot be sent alone again: after a resync the whole
// block goes again, so no data is doubled.
TTask<bool> TPadsProtocol::PutBlock(int block, const std::string& data) {
  std::vector<std::pair<std::uint8_t, std::string>> frames;
  const std::size_t lastSize = data.empty() ? 0 : (data.size() - 1) % kMaxLengthByte + 1;
  const std::size_t body = data.size() - lastSize;
  const std::size_t step = MaxDataLength(ftData, Link.NewProtocol);
  for (std::size_t at = 0; at < body; at += step) frames.emplace_back(ftData, data.substr(at, std::min(step, body - at)));
  frames.emplace_back(ftDataLast, data.substr(body));

  int tries = 1;
  std::size_t next = 0;
  while (next < frames.size()) {
    TRequest request;
    request.Type = frames[next].first;
    request.Data = frames[next].second;
    request.Status = scLoadBlock;
    request.Block = block;
    request.ResyncOnTimeout = true;
    const TTry answer = co_await TryRequest(request, tries, false);
    if (answer.Result == trAnswered) {
      if (!Succeeded(answer.Frame)) {
        ShowRefusal("write operation", answer.Frame);
        co_return false;
      }
      ++next;
      continue;
    }
    if (++tries > Settings.Retries) co_return false;
    if (answer.Result == trLost) next = 0;
  }
  TRequest write;
  write.Type = ftWriteBlock;
  write.Status = scWritingBlock;
  write.Block = block;
  Put16(write.Data, static_cast<std::uint16_t>(block));
  const TReply reply = co_await Request(write);
  if (!reply) co_return false;
  if (Succeeded(*reply)) co_return true;
  ShowRefusal("write operation", *reply);
  co_return false;
}

TTask<bool> TPadsProtocol::DeallocateTask(TCommand command) {
  const TReply description = co_await Request(FileRequest(ftGetDescription, command, -1));
  if (!description) co_return false;
  if (!Succeeded(*description)) {
    ShowRefusal("get FDB", *description);
    co_return false;
  }
  const std::string name = description->Data.substr(0, kNameSize);
  Show("Logical file id   = " + std::to_string(command.File));
  Show("Logical device id = " + std::to_string(command.Device));
  Show("Physical file name = " + name);
  const TMsgResult answer =
      Desktop.ShowMessage({TMsgIcon::Confirmation, name + "\r\nConfirm Y/N", "", mbOK | mbCancel, 0});
  if (answer != TMsgResult::OK) co_return false;
  const TReply reply = co_await Request(FileRequest(ftDeallocate, command, scDeallocating));
  if (!reply) co_return false;
  if (Succeeded(*reply)) co_return true;
  ShowRefusal("deallocate", *reply);
  co_return false;
}

}  // namespace pads

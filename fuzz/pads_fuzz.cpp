// Random bytes as PADS frames: through the frame reader under both length
// rules, and as the exchange's answers to a linking and then deallocating
// protocol whose clock jumps at random, which must end or wait, never fail.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/desktop.h"
#include "support/scripteddesktop.h"
#include "transfer/pads.h"
#include "transfer/padsframe.h"

namespace {

void ReadFrames(std::string_view bytes, bool acceptAcks, bool newProtocol) {
  pads::TFrameReader reader;
  reader.Start(acceptAcks, newProtocol);
  for (const char c : bytes) {
    const auto result = reader.Feed(static_cast<std::uint8_t>(c));
    if (result == pads::TFrameReader::rsMore) continue;
    if (result == pads::TFrameReader::rsFrame && !pads::LongFrame(reader.Frame.Type, newProtocol) &&
        reader.Frame.Data.size() > pads::kMaxLengthByte) {
      std::abort();  // a short frame never carries more than its length byte allows
    }
    reader.Start(acceptAcks, newProtocol);
  }
}

void Converse(std::string_view bytes) {
  TScriptedDesktop desktop;
  desktop.Answers.push_back(TMsgResult::Cancel);
  pads::TPadsProtocol protocol(desktop, pads::TPadsOptions{2, 0, true});
  protocol.Send = [](std::string_view) {};
  std::uint32_t now = 0;
  protocol.Open(now);
  // Each piece: one byte says how far the clock moves, then up to 15 bytes arrive.
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto control = static_cast<std::uint8_t>(bytes[at++]);
    now += (control & 0x0F) * 500u;
    const std::size_t take = std::min<std::size_t>(control >> 4, bytes.size() - at);
    protocol.Received(bytes.substr(at, take), now);
    at += take;
    if (protocol.State == pads::psActive && !protocol.Busy()) protocol.Execute("DEA 1,2", now);
  }
  for (int i = 0; i < 200 && protocol.Busy(); ++i) {
    now += 10000;
    protocol.Advance(now);
  }
  if (protocol.Busy()) std::abort();  // every wait has an end
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ReadFrames(bytes, true, false);
  ReadFrames(bytes, false, true);
  Converse(bytes);
  return 0;
}

#include "transfer/padsframe.h"

namespace pads {

std::uint8_t CheckByte(std::string_view lengthToData) {
  std::uint8_t sum = 0;
  for (const char c : lengthToData) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
  return static_cast<std::uint8_t>(-sum);
}

bool LongFrame(std::uint8_t type, bool newProtocol) { return newProtocol && type == ftData; }

std::size_t MaxDataLength(std::uint8_t type, bool newProtocol) {
  return LongFrame(type, newProtocol) ? 255 * 64 + 63 : kMaxLengthByte;
}

std::string BuildFrame(std::uint8_t type, std::uint8_t extension, std::string_view data, bool newProtocol) {
  std::uint8_t length = static_cast<std::uint8_t>(data.size());
  if (LongFrame(type, newProtocol)) {
    length = static_cast<std::uint8_t>(data.size() % 64);
    extension = static_cast<std::uint8_t>(data.size() / 64);
  }
  std::string frame;
  frame.reserve(data.size() + 6);
  frame.push_back(static_cast<char>(kStx));
  frame.push_back(static_cast<char>(length));
  frame.push_back(static_cast<char>(type));
  frame.push_back(static_cast<char>(extension));
  frame.append(data);
  frame.push_back(static_cast<char>(CheckByte(std::string_view(frame).substr(1))));
  frame.push_back(static_cast<char>(kEtx));
  return frame;
}

std::uint16_t Get16(std::string_view data, std::size_t offset) {
  if (offset + 2 > data.size()) return 0;
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(data[offset]) |
                                    static_cast<std::uint8_t>(data[offset + 1]) << 8);
}

void Put16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void TFrameReader::Start(bool acceptAcks, bool newProtocol) {
  State = stSeek;
  AcceptAcks = acceptAcks;
  NewProtocol = newProtocol;
  Frame = {};
}

TFrameReader::TResult TFrameReader::HeaderDone() {
  Length = LongFrame(Frame.Type, NewProtocol) ? std::size_t{Frame.Extension} * 64 + LengthByte : LengthByte;
  Frame.Data.reserve(Length);
  State = Length == 0 ? stCheck : stData;
  return rsMore;
}

TFrameReader::TResult TFrameReader::Feed(std::uint8_t b) {
  switch (State) {
    case stSeek:
      if (b == kStx) {
        State = stLength;
        Sum = 0;
      } else if (AcceptAcks && b == kAck) {
        State = stDone;
        return rsAck;
      } else if (AcceptAcks && b == kNak) {
        State = stDone;
        return rsNak;
      }
      return rsMore;
    case stLength:
      LengthByte = b;
      Sum = static_cast<std::uint8_t>(Sum + b);
      // A bad length is only reported once the rest of the frame is gone,
      // so the next frame starts clean.
      State = b > kMaxLengthByte ? stDrain : stType;
      return rsMore;
    case stType:
      Frame.Type = b;
      Sum = static_cast<std::uint8_t>(Sum + b);
      State = stExtension;
      return rsMore;
    case stExtension:
      Frame.Extension = b;
      Sum = static_cast<std::uint8_t>(Sum + b);
      return HeaderDone();
    case stData:
      Frame.Data.push_back(static_cast<char>(b));
      Sum = static_cast<std::uint8_t>(Sum + b);
      if (Frame.Data.size() == Length) State = stCheck;
      return rsMore;
    case stCheck:
      CheckGood = static_cast<std::uint8_t>(Sum + b) == 0;
      State = stEtx;
      return rsMore;
    case stEtx:
      State = stDone;
      if (!CheckGood) return rsCrcError;
      return b == kEtx ? rsFrame : rsLengthError;
    case stDrain:
      if (b != kEtx) return rsMore;
      State = stDone;
      return rsLengthError;
    case stDone: return rsMore;
  }
  return rsMore;
}

}  // namespace pads

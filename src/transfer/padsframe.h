// PADS frames: STX, length, type, extension, data, check byte, ETX. Building
// them, and reading them back one received byte at a time, so the reader can
// be fed straight from the capture ring and never waits itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pads {

inline constexpr std::uint8_t kStx = 2;
inline constexpr std::uint8_t kEtx = 3;
inline constexpr std::uint8_t kAck = 6;
inline constexpr std::uint8_t kNak = 15;
inline constexpr int kMaxLengthByte = 64;
inline constexpr int kHeaderSize = 4;

enum TFrameType : std::uint8_t {
  ftLink = 0,
  ftResync = 1,
  ftExit = 3,
  ftOpenRead = 4,
  ftOpenWrite = 5,
  ftClose = 6,
  ftDeallocate = 7,
  ftGetBlock = 8,
  ftWriteBlock = 9,
  ftData = 12,      // block data; long under the new protocol
  ftDataLast = 13,  // the last data frame of a block
  ftGetDescription = 14,
};

// The two's complement of the 8-bit sum of length, type, extension and data.
std::uint8_t CheckByte(std::string_view lengthToData);

// Under the new protocol a type-12 frame's extension carries the high part
// of its data length (L = extension * 64 + length byte).
bool LongFrame(std::uint8_t type, bool newProtocol);
// Largest data length a frame of this type may carry.
std::size_t MaxDataLength(std::uint8_t type, bool newProtocol);

struct TFrame {
  std::uint8_t Type = 0;
  std::uint8_t Extension = 0;
  std::string Data;
  // The exchange's status code: the extension's low 6 bits (not for long frames).
  int Status() const { return Extension & 0x3F; }
};

// The whole frame; for a long frame the extension given is replaced by the
// length's high part. Data longer than MaxDataLength is the caller's fault.
std::string BuildFrame(std::uint8_t type, std::uint8_t extension, std::string_view data, bool newProtocol);

std::uint16_t Get16(std::string_view data, std::size_t offset);  // 0 past the end
void Put16(std::string& out, std::uint16_t value);

// Reads one frame from received bytes.
class TFrameReader {
 public:
  enum TResult {
    rsMore,         // not complete yet
    rsFrame,        // Frame holds it
    rsAck,          // an acknowledgement where a header was expected
    rsNak,          // a negative acknowledgement there
    rsCrcError,     // wrong check byte
    rsLengthError,  // length byte above 64, or no ETX where the frame ends
  };

  // Starts on a new frame. acceptAcks: ACK and NAK before the STX are
  // answers; otherwise every byte before the STX is skipped.
  void Start(bool acceptAcks, bool newProtocol);
  TResult Feed(std::uint8_t b);
  // True while the bytes after a bad length byte are being skipped.
  bool Draining() const { return State == stDrain; }

  TFrame Frame;

 private:
  enum TState { stSeek, stLength, stType, stExtension, stData, stCheck, stEtx, stDrain, stDone };
  TResult HeaderDone();

  TState State = stDone;
  bool AcceptAcks = false;
  bool NewProtocol = false;
  std::uint8_t LengthByte = 0;
  std::size_t Length = 0;
  std::uint8_t Sum = 0;
  bool CheckGood = false;
};

}  // namespace pads

// PADS texts shown in the window's list, the exchange's status code names,
// and the commands typed in the window's "Commands" field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pads {

// Codes of the window's list texts.
enum TStatusCode {
  scWaiting = 0,
  scLinking = 1,
  scExiting = 2,
  scOpeningRead = 3,
  scOpeningWrite = 4,
  scClosing = 5,
  scDeallocating = 6,
  scReadingBlock = 7,
  scWritingBlock = 8,
  scLoadBlock = 9,
  scGetBlock = 10,
  scFirstError = 12,
  scForcedRelease = 12,
  scAsyBreak = 13,
  scMsgLength = 14,
  scCrc = 15,
  scOpenFile = 16,
  scWrongMsg = 17,
  scFileSyntax = 18,
  scIosTimeout = 19,
  scWritingFile = 20,
  scEof = 21,
  scReadingFile = 22,
  scClosingFile = 23,
  scDeallocatingFile = 24,
  scWrongFileSpec = 25,
  scUnexistingFile = 26,
  scNackReceived = 27,
  scTransmissionFault = 28,
  scTimeout = 29,
  scCrcFault = 30,
  scWrongLength = 31,
  scPrematureEtx = 32,
  scHeaderNacked = 33,
  scBlockNumber = 34,
};

// The list text of a code: error codes carry "### ERROR ### " in front;
// the block texts take the block number, the "tries" texts the try.
std::string StatusText(int code, int tries = 0, int block = 0);

// The short name of an exchange status code ("crc", "file not found"); the
// number itself for a code without one.
std::string ExchangeCodeName(int code);

// The list text for a status code the exchange answered with when it
// rejected a frame (3, 5, 6, 7, 16, 17); -1 when the code is no rejection.
int RejectionStatus(int exchangeCode);

// The PADS state as the window's status group shows it.
enum TPadsState { psDisconnected = 0, psWaitForPassword = 1, psLinking = 2, psActive = 3 };
std::string StateText(int state);

enum TCommandKind { ckNone, ckExit, ckRead, ckWrite, ckDeallocate, ckUnknown };

struct TCommand {
  TCommandKind Kind = ckNone;
  std::uint16_t Device = 0;
  std::uint16_t File = 0;
  std::string LocalName;  // as typed: local names keep their case
  std::string Error;      // the list text when the line is wrong
};

// A line typed in "Commands": trimmed, upper-cased for the keyword and ids.
TCommand ParseCommand(std::string_view line);

}  // namespace pads

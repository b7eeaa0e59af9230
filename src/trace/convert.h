// Convert: a message, an MBID, an information element or a word or byte dump
// marked on the screen is read again as trace output and decoded into the
// conversion file "qel.w##", which the memo viewer then shows.
//
// What the first marked line is decides the decoding:
//   a header line (SND, RCV or DUP in columns 67-69)  the message: "MSG",
//       the identity and its KASP.MSG name, the message buffer from the
//       DATA lines below the header and the user buffer from UBUF lines
//   "MBID_nnnn" or "MBID nnnn"  the MBID with the bytes after "=" on the
//       marked lines
//   "IE = name"               the IE's contents from the IE_DATA lines,
//       through the DSS1 contents structure of the mode files
//   "MAIL "                   mail records under their heading
//   "WOR ", "BYT ", "UBUF ", "DATA ", "PARM ", "N7PAR = ", "MSG_DATA ",
//   "USER_BUFFER ", "B_"      the hex values of the marked lines, decoded
//       by the name the user gives in the mode name dialog: "ASCII",
//       "MINI", "COMPLEX" (an MBID list), "MSG" (a message list), a mode or
//       a set
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TSession;

// The marked text of the screen.
struct TMarkedText {
  // The first marked line and the screen lines after it (the marked ones, and
  // for a message up to 100 more).
  std::vector<std::string> Lines;
  std::size_t MarkedLines = 1;  // how many of Lines are marked
  int FirstColumn = 1;          // where the mark starts on the first line (1-based)
  int LastColumn = 0;           // where it ends on the last marked line; 0: the line's end
};

// The main window's Convert, Convert Word and Convert Byte commands.
enum TConvertKind { ckMarked = 0, ckWordDump = 2, ckByteDump = 3 };

constexpr const char* kConversionFileName = "qel.w##";
constexpr const char* kConversionDisplayName = "Qel.w##";
constexpr const char* kConversionTitle = "Convert a Message into it's mode";
// A message list (the "MSG" conversion) is printed under this heading.
constexpr const char* kMessageListHeading = " MSG  NAME       SRC_PID   DST_PID  LLRA PTFF PATH  BUF_PTR  SIZE";
constexpr const char* kMailHeading =
    "MAIL  OBCI  ADDR  TASK  SND   TASK  RCV   LEN                         TIME";

void ConvertMarkedArea(TSession& session, TConvertKind kind, const TMarkedText& area);

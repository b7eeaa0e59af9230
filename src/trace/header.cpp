// Message headers: ParseHeader, PrintHeader and the trigger.
#include <algorithm>

#include "app/session.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/linetext.h"
#include "trace/tracefiles.h"

namespace {
// Up to n characters of a line from column `column` (1-based).
std::string Field(std::string_view line, std::size_t column, std::size_t n) {
  if (column < 1 || column > line.size()) return {};
  return std::string(line.substr(column - 1, n));
}

const char* RoutingKindText(char c) {
  switch (c) {
    case '0': return "Basic via";
    case '1': return "Basic via for";
    case '2': return "Directed via";
    case '3': return "Basic onto";
    case '4': return "Basic into";
    case '5': return "Basic into for";
    case '6': return "Basic subgroup";
    case '7': return "Basic subgroup for";
    case '8': return "Basic";
    case '9': return "Basic for";
    case 'A': return "Basic onto for";
    case 'E': return "Directed to";
    case 'F': return "OS-OS request";
    default: return nullptr;
  }
}

const char* RoutingText(char c) {
  switch (c) {
    case '1': return "internal";
    case '2': return "external virtual";
    case '3': return "external data link";
    case '4': return "external UCP";
    default: return nullptr;
  }
}

// The value of hex digits; 0 when the text holds anything else.
std::int32_t HexValue(std::string_view text) { return std::max(HexGroupValue(text), 0); }

// Character n (1-based) of a field as text ("" when the field is shorter).
std::string CharOf(const std::string& field, std::size_t n) {
  return n >= 1 && n <= field.size() ? std::string(1, field[n - 1]) : std::string();
}

const char* const kTriggerStateText[] = {
    " Waiting for trigger                   -> Msg =",
    " Trigger reached cont with src         -> Msg =",
    " Trigger reached cont with dest        -> Msg =",
    " Trigger reached cont with src or dest -> Msg =",
    " Trigger reached cont with all Msgs    -> Msg =",
    " Trigger reached reset trigger         -> Msg =",
};

// The identity in the message name: its leading decimal digits; 0 (none)
// when there are none or they name no 16-bit identity.
std::uint16_t IdentityOf(std::string_view name) {
  std::uint32_t value = 0;
  for (char c : name) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 0xFFFF) return 0;
  }
  return static_cast<std::uint16_t>(value);
}
}  // namespace

std::optional<THeaderLayout> HeaderLayoutOf(std::string_view line) {
  auto underscoreAt = [&](std::size_t column) { return line.size() >= column && line[column - 1] == '_'; };
  if (underscoreAt(21)) return THeaderLayout::B17;
  if (underscoreAt(22)) return THeaderLayout::B18;
  if (underscoreAt(18)) return THeaderLayout::A;
  return std::nullopt;
}

void TTraceDecoder::ParseHeader(std::string_view line, THeaderLayout layout) {
  MessageIdentity = 0;
  HeaderPrinted = false;
  MessageCollecting = false;
  MessageDecoded = false;
  TMessageHeader& h = Header;
  h.Line.assign(line);
  h.Layout = layout;
  const std::size_t s = layout == THeaderLayout::A ? 14 : layout == THeaderLayout::B17 ? 17 : 18;
  h.Source = Field(line, s, 9);
  h.Destination = Field(line, s + 10, 9);
  h.Length = Field(line, s + 20, 4);
  h.Type = Field(line, s + 25, 4);
  h.Path = Field(line, s + 30, 4);
  h.BufferPointer = Field(line, s + 35, 9);
  h.BufferSize = Field(line, s + 45, 4);

  ExpectedMessageLength = HexValue(std::string_view(h.Length).substr(0, 2));
  if (h.BufferSize != "....") {
    ExpectedMessageLength -= 8;
    ExpectedUserBufferLength = HexValue(h.BufferSize);
  } else {
    if (h.Path != "....") ExpectedMessageLength -= 2;
    ExpectedUserBufferLength = 0;
  }

  switch (layout) {
    case THeaderLayout::B17:
      h.Time = Field(line, s + 54, 10) + "0";
      h.Direction = Field(line, s + 50, 3);
      break;
    case THeaderLayout::B18:
      h.Time = Field(line, s + 52, 11);
      h.Direction = Field(line, s + 50, 1);
      break;
    case THeaderLayout::A:
      h.Direction = Field(line, s + 51, 3);
      h.Time = Field(line, s + 56, 11);
      break;
  }

  MessageIdentity = IdentityOf(MessageName);
  if (!TriggerFilter(0)) {
    PrintHeader(true);
    return;
  }
  if (S.Kasp->ErrorFileOpen && (MessageIdentity == 119 || MessageIdentity == 2777)) return;
  PrintHeader(false);
}

void TTraceDecoder::PrintHeader(bool shortForm) {
  TScreenWriter& w = *S.Writer;
  if (TraceState != tsConverting) {
    w.WriteLine(Header.Line, caMsg);
    HeaderPrinted = true;
    return;
  }
  if (shortForm) {
    const char second = Header.Direction.size() >= 2 ? Header.Direction[1] : '\0';
    const char* direction = second == 'S'   ? "    Send       "
                            : second == 'R' ? "    Received   "
                            : second == 'D' ? "    Snd/rcvd   "
                                            : nullptr;
    if (!direction) return;
    std::string text = kTriggerStateText[std::clamp(TriggerState, 0, 5)];
    text += ' ';
    text += Padded(MessageName, 17);
    text += direction;
    // The trigger's status line stays in row 1 of the screen.
    w.WriteLine(text, w.State.Category[caMsg], 1);
    return;
  }
  HeaderPrinted = true;
  if (!S.Settings.DisplayMsgHeader) {
    w.WriteLine(Header.Line, caMsg);
    return;
  }
  PrintFullHeader();
}

void TTraceDecoder::PrintFullHeader() {
  TScreenWriter& w = *S.Writer;
  const TMessageHeader& h = Header;
  auto line = [&](const char* label, const std::string& value) { w.WriteLine(std::string(label) + value, caMsg); };
  const std::string kind = CharOf(h.Type, 2);
  const char* kindText = kind.empty() ? nullptr : RoutingKindText(kind[0]);
  const std::string routing = CharOf(h.Length, 3);
  const char* routingText = routing.empty() ? nullptr : RoutingText(routing[0]);

  line("Message identity       = ", Padded(MessageName, 16));
  line("Message direction      = ", h.Direction);
  line("Message type           = ", kindText ? kindText : kind);
  line("Message source         = ", h.Source);
  line("Message destination    = ", h.Destination);
  line("Message length         = ", h.Length.substr(0, 2));
  line("Message routing        = ", routingText ? routingText : routing);
  line("Message priority       = ", CharOf(h.Type, 1));
  line("Message flags          = ", h.Type.size() > 2 ? h.Type.substr(2, 2) : std::string());
  if (h.Path != "....") line("Message path           = ", h.Path);
  if (h.BufferSize != "....") {
    line("Message buffer pointer = ", h.BufferPointer);
    line("Message buffer size    = ", h.BufferSize);
  }
  line("Message time           = ", h.Time);
}

bool TTraceDecoder::TriggerFilter(int phase) {
  if (!TriggerEnabled) return true;
  const TMessageHeader& h = Header;
  auto remembered = [&](const std::string& address) {
    return address == TriggerAddress1 || address == TriggerAddress2;
  };
  switch (TriggerState) {
    case 1: return remembered(h.Source);
    case 2: return remembered(h.Destination);
    case 3: return remembered(h.Source) || remembered(h.Destination);
    case 4: return true;
    default: break;
  }
  const int type = S.Settings.TriggerType;
  if (phase == 0) {
    TriggerArmed = false;
    if (type == 0 || type == 1) {
      for (int e = 0; e < 4; ++e) {
        if (S.Settings.TriggerEntries[e].Identity == MessageIdentity) {
          TriggerArmed = true;
          TriggerEntry = e;
        }
      }
    } else if (type == 2 || type == 3) {
      TriggerArmed = true;
    }
    return false;
  }
  if (phase == 2) return TriggerState == 5;
  if (!TriggerArmed) return false;
  const TTriggerEntry entry = S.Settings.TriggerEntries[TriggerEntry];
  const std::uint16_t word = MessageBuffer.Word(entry.Offset);
  const bool condition = entry.Mask == 0 || type == 0 || type == 2 || (word & entry.Mask) == entry.Value;
  if (!condition) return false;
  auto remember = [&](const std::string& a, const std::string& b, int state) {
    TriggerAddress1 = a;
    TriggerAddress2 = b;
    TriggerState = state;
  };
  switch (S.Settings.TriggerAction) {
    case 0: remember(h.Source, h.Source, 1); break;
    case 1: remember(h.Source, h.Source, 2); break;
    case 2: remember(h.Destination, h.Destination, 1); break;
    case 3: remember(h.Destination, h.Destination, 2); break;
    case 4: remember(h.Source, h.Source, 3); break;
    case 5: remember(h.Destination, h.Destination, 3); break;
    case 6: remember(h.Source, h.Destination, 1); break;
    case 7: remember(h.Source, h.Destination, 2); break;
    case 8: remember(h.Source, h.Destination, 3); break;
    case 9: TriggerState = 4; break;
    case 10: TriggerState = 5; break;
    default: break;
  }
  return true;
}

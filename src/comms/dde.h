// The DDE server of the terminal, independent of the transport that carries
// it: the topic `QelDdeServer` with its one item `ODebServer`. A client pokes
// text into the item or sends execute requests; the only request understood
// is the greeting "C:HELLO", which makes the item hold the program's
// identification for the client to read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TDdeServer {
 public:
  static constexpr const char* kTopic = "QelDdeServer";
  static constexpr const char* kItem = "ODebServer";

  // The three identification lines, as the about box shows them.
  static const std::vector<std::string>& IdentificationLines();

  // The item's lines, as a client reads them.
  std::vector<std::string> ItemLines;
  // Set while a client holds the conversation open.
  bool DdeConnected = false;

  void ConversationOpened() { DdeConnected = true; }
  void ConversationClosed() { DdeConnected = false; }

  // Text poked into the item.
  void Poke(std::string_view text) { HandleDDEData(text); }
  // An execute request: its lines joined with CR LF are handled, and the
  // request's list comes back replaced by the identification lines.
  std::vector<std::string> Execute(const std::vector<std::string>& macroLines);

  void HandleDDEData(std::string_view text);
};

// The EBCDIC map: the outgoing and incoming translation tables of a TN3270
// session, loaded from a map file (*.MMA) or left as the identity.
#pragma once

#include <array>
#include <cstdint>

struct TEbcdicMap {
  std::array<std::uint8_t, 256> Outgoing;
  std::array<std::uint8_t, 256> Incoming;
  TEbcdicMap() { SetIdentity(); }
  void SetIdentity() {
    for (int i = 0; i < 256; ++i) Outgoing[i] = Incoming[i] = static_cast<std::uint8_t>(i);
  }
};

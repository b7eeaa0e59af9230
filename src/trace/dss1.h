// DSS1 texts that need no mode files (the walk itself is TTraceDecoder::DecodeDss1).
#pragma once

#include <cstdint>
#include <string>

// "Remote Operations Protocol" (profile 0x11), "CMIP Protocol" (0x12), else
// the octet as 2 hex digits. The profile is read from the octet's low five
// bits, so 0x91 (extension bit set) is the Remote Operations Protocol too.
std::string ProtocolProfileName(std::uint8_t octet);

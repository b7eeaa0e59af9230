// Socket error codes and texts as users of the terminal know them: the
// WinSock numbering, whatever the platform's own errno values are.
#pragma once

#include <string>

// The sentence of a socket error code; "Not a WinSock error" for any other code.
std::string WinSockErrorText(int code);

// errno (or a getsockopt SO_ERROR value) -> the socket error code of the same
// meaning; a value without one is passed through unchanged.
int WinSockErrorCode(int errnoValue);

// Codes the socket component reports itself.
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaNotSocket = 10038;
inline constexpr int kWsaNoBufferSpace = 10055;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnRefused = 10061;

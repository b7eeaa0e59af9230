#include <gtest/gtest.h>

#include <cerrno>

#include "comms/winsock.h"

TEST(WinSockErrors, ErrnoValuesMapToTheCodesUsersKnowAndOthersAreNoWinSockErrors) {
  for (int code : {0, -1, 10000, 10001, 10072, 10090, 10094, 11000, 11005, 61})
    EXPECT_EQ(WinSockErrorText(code), "Not a WinSock error") << code;
  // The codes the socket tests do not meet on loopback, and what passes through.
  // EPIPE: sending after the session ended.
  const std::pair<int, int> codes[] = {
      {EAGAIN, 10035}, {EINPROGRESS, 10036}, {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {EPIPE, 10058}};
  for (const auto& [error, code] : codes) EXPECT_EQ(WinSockErrorCode(error), code) << error;
  EXPECT_EQ(WinSockErrorText(WinSockErrorCode(ECONNREFUSED)), "Connection refused");
  EXPECT_EQ(WinSockErrorText(WinSockErrorCode(EAFNOSUPPORT)), "Address family not supported by protocol family");
  EXPECT_EQ(WinSockErrorCode(EIO), EIO);  // no socket meaning: passed through
  EXPECT_EQ(WinSockErrorText(WinSockErrorCode(EIO)), "Not a WinSock error");
}

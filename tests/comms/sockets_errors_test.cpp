#include <gtest/gtest.h>

#include <cerrno>

#include "comms/winsock.h"

TEST(WinSockErrors, TextsOfTheTable) {
  EXPECT_EQ(WinSockErrorText(10004), "Interrupted system call");
  EXPECT_EQ(WinSockErrorText(10035), "Operation would block");
  EXPECT_EQ(WinSockErrorText(10047), "Address family not supported by protocol family");
  EXPECT_EQ(WinSockErrorText(10054), "Connection reset by peer");
  EXPECT_EQ(WinSockErrorText(10061), "Connection refused");
  EXPECT_EQ(WinSockErrorText(10071), "Too many levels of remote in path");
  EXPECT_EQ(WinSockErrorText(10091), "Network sub-system is unusable");
  EXPECT_EQ(WinSockErrorText(10093), "WinSock not initialized");
  EXPECT_EQ(WinSockErrorText(11001), "Host not found");
  EXPECT_EQ(WinSockErrorText(11004), "No Data");
}

TEST(WinSockErrors, CodesOutsideTheTableAreNotWinSockErrors) {
  for (int code : {0, -1, 10000, 10001, 10072, 10090, 10094, 11000, 11005, 61})
    EXPECT_EQ(WinSockErrorText(code), "Not a WinSock error") << code;
}

TEST(WinSockErrors, ErrnoValuesMapToTheCodesUsersKnow) {
  EXPECT_EQ(WinSockErrorCode(ECONNREFUSED), 10061);
  EXPECT_EQ(WinSockErrorCode(ECONNRESET), 10054);
  EXPECT_EQ(WinSockErrorCode(EAGAIN), 10035);
  EXPECT_EQ(WinSockErrorCode(EINPROGRESS), 10036);
  EXPECT_EQ(WinSockErrorCode(ETIMEDOUT), 10060);
  EXPECT_EQ(WinSockErrorCode(EADDRINUSE), 10048);
  EXPECT_EQ(WinSockErrorCode(EHOSTUNREACH), 10065);
  EXPECT_EQ(WinSockErrorCode(ENETUNREACH), 10051);
  EXPECT_EQ(WinSockErrorCode(EPIPE), 10058);  // sending after the session ended
  EXPECT_EQ(WinSockErrorCode(ENOTSOCK), 10038);
  EXPECT_EQ(WinSockErrorCode(EIO), EIO);  // no socket meaning: passed through
  EXPECT_EQ(WinSockErrorText(WinSockErrorCode(EIO)), "Not a WinSock error");
}

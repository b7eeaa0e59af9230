// SENDFILE of the simulated exchange: the transfer sequence, the terminal's
// answer, the seeded bytes, and the ways it does not happen.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "exchange_host.h"
#include "support/testing.h"

namespace {

// The bytes the host promises: the low byte of each mt19937 draw, seed 20261206.
std::string Expected(std::size_t count) { return RandomBytes(count, 20261206); }

class SendFile : public ::testing::Test {
 protected:
  std::int64_t Now = 1000;
  std::unique_ptr<TExchangeHost> Host;
  void SetUp() override {
    Host = std::make_unique<TExchangeHost>(false, TExchangeSamples{}, [this] { return Now; });
    Host->Start();
    Take();
  }
  std::string Take() {
    std::string all;
    for (;;) {
      const std::string_view piece = Host->Output(4096);
      if (piece.empty()) return all;
      all += piece;
      Host->Consume(piece.size());
    }
  }
  std::string Send(const std::string& bytes) {
    Host->Receive(bytes);
    return Take();
  }
};

TEST_F(SendFile, WithoutACountSends64KAndTheLineEndBeforeTheAnswerIsIgnored) {
  EXPECT_EQ(Send("sendfile\r\n"), "sendfile\r\n\x1b[>0;1;65536r");
  const std::string sent = Send("Y");
  EXPECT_EQ(sent.substr(0, 65536), Expected(65536));
  EXPECT_EQ(sent.substr(65536), "\r\nFILE SENT, 65536 BYTES\r\n<");
}

TEST_F(SendFile, ARefusalNoAnswerOrABadCountSendsNothing) {
  Send("SENDFILE 10\r");
  EXPECT_EQ(Send("N"), "\r\n?TRANSFER REFUSED BY TERMINAL\r\n<");
  Send("SENDFILE 10\r");
  Now += 4999;
  Host->Tick();
  EXPECT_EQ(Take(), "");
  Now += 1;
  Host->Tick();
  EXPECT_EQ(Take(), "\r\n?NO ANSWER FROM TERMINAL\r\n<");
  EXPECT_EQ(Send("Y"), "Y");  // too late: an ordinary typed character
  Send("\r");
  for (const char* line : {"SENDFILE 0\r", "SENDFILE -5\r", "SENDFILE 12X\r", "SENDFILE 1 2\r",
                           "SENDFILE 999999999999\r"}) {
    const std::string out = Send(line);
    EXPECT_NE(out.find("?INVALID PARAMETER\r\n<"), std::string::npos) << line;
    EXPECT_EQ(out.find("\x1b[>"), std::string::npos) << line;
  }
}

}  // namespace

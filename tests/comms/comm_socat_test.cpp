// Two serial components joined by socat (a second process relaying between
// two ptys): a long transfer both ways at once, compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "comms/comm.h"
#include "comms/comm_support.h"
#include "core/tempdir.h"
#include "support/loopback.h"
#include "support/randombytes.h"

namespace {

// Two ptys, A and B, joined by socat.
struct TSocatLink {
  explicit TSocatLink(const std::filesystem::path& dir) : A(dir / "a"), B(dir / "b"), Log(dir / "socat.log") {}
  bool Ready() const { return Socat.Ready(); }
  std::filesystem::path A, B, Log;
  TSocat Socat{Log.string(), {"-b65536", "pty,rawer,link=" + A.string(), "pty,rawer,link=" + B.string()}};
};

struct TCollector {
  std::mutex Lock;
  std::string Data;
  std::size_t Size() {
    std::lock_guard<std::mutex> guard(Lock);
    return Data.size();
  }
};

void Configure(TComm& comm, const std::string& device, TCollector& into) {
  comm.SetDeviceName(device);
  comm.SetBaudRate(cbr115200);
  comm.SetFlowControl(fcNone);
  comm.OnRxChar = [&comm, &into](int count) {
    const std::string bytes = ReadText(comm, count);
    std::lock_guard<std::mutex> guard(into.Lock);
    into.Data += bytes;
  };
}

// Writes in pieces of the sizes the transmit path and a file send use.
void WriteAll(TComm& comm, const std::string& bytes, bool& ok) {
  std::size_t done = 0;
  ok = true;
  while (done < bytes.size()) {
    const int piece = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 + done % 3000));
    const int n = comm.Write(reinterpret_cast<const std::uint8_t*>(bytes.data() + done), piece);
    if (n <= 0) {
      ok = false;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

TEST(CommSocat, FiveMegabytesEachWayArriveIntact) {
  const TTemporaryDirectory dir("qeldrivers");
  TSocatLink link(dir.Path());
  ASSERT_TRUE(link.Ready()) << "socat did not make its ptys";

  constexpr std::size_t kSize = 5 * 1024 * 1024;
  const std::string aToB = RandomBytes(kSize, 1);
  const std::string bToA = RandomBytes(kSize, 2);
  TCollector atA, atB;
  TComm a, b;
  Configure(a, link.A.string(), atA);
  Configure(b, link.B.string(), atB);
  a.Open();
  b.Open();

  bool aOk = false, bOk = false;
  std::thread fromA([&] { WriteAll(a, aToB, aOk); });
  std::thread fromB([&] { WriteAll(b, bToA, bOk); });
  fromA.join();
  fromB.join();
  EXPECT_TRUE(aOk);
  EXPECT_TRUE(bOk);
  ASSERT_TRUE(RunUntil([&] { return atA.Size() >= kSize && atB.Size() >= kSize; }, 60000))
      << "received " << atA.Size() << " and " << atB.Size();
  a.Close();
  b.Close();
  EXPECT_TRUE(atB.Data == aToB) << "A to B differs";
  EXPECT_TRUE(atA.Data == bToA) << "B to A differs";
}

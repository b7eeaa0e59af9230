// DSS1 messages to a capture file: trace times, the LAPD frame, the file
// layout, failures, and the sample trace read back by tshark.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "trace/decoder_testing.h"
#include "trace/pcap.h"

namespace {

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

TEST(TraceTime, ReadsHoursMinutesSecondsAndAnyFraction) {
  const auto t = ParseTraceTime("09:15:03.55");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Seconds, 9u * 3600 + 15 * 60 + 3);
  EXPECT_EQ(t->Micros, 550000u);
  // Layout B's time has one digit of fraction and a padding 0.
  EXPECT_EQ(ParseTraceTime("09:15:02.40")->Micros, 400000u);
  EXPECT_EQ(ParseTraceTime(" 23:59:59 ")->Seconds, 86399u);
  EXPECT_EQ(ParseTraceTime("00:00:00.000001")->Micros, 1u);
  for (const char* bad : {"", "9:15:03.55", "24:00:00", "12:60:00", "12:00:61", "12-00-00", "12:00:00,5", "12:00:00.5x"})
    EXPECT_FALSE(ParseTraceTime(bad)) << bad;
}

// The frame's bytes are checked in the file the writer makes below.
TEST(LapdFrame, TheExchangeSideIsSentOrS) {
  EXPECT_TRUE(SentByExchange("SND"));
  EXPECT_TRUE(SentByExchange(" S"));
  EXPECT_FALSE(SentByExchange("RCV"));
  EXPECT_FALSE(SentByExchange("D"));
  EXPECT_FALSE(SentByExchange(""));
}

TEST(PcapWriter, WritesTheHeaderAndOneRecordPerMessage) {
  TTempDir dir;
  TPcapWriter w;
  ASSERT_EQ(w.Open(dir.file("a.pcap")), 0);
  w.DayStart = 86400 * 100;
  const std::uint8_t m[] = {0x08, 0x00, 0x05};
  ASSERT_EQ(w.Write({m, 3, "23:02:03.25", "SND"}), 0);
  // A time that cannot be read keeps the stamp before it.
  ASSERT_EQ(w.Write({m, 3, "--:--", "RCV"}), 0);
  // Past midnight: the next day.
  ASSERT_EQ(w.Write({m, 3, "00:00:01.00", "RCV"}), 0);
  w.Close();
  const std::string f = ReadFileBytes(dir.file("a.pcap"));
  ASSERT_EQ(f.size(), 24u + 3 * (16 + 7));
  // Magic and link type LAPD; the first record's seconds, microseconds and
  // length; the second keeps its time; the third is on the next day.
  const std::uint32_t day = 86400 * 100;
  EXPECT_EQ((std::vector{Le32(f, 0), Le32(f, 20), Le32(f, 24), Le32(f, 28), Le32(f, 32), Le32(f, 47), Le32(f, 70)}),
            (std::vector<std::uint32_t>{0xA1B2C3D4u, 203, day + 82923, 250000, 7, day + 82923, day + 86400 + 1}));
  EXPECT_EQ(f.substr(40, 7), std::string("\x02\x01\x00\x00\x08\x00\x05", 7));
  EXPECT_EQ(static_cast<std::uint8_t>(f[47 + 16]), 0x00);  // received: the user side
}

TEST(PcapWriter, AFailedWriteEndsTheExportWithItsReason) {
  TDecoding d("NEWMODE t = RANGE (0:127) CONSTANTS (setup = 5); DSS1 MESSAGETYPES = t; MESSAGE 3 = DSS1;");
  TTempDir dir;
  EXPECT_EQ(d.S.Trace->StartPcapExport(dir.file("missing/x.pcap")), ENOENT);
  EXPECT_FALSE(d.S.Trace->PcapExporting());
  EXPECT_EQ(d.S.Trace->StartPcapExport("/dev/full"), ENOSPC);
  EXPECT_FALSE(d.S.Trace->PcapExporting());
  // The disk fills after the file's header.
  TFileFaults faults;
  ASSERT_EQ(d.S.Trace->StartPcapExport(dir.file("b.pcap"), &faults), 0);
  faults.ShortWrite = 5;
  d.Feed("00003        0001_0002 0003_0004 0310 0800 .... ....:.... ....  SND  12:34:56.78\r\nDATA = 08 00 05\r\n");
  EXPECT_FALSE(d.S.Trace->PcapExporting());
  EXPECT_EQ(d.S.Trace->PcapError, ENOSPC);
  // The message is decoded all the same.
  const std::vector<std::string> lines = d.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  MSG TYPE      = 0005(SETUP)"), lines.end());
}

// Every DSS1 message of the sample trace, in order, with its direction and
// its time of day, as tshark reads the file back.
TEST(PcapExport, TheSampleTracesDss1MessagesReadBackByTshark) {
  if (TsharkPath().empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  TDecoding d(ReadFileBytes(std::string(QEL_TEST_DATA) + "/../samples/exchange.mode"));
  const std::string capture = d.T.Dir.file("sample.pcap");
  ASSERT_EQ(d.S.Trace->StartPcapExport(capture), 0);
  d.Feed(ReadFileBytes(std::string(QEL_TEST_DATA) + "/../samples/exchange.trace"));
  d.S.Trace->EndOfInput();
  EXPECT_EQ(d.S.Trace->PcapFrames(), 2u);
  d.S.Trace->StopPcapExport();
  const std::string fields = CommandOutput(TsharkPath() + " -r " + capture +
                                           " -T fields -E separator=, -e lapd.cr -e q931.message_type -e q931.call_ref"
                                           " -e q931.called_party_number.digits -e frame.time_epoch -e frame.len"
                                           " 2>/dev/null");
  std::vector<std::string> rows = SplitLines(fields);
  ASSERT_EQ(rows.size(), 2u) << fields;
  // SETUP received from the user (C/R 0), DISCONNECT sent by the exchange (C/R 1).
  EXPECT_TRUE(rows[0].starts_with("0,0x05,05,49301234,")) << rows[0];
  EXPECT_TRUE(rows[1].starts_with("1,0x45,05,,")) << rows[1];
  // 41 and 12 octets of Q.931 after the 4 of LAPD.
  EXPECT_TRUE(rows[0].ends_with(",45")) << rows[0];
  EXPECT_TRUE(rows[1].ends_with(",16")) << rows[1];
  const auto timeOfDay = [](const std::string& row) {
    const std::size_t end = row.rfind(',');
    const std::size_t from = row.rfind(',', end - 1) + 1;
    const double epoch = std::stod(row.substr(from, end - from));
    return static_cast<long>(std::llround(epoch * 100)) % (86400L * 100);
  };
  EXPECT_EQ(timeOfDay(rows[0]), (9L * 3600 + 15 * 60 + 3) * 100 + 55);
  EXPECT_EQ(timeOfDay(rows[1]), (9L * 3600 + 15 * 60 + 9) * 100 + 10);
}

}  // namespace

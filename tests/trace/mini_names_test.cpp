// The MINI trace's task tables at their edges and the shell tracing texts.
#include <gtest/gtest.h>

#include "trace/mini_names.h"

namespace {
std::string Pad(const std::string& text, std::size_t width) { return text + std::string(width - text.size(), ' '); }

TEST(MiniTaskNames, ListedValuesArePaddedToTheTableWidth) {
  EXPECT_EQ(TaskName(TTaskTable::Cfcs, 0), Pad("CFCS_SHELL", 21));
  EXPECT_EQ(TaskName(TTaskTable::Cfcs, 40), Pad("SS_ME", 21));  // the last before the gap at 41
  EXPECT_EQ(TaskName(TTaskTable::Cfcs, 255), Pad("DUMMY", 21));
  // The longest name of each table fills it exactly.
  EXPECT_EQ(TaskName(TTaskTable::Cfcs, 38), "REMOTE_ACCESS_HANDLER");
  EXPECT_EQ(TaskName(TTaskTable::Ssf, 7), "SSF_TRIGGER_HANDLING");
  EXPECT_EQ(TaskName(TTaskTable::Iss, 2), "V1_L3_CIRCUIT");
  EXPECT_EQ(TaskName(TTaskTable::CfcsField, 4), "INT_MSG_ID");
  EXPECT_EQ(TaskName(TTaskTable::Ssf, 255), Pad("DUMMY", 20));
  EXPECT_EQ(TaskName(TTaskTable::Iss, 9), Pad("BIP_HANDLER", 13));
}

TEST(MiniTaskNames, GapsAndValuesPastTheEndAreUnknown) {
  // The CFCS table skips 19, 35 and 36.
  for (unsigned value : {19u, 35u, 36u, 41u, 254u, 256u}) {
    EXPECT_EQ(TaskName(TTaskTable::Cfcs, value), Pad("UNKNOWN", 21)) << value;
  }
  EXPECT_EQ(TaskName(TTaskTable::Ssf, 8), Pad("UNKNOWN", 20));
  EXPECT_EQ(TaskName(TTaskTable::Iss, 10), Pad("UNKNOWN", 13));
  EXPECT_EQ(TaskName(TTaskTable::Iss, 255), Pad("UNKNOWN", 13));  // ISS has no DUMMY
  EXPECT_EQ(TaskName(TTaskTable::CfcsField, 5), Pad("UNKNOWN", 10));
}

TEST(MiniShellEvents, NamedTasksAndFields) {
  EXPECT_EQ(ShellEventText(0x1105, 0x0102, 0xAB03),
            "CFCS: From " + Pad("CC_ME", 21) + " To " + Pad("SIG_INFORMATION", 21) + " Task = " + Pad("PROC_NR", 10));
  EXPECT_EQ(ShellEventText(0x1100, 0x13FF, 0x0009),
            "CFCS: From " + Pad("UNKNOWN", 21) + " To " + Pad("DUMMY", 21) + " Task = " + Pad("UNKNOWN", 10));
  EXPECT_EQ(ShellEventText(0x1200, 0x0007, 0), "SSF : From " + Pad("SSF_SHELL", 20) + " To SSF_TRIGGER_HANDLING");
  EXPECT_EQ(ShellEventText(0x13FF, 0x090A, 0), "ISS : From " + Pad("BIP_HANDLER", 13) + " To " + Pad("UNKNOWN", 13));
}

TEST(MiniShellEvents, IppiwAndEventsWithoutNames) {
  EXPECT_EQ(ShellEventText(0x1000, 0x0102, 0), "IPPIW : SENT IPP PACKET");
  EXPECT_EQ(ShellEventText(0x1001, 0x0102, 0), "IPPIW : RECEIVED IPP PACKET");
  // Other events are completed by the low byte and the two task bytes.
  EXPECT_EQ(ShellEventText(0x1002, 0x0102, 0), "IPPIW : 02 01 02");
  EXPECT_EQ(ShellEventText(0x1CFE, 0xFFEE, 0), "N5 TSIGN TRACING: FE FF EE");
  // Outside 0x10-0x1C the whole event code is kept.
  EXPECT_EQ(ShellEventText(0x1D05, 0x0102, 0), "UNKNOWN: 1D05 01 02");
  EXPECT_EQ(ShellEventText(0x0F00, 0x0000, 0), "UNKNOWN: 0F00 00 00");
}
}  // namespace

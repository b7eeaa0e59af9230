// The size a line is drawn in, read from what it holds once it has scrolled
// into the history (on the screen the terminal's own: see the view's test).
#include "screen/rowsize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/session.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"

namespace {
struct TVt100 {
  TTestSession T;
  TVt100() {
    T.S->Settings.Emulation = emVT100;
    T.S->StartUp();
  }
  void Receive(const std::string& bytes) {
    T.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  TRowSize Size(int line) const { return RowSizeOf(*T.S->Screen, T.S->Writer->State, line); }
  int Line(int row) const { return T.S->Screen->ScreenLine(row); }
};
}  // namespace

TEST(RowSize, InTheHistoryATopAndTheEmptyLineUnderItStayAPair) {
  TVt100 t;
  t.Receive("\x1b[24;1H\x1b#3Big\r\n\x1b#4Big\r\n\x1b#6wide\r\n");
  const int top = t.Line(21);
  const auto sizes = [&] {
    return std::vector<int>{t.Size(top), t.Size(top + 1), t.Size(top + 2), t.Size(top + 3)};
  };
  ASSERT_EQ(sizes(), (std::vector<int>{rsDoubleTop, rsDoubleBottom, rsDoubleWidth, rsNormal}));
  // Thirty lines later all three are history.
  for (int i = 0; i < 30; ++i) t.Receive("line\r\n");
  ASSERT_LT(top + 2, t.Line(1));
  // A double-width line holds nothing to tell it by.
  EXPECT_EQ(sizes(), (std::vector<int>{rsDoubleTop, rsDoubleBottom, rsNormal, rsNormal}));
  // Lines outside the store are normal.
  EXPECT_EQ(std::pair(t.Size(-1), t.Size(t.T.S->Screen->Count())), std::pair(rsNormal, rsNormal));
}

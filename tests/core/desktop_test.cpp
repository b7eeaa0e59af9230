#include <gtest/gtest.h>

#include "core/desktop.h"

// The tools answer every box as a user pressing Enter would and print it.
TEST(HeadlessDesktop, AnswersEachBoxWithItsDefaultButtonAndKeepsIt) {
  THeadlessDesktop d;
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Error, "a", "", mbOK | mbCancel, 0}), TMsgResult::OK);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Error, "b", "", mbCancel | mbRetry, 0}), TMsgResult::Cancel);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Warning, "c", "", mbYes | mbNo | mbCancel, 0}), TMsgResult::Yes);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Warning, "d", "", mbNo | mbRetry, 0}), TMsgResult::No);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Information, "e", "", mbRetry, 0}), TMsgResult::None);
  ASSERT_EQ(d.Boxes.size(), 5u);
  EXPECT_EQ(d.Boxes[1].Box.Text, "b");
  EXPECT_EQ(d.Boxes[1].Answer, TMsgResult::Cancel);
  d.PostMessage(wmTransferEnded, 0, 0);  // no window: nothing waits for it
  EXPECT_FALSE(d.IsMessageQueued(wmTransferEnded));
}


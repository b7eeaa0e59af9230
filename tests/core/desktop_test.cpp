#include <gtest/gtest.h>

#include "core/desktop.h"
#include "support/scripteddesktop.h"

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

TEST(ScriptedDesktop, AnswersFromTheScriptFirst) {
  TScriptedDesktop d;
  d.Answers.push_back(TMsgResult::Retry);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Error, "a", "", mbCancel | mbRetry, 0}), TMsgResult::Retry);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Error, "b", "", mbCancel | mbRetry, 0}), TMsgResult::Cancel);
}

TEST(ScriptedDesktop, QueuedMessagesCanBeRemovedAndPumped) {
  TScriptedDesktop d;
  std::vector<int> seen;
  d.Handler = [&](const TPostedMessage& m) { seen.push_back(m.Message); };
  d.PostMessage(wmSerialReceive, 5, 0);
  d.PostMessage(wmTransferEnded, 0, 0);
  d.PostMessage(wmSerialReceive, 7, 0);
  EXPECT_TRUE(d.IsMessageQueued(wmSerialReceive));
  d.RemoveQueuedMessages(wmSerialReceive);
  EXPECT_FALSE(d.IsMessageQueued(wmSerialReceive));
  EXPECT_EQ(d.Pump(), 1);
  EXPECT_EQ(seen, std::vector<int>{wmTransferEnded});
  EXPECT_EQ(d.Posted.size(), 3u);
}

#include <gtest/gtest.h>

#include "core/desktop.h"

TEST(ScriptedDesktop, AnswersFromScriptThenByDefault) {
  TScriptedDesktop d;
  d.Answers.push_back(TMsgResult::Retry);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Error, "a", "", mbCancel | mbRetry, 0}), TMsgResult::Retry);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Error, "b", "", mbCancel | mbRetry, 0}), TMsgResult::Cancel);
  EXPECT_EQ(d.ShowMessage({TMsgIcon::Warning, "c", "", mbYes | mbNo, 0}), TMsgResult::Yes);
  ASSERT_EQ(d.Boxes.size(), 3u);
  EXPECT_EQ(d.Boxes[1].Box.Text, "b");
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

// The outgoing frame, the numbering of messages and writes, and the pending-write list, driven
// through the channel entry points by the stand-in client with the add-in linked in.
#include <gtest/gtest.h>

#include "channel/entry.h"
#include "channel/write_queue.h"
#include "client.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

namespace {

class WriteQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.UseEntry(VirtualChannelEntry);
    ASSERT_TRUE(client.CallEntry());
  }
  void TearDown() override {
    client.Terminate();
    client.ClearWrites();
  }
  static UINT32 SequenceOf(const testkit::StandInClient::Write &w) { return *static_cast<UINT32 *>(w.userData); }

  testkit::StandInClient &client = testkit::StandInClient::Get();
};

TEST_F(WriteQueueTest, FirstFrameAndNumberingAcrossAClosedChannel) {
  // Two messages while the channel is closed are dropped, but they use up counter values.
  SendAgentMessage("FOCUS", "0x%08lx", 7ul);
  SendAgentMessage("FOCUS", "0x%08lx", 8ul);
  EXPECT_TRUE(client.Writes().empty());
  client.Connect();
  SendAgentMessage("FOCUS", "0x%08lx", 1ul);
  auto writes = client.Writes();
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ("FOCUS,2,0x00000001\n", writes[0].bytes);
  EXPECT_EQ(client.openHandleToGive, writes[0].openHandle);
  EXPECT_EQ(1u, SequenceOf(writes[0])) << "the first write of the process carries sequence 1";
  EXPECT_EQ(1u, PendingWriteCount());
}

TEST_F(WriteQueueTest, FrameIsCutTo1399CharactersPlusLineEnd) {
  client.Connect();
  std::string payload(2000, 'x');
  SendAgentMessage("WNDMSG", "%s", payload.c_str());
  auto writes = client.Writes();
  ASSERT_EQ(1u, writes.size());
  ASSERT_EQ(1400u, writes[0].bytes.size());
  EXPECT_EQ("WNDMSG,0,", writes[0].bytes.substr(0, 9));
  EXPECT_EQ('\n', writes[0].bytes.back());
  EXPECT_EQ(std::string(1390, 'x'), writes[0].bytes.substr(9, 1390));
}

TEST_F(WriteQueueTest, CompletionsInAnyOrderReleaseTheirOwnEntries) {
  client.Connect();
  for (int i = 0; i < 4; ++i) SendAgentMessage("IME", "0x%08lx,%u", 0ul, static_cast<unsigned>(65 + i));
  auto writes = client.Writes();
  ASSERT_EQ(4u, writes.size());
  for (size_t i = 0; i < writes.size(); ++i) EXPECT_EQ(i + 1, SequenceOf(writes[i]));
  EXPECT_EQ(4u, PendingWriteCount());
  client.Complete(writes[2].userData);
  EXPECT_EQ(3u, PendingWriteCount());
  client.Cancel(writes[0].userData);  // a cancellation releases like a completion
  EXPECT_EQ(2u, PendingWriteCount());
  // A second report for a released write changes nothing.
  client.OpenEvent(CHANNEL_EVENT_WRITE_COMPLETE, writes[2].userData, 0, 0, 0);
  EXPECT_EQ(2u, PendingWriteCount());
  // The remaining two still hold their texts in place for the client.
  EXPECT_EQ("IME,1,0x00000000,66\n", writes[1].bytes);
  client.Complete(writes[3].userData);
  client.Complete(writes[1].userData);
  EXPECT_EQ(0u, PendingWriteCount());
}

TEST_F(WriteQueueTest, RefusedWriteIsReleasedAtOnce) {
  client.Connect();
  client.writeResult = CHANNEL_RC_NOT_OPEN;
  SendAgentMessage("FOCUS", "0x%08lx", 1ul);
  EXPECT_EQ(0u, PendingWriteCount()) << "a write the client refused never completes";
  client.writeResult = CHANNEL_RC_OK;
  SendAgentMessage("FOCUS", "0x%08lx", 2ul);
  auto writes = client.Writes();
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ("FOCUS,1,0x00000002\n", writes[0].bytes);
  EXPECT_EQ(2u, SequenceOf(writes[0])) << "the refused write still took a sequence number";
}

TEST_F(WriteQueueTest, TerminationFreesEverythingAndLateReportsReadNothing) {
  client.Connect();
  for (int i = 0; i < 3; ++i) SendAgentMessage("FOCUS", "0x%08lx", static_cast<unsigned long>(i));
  auto writes = client.Writes();
  ASSERT_EQ(3u, PendingWriteCount());
  client.InitEvent(CHANNEL_EVENT_TERMINATED);
  EXPECT_EQ(0u, PendingWriteCount());
  ASSERT_FALSE(client.closeCalls.empty());
  EXPECT_EQ(client.openHandleToGive, client.closeCalls.back());
  // Reports after termination name freed entries: nothing may be read through them (ASan).
  for (const auto &w : writes) client.OpenEvent(CHANNEL_EVENT_WRITE_COMPLETE, w.userData, 0, 0, 0);
  int foreign = 0;
  client.OpenEvent(CHANNEL_EVENT_WRITE_CANCELLED, &foreign, 0, 0, 0);
  EXPECT_EQ(0u, PendingWriteCount());
  // Sending after termination sends nothing.
  client.ClearWrites();
  SendAgentMessage("FOCUS", "0x%08lx", 9ul);
  EXPECT_TRUE(client.Writes().empty());
}

// Two threads send while a third reports writes complete in random order; the channel terminates
// in the middle and connects again.
TEST_F(WriteQueueTest, ConcurrentSendersCompletionsAndTermination) {
  client.Connect();
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  auto sender = [&](unsigned id) {
    for (int i = 0; i < 3000; ++i) {
      SendAgentMessage("WNDMSG", "0x%08lx,%u,%d", static_cast<unsigned long>(id), 787u, i);
      ++sent;
    }
  };
  std::thread completer([&] {
    std::mt19937 random(7);
    while (!stop) {
      auto outstanding = client.Outstanding();
      std::shuffle(outstanding.begin(), outstanding.end(), random);
      for (size_t i = 0; i < outstanding.size() / 2 + 1 && i < outstanding.size(); ++i)
        client.Complete(outstanding[i].userData);
      std::this_thread::yield();
    }
  });
  std::thread a(sender, 1), b(sender, 2);
  while (sent < 2000) std::this_thread::yield();
  client.Terminate();
  client.Connect();
  a.join();
  b.join();
  client.CompleteAll();
  stop = true;
  completer.join();
  EXPECT_EQ(0u, PendingWriteCount());
  EXPECT_GT(client.Writes().size(), 0u);
  for (const auto &w : client.Writes()) {
    EXPECT_EQ("WNDMSG,", w.bytes.substr(0, 7));
    EXPECT_EQ('\n', w.bytes.back());
  }
}

}  // namespace

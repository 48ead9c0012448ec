// The add-in as the client sees it: loading, registration, connect, termination, reconnect.
#include "support/harness.h"
#include "common/host_interface.h"

#ifndef _WIN32
#include <inspect.h>
#endif

#include <algorithm>
#include <cstring>

namespace quorvtest {
namespace {

class ChannelTest : public AddinTest {
 protected:
  // A session started on the open channel: a system-menu request of its window goes out on it.
  void ExpectASessionsRequestsReachTheChannel() {
    StartSession();
    const HWND window = SendForLocalWindow("CREATE,2,0x10020,0,0,0");
    ASSERT_NE(window, nullptr);
    TakeSent();
    SendMessageA(window, 0x0313, 0, 0x00640032);
    EXPECT_EQ(TakeSentPayloads(), std::vector<std::string>{"WNDMSG,0x00010020,787,0,6553650"});
  }
};

bool WriteLockExists() {
  HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, "Local\\WriteLock");
  if (!lock) return false;
  CloseHandle(lock);
  return true;
}

TEST_F(ChannelTest, RegistersOneChannelAndStoresEntryPointsOnlyWhenInitialized) {
  Load();
  ASSERT_TRUE(client().CallEntry());
  ASSERT_EQ(1u, client().initCalls.size());
  const auto &init = client().initCalls[0];
  EXPECT_EQ(1, init.channelCount);
  EXPECT_EQ(1u, init.version);
  ASSERT_EQ(1u, init.channels.size());
  EXPECT_EQ(0, memcmp(init.channels[0].name, "_quorv_", 8)) << "seven characters and the terminating zero";
  EXPECT_EQ(0u, init.channels[0].options) << "no option requested";
  EXPECT_NE(nullptr, init.initProc);
}

TEST_F(ChannelTest, RegistrationFailsUnlessOptionsComeBackExactlyInitialized) {
  Load();
  for (ULONG options : {0ul, 0x80000001ul, 0xC0000000ul, 0x00000080ul}) {
    client().optionsOnReturn = options;
    EXPECT_FALSE(client().CallEntry()) << "options 0x" << std::hex << options;
  }
  client().optionsOnReturn = CHANNEL_OPTION_INITIALIZED;
  client().initResult = CHANNEL_RC_TOO_MANY_CHANNELS;
  EXPECT_FALSE(client().CallEntry());
  client().initResult = CHANNEL_RC_OK;
  EXPECT_TRUE(client().CallEntry());
}

// FreeRDP's clients register the channel but leave its options at 0; they name themselves by the
// larger entry-point structure they pass (a magic number after the standard fields). Such a client
// gets a working channel; with further option bits it is refused like any other.
TEST_F(ChannelTest, AFreeRdpClientThatLeavesTheOptionsAt0GetsAWorkingChannel) {
  Load();
  client().presentAsFreeRdp = true;
  client().optionsOnReturn = 0x80000001ul;
  EXPECT_FALSE(client().CallEntry());
  client().optionsOnReturn = 0;
  ASSERT_TRUE(client().CallEntryAndConnect());
  ASSERT_EQ(1u, client().openCalls.size());
  EXPECT_EQ("_quorv_", client().openCalls[0].name);
  ExpectASessionsRequestsReachTheChannel();
}

TEST_F(ChannelTest, ConnectOpensWithTheEventsInitHandleAndCreatesTheWriteLock) {
  Load();
  ASSERT_TRUE(client().CallEntry());
  client().Initialized();
  EXPECT_TRUE(client().openCalls.empty()) << "initialized opens nothing";
  client().Connect();
  ASSERT_EQ(1u, client().openCalls.size());
  EXPECT_EQ(client().initHandle(), client().openCalls[0].initHandle);
  EXPECT_EQ("_quorv_", client().openCalls[0].name);
  EXPECT_NE(nullptr, client().openCalls[0].openProc);
  EXPECT_TRUE(WriteLockExists());
  // Disconnected and version-1 connected change nothing.
  client().Disconnect();
  client().InitEvent(CHANNEL_EVENT_V1_CONNECTED);
  client().InitEvent(99);
  EXPECT_EQ(1u, client().openCalls.size());
  EXPECT_TRUE(client().closeCalls.empty());
}

TEST_F(ChannelTest, TerminationClosesTheOpenHandleAndTheWriteLock) {
  LoadAndConnect();
  client().Terminate();
  ASSERT_EQ(1u, client().closeCalls.size());
  EXPECT_EQ(client().openHandleToGive, client().closeCalls[0]);
  EXPECT_FALSE(WriteLockExists());
  // A second termination closes with 0.
  client().Terminate();
  ASSERT_EQ(2u, client().closeCalls.size());
  EXPECT_EQ(0u, client().closeCalls[1]);
}

TEST_F(ChannelTest, TerminationWithoutConnectClosesWithZero) {
  Load();
  ASSERT_TRUE(client().CallEntry());
  client().Terminate();
  ASSERT_EQ(1u, client().closeCalls.size());
  EXPECT_EQ(0u, client().closeCalls[0]);
}

TEST_F(ChannelTest, FailedOpenLeavesTheChannelClosed) {
  CreateHostFrame();
  Load();
  ASSERT_TRUE(client().CallEntry());
  client().openResult = CHANNEL_RC_BAD_CHANNEL;
  client().Connect();
  Send("HELLO,1,2");
  Send("CREATE,2,5,1,0,0");
  PumpMessages();
  EXPECT_TRUE(client().Writes().empty()) << "nothing is written on a channel that did not open";
  client().openResult = CHANNEL_RC_OK;
}

TEST_F(ChannelTest, ReconnectOpensAgainAndKeepsOneWriteLock) {
  LoadAndConnect();
#ifndef _WIN32
  const int handles = winsim::OpenKernelHandles();
#endif
  client().Disconnect();
  client().Connect();  // a second connect without termination
#ifndef _WIN32
  EXPECT_EQ(handles, winsim::OpenKernelHandles()) << "the second connect reuses the write lock";
#endif
  EXPECT_EQ(2u, client().openCalls.size());
  client().Terminate();
  EXPECT_FALSE(WriteLockExists()) << "one close releases the only handle";
  client().Connect();
  EXPECT_EQ(3u, client().openCalls.size());
  EXPECT_TRUE(WriteLockExists());
}

// FreeRDP's reconnect (/auto-reconnect) raises disconnected and connected with the channel still
// open from the old connection, and refuses to open it again: the add-in's answers must still reach
// the new connection.
TEST_F(ChannelTest, AReconnectOnAClientThatKeepsTheChannelOpenWritesOnTheNewConnection) {
  CreateHostFrame();
  client().refuseOpenWhileOpen = true;
  LoadAndConnect();
  client().Disconnect();
  client().Connect();
  EXPECT_EQ(std::vector<DWORD>{client().openHandleToGive}, client().closeCalls) << "the old handle is closed";
  EXPECT_EQ(3u, client().openCalls.size()) << "refused, then opened again";
  ExpectASessionsRequestsReachTheChannel();
  // A client that refuses every open leaves the channel closed, with no loop of attempts.
  client().Disconnect();
  client().openResult = CHANNEL_RC_NOT_CONNECTED;
  client().Connect();
  EXPECT_EQ(5u, client().openCalls.size());
  client().openResult = CHANNEL_RC_OK;
  client().refuseOpenWhileOpen = false;
}

// A message cut short by a dropped connection can never be completed: the first message of the
// next connection (normally the greeting) is read on its own, after a reconnect or a termination.
TEST_F(ChannelTest, AMessageCutByTheConnectionIsDroppedAtTheNextConnect) {
  CreateHostFrame();
  LoadAndConnect();
  const std::string icon = testkit::Message({"SETICON", "1", "0x10", "1", "0", "0", "32", std::string(4000, 'Q')});
  client().DeliverChunk(icon.data(), 1600, static_cast<UINT32>(icon.size()), CHANNEL_FLAG_FIRST);
  client().Disconnect();
  client().Connect();
  TakeHostMessages();
  Send("HELLO,7,3");
  std::vector<HostMessage> posted = TakeHostMessages();
  EXPECT_TRUE(std::any_of(posted.begin(), posted.end(), [](const HostMessage &m) {
    return m.message == WM_USER_PLACEHOLDER_WINDOW;
  })) << "the session started";
  EXPECT_TRUE(IsWindowVisible(host())) << "version 3: the frame is shown without caption";

  client().DeliverChunk(icon.data(), 1600, static_cast<UINT32>(icon.size()), CHANNEL_FLAG_FIRST);
  client().Terminate();
  client().Connect();
  Send("HELLO,8,2");
  posted = TakeHostMessages();
  EXPECT_TRUE(std::any_of(posted.begin(), posted.end(), [](const HostMessage &m) {
    return m.message == WM_USER_PLACEHOLDER_WINDOW;
  })) << "the session started again after a termination";
}

TEST_F(ChannelTest, DataBeforeConnectAndUnknownOpenEventsDoNothing) {
  LoadAndConnect();
  for (UINT event : {0u, 5u, 9u, 13u, 200u}) client().OpenEvent(event, nullptr, 0, 0, 0);
  EXPECT_TRUE(client().Writes().empty());
}

TEST_F(ChannelTest, FirstFocusReportGoesOutAsNineteenBytesWithSequenceOne) {
  LoadAndConnect();
  // A new top-level remote window: its local window is shown and activated, which reports focus.
  Send("CREATE,1,1,0,0,0");
  PumpMessages();
  auto writes = client().Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ("FOCUS,0,0x00000001\n", writes[0].bytes);
  EXPECT_EQ(19u, writes[0].bytes.size());
  EXPECT_EQ(1u, *static_cast<UINT32 *>(writes[0].userData));
}

TEST_F(ChannelTest, UnloadAndReloadInOneProcess) {
  CreateHostFrame();
  LoadAndConnect();
  StartSession();
  Send("CREATE,2,0x100,1,0,0");
  ASSERT_EQ(2u, LocalWindows().size()) << "placeholder and one mirrored window";
  client().Terminate();
  Unload();
  EXPECT_TRUE(LocalWindows().empty()) << "unloading destroys every local window";
  // A new connection loads the add-in again: the window class must point at live code.
  LoadAndConnect();
  StartSession();
  Send("CREATE,2,0x200,1,0,0");
  PumpMessages();
  EXPECT_EQ(2u, LocalWindows().size());
}

}  // namespace
}  // namespace quorvtest

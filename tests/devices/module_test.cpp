// Module set-up and life cycle, the connection closing rule, and the restart
// countdown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/scripted_peer.h"
#include "comm/transaction.h"
#include "devices/mod_nx9000.h"
#include "devices/wait_dialog.h"

namespace orv {
namespace {

using test::Bytes;
using test::PeerAction;
using test::ScriptedPeer;

class RecordingView : public TModuleConsoleView {
 public:
  explicit RecordingView(std::vector<std::string>* log) : log_(log) {}
  ~RecordingView() override { log_->push_back("destroyed"); }
  void AttachTo(void*) override { log_->push_back("attach"); }
  void SetVisible(bool v) override { log_->push_back(v ? "visible" : "hidden"); }
  void Setup(TIOMod& m) override { log_->push_back("setup " + m.szIOObjName); }
  void StartConsole() override { log_->push_back("start"); }
  void StopConsole() override { log_->push_back("stop"); }
  void OnAddIO(TIOObjList* list) override { log_->push_back("addio " + std::to_string(list->size())); }

 private:
  std::vector<std::string>* log_;
};

TEST(Module, RtuModuleSetUp) {
  TModNx9000 m(20);
  EXPECT_EQ(m.szIOObjName, "K7710-GPRS-C-T");
  EXPECT_EQ(m.nIOType, IOTYPE_MODULE);
  EXPECT_EQ(m.nUnitID, 1);
  EXPECT_EQ(m.nNumberChannels, 16);
  EXPECT_EQ(m.nSupportedChannelType, 8);
  EXPECT_EQ(m.nProductID, 0);
  EXPECT_EQ(m.nModuleClass, 0x11);
  EXPECT_TRUE(m.bOnline);
  EXPECT_EQ(m.pSockets[0], nullptr);

  m.Init(nullptr, nullptr, nullptr);
  ASSERT_NE(m.pSockets[0], nullptr);
  EXPECT_EQ(m.pSockets[0]->Host(), "");
  m.SetPassword("kept?");
  TIOObjList list;
  m.AddIO(&list, nullptr, "10.0.0.7", "00-11-22-33-44-55", "255.0.0.0", "10.0.0.1", "Lock",
          "2.1.0", "north");
  EXPECT_EQ(m.pSockets[0]->Host(), "10.0.0.7");
  EXPECT_EQ(m.pSockets[0]->Port(), 502);
  EXPECT_TRUE(m.pSockets[0]->Blocking());
  EXPECT_FALSE(m.pSockets[0]->Connected());
  EXPECT_EQ(m.szLocation, "Taiwan");
  EXPECT_EQ(m.szPassword, "");
  EXPECT_EQ(m.szGateway, "10.0.0.1");
  EXPECT_EQ(list, TIOObjList{&m});
  EXPECT_EQ(m.pOwnerList, &list);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(m.pSockets[i], nullptr);

  m.SetConnectionStr("10.0.0.8");
  EXPECT_EQ(m.szConnection, "10.0.0.8");
  EXPECT_EQ(m.pSockets[0]->Host(), "10.0.0.8");
  m.Quit();
  EXPECT_EQ(m.pSockets[0], nullptr);
}

TEST(Module, PlainModuleCommandsDoNothing) {
  TIOMod m(0, 1, 4, 16, 8);
  EXPECT_EQ(m.szIOObjName, "Tramix 4410-5-RJ45-C");
  uint8_t block[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(m.muRestart(""), 0);
  EXPECT_EQ(m.muReset(""), 0);
  EXPECT_EQ(m.muUgdFW(nullptr, 0, 10, block, ""), 0);
  EXPECT_EQ(m.muUnlockDev(true, ""), 0);
  EXPECT_EQ(m.muLocateDev(block, ""), 0);
  EXPECT_EQ(m.muImportDev(10, block, ""), 0);
  EXPECT_EQ(m.muExportDev(nullptr, ""), 0);
  EXPECT_EQ(m.muChangeIP(block, ""), 0);
  EXPECT_EQ(m.ModbusTransaction(3, 1, 1, nullptr, block, true, 0, false), 0);
  m.EncodePassword("x", block);
  EXPECT_EQ(block[0], 9);
  m.nRefreshCount = 5;
  m.Show();  // no view: still resets the refresh count
  EXPECT_EQ(m.nRefreshCount, 0);
}

TEST(Module, ConsoleViewFollowsTheModule) {
  std::vector<std::string> log;
  {
    TModNx9000 m(1);
    m.Init(new RecordingView(&log), nullptr, nullptr);
    TIOObjList list;
    m.AddIO(&list, nullptr, "10.0.0.7", "", "", "", "", "", "");
    m.Show();
    m.Hide();
    m.Quit();
    EXPECT_EQ(m.pView, nullptr);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"attach", "hidden", "setup K7710-HSDPA-C", "addio 1",
                                           "visible", "start", "hidden", "stop", "stop",
                                           "destroyed"}));
}

TEST(Module, GoingOfflineClosesTheConnectionUnlessHalted) {
  ScriptedPeer peer([](const Bytes& f, int, int) { return PeerAction::Send(test::NormalReply(f)); });
  TModNx9000 m(0);
  m.Init(nullptr, nullptr, nullptr);
  TIOObjList list;
  m.AddIO(&list, nullptr, "127.0.0.1", "", "", "", "", "", "");
  m.pSockets[0]->SetPort(peer.port());
  uint8_t reply[256];
  ASSERT_EQ(m.ModbusTransaction(6, 1, 1, nullptr, reply, true, 1000, false), 12);
  EXPECT_TRUE(m.pSockets[0]->Connected());
  m.SetOnline(true);
  EXPECT_TRUE(m.pSockets[0]->Connected());
  DeviceIoHalted = true;
  m.SetOnline(false);
  EXPECT_TRUE(m.pSockets[0]->Connected());
  DeviceIoHalted = false;
  m.SetOnline(false);
  EXPECT_FALSE(m.pSockets[0]->Connected());
  // The next request opens a fresh connection.
  ASSERT_EQ(m.ModbusTransaction(6, 1, 1, nullptr, reply, true, 1000, false), 12);
  EXPECT_EQ(peer.connections(), 2);
  m.Quit();
}

TEST(Module, UpdateMenuCallsTheHookForRemoteModules) {
  int calls = 0;
  SetDeviceMenuHook([&] { ++calls; });
  TModNx9000 m(0);
  m.UpdateMenu();
  m.nModuleClass = 0;
  m.UpdateMenu();
  SetDeviceMenuHook(nullptr);
  EXPECT_EQ(calls, 1);
}

class FakeClock : public TWaitClock {
 public:
  void WaitMs(int32_t ms) override { waits.push_back(ms); }
  std::vector<int32_t> waits;
};

class RecordingDisplay : public TWaitDisplay {
 public:
  void Opened() override { events.push_back(-1); }
  void ShowCount(int32_t n) override { events.push_back(n); }
  void Closed() override { events.push_back(-2); }
  std::vector<int32_t> events;
};

TEST(RestartWait, CountsDownSixSecondsAndCloses) {
  FakeClock clock;
  RecordingDisplay display;
  TfmWait wait(&display, &clock);
  wait.ShowModal();
  EXPECT_EQ(display.events, (std::vector<int32_t>{-1, 6, 5, 4, 3, 2, 1, 0, -2}));
  EXPECT_EQ(clock.waits, (std::vector<int32_t>(6, 1000)));
}

}  // namespace
}  // namespace orv

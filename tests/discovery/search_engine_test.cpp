// The search engine's cycle rule, stop button, failures and receive loop,
// driven by a scripted socket and clock (no sleeping, no network).
#include <gtest/gtest.h>

#include "discovery/search_engine.h"
#include "test_support.h"

namespace orv {
namespace {

using test::DeviceAnswer;
using test::FakeClock;
using test::FakeTransport;

class Engine : public ::testing::Test {
 protected:
  FakeClock clock;
  FakeTransport transport{clock};
  std::vector<IONODE> found;
  FoundListSink sink{found};
  std::unique_ptr<SearchEngine> engine;
  int pumps = 0;
  int closes = 0;
  int steps = 0;
  std::vector<bool> stopStates;
  std::function<void(int)> onPump;  // with the 1-based pump number

  void Make(int cycles, const std::string& nic = "10.77.0.1") {
    engine = std::make_unique<SearchEngine>(transport, clock, sink);
    engine->SetNicIP(nic);
    engine->SetRemainingCycles(cycles);
    SearchCallbacks cb;
    cb.processEvents = [this] {
      ++pumps;
      if (onPump) onPump(pumps);
    };
    cb.closeDialog = [this] { ++closes; };
    cb.progressStep = [this] { ++steps; };
    cb.stopEnabled = [this](bool on) { stopStates.push_back(on); };
    engine->SetCallbacks(cb);
  }
};

TEST_F(Engine, CycleRuleWithTheTimerOnlyInThePump) {
  // Cycles made for the T a search starts with: T/2 + 1 from T = 2 on.
  const std::pair<int, int> expected[] = {{3, 2}, {5, 3}, {10, 6}, {2, 2}, {4, 3}, {1, 1}, {0, 0}, {-1, 0}};
  for (auto [t, cycles] : expected) {
    FakeClock c;
    FakeTransport tr(c);
    std::vector<IONODE> f;
    FoundListSink s(f);
    SearchEngine e(tr, c, s);
    e.SetNicIP("10.77.0.1");
    e.SetRemainingCycles(t);
    e.do_search();
    EXPECT_EQ(static_cast<int>(tr.sent.size()), cycles) << "T=" << t;
    EXPECT_EQ(e.Stats().pumps, cycles) << "T=" << t;
    EXPECT_EQ(e.Stats().ticks, cycles > 0 ? cycles - 1 : 0) << "T=" << t;
    EXPECT_FALSE(tr.IsOpen());
    EXPECT_EQ(tr.opens, 1);
  }
}

TEST_F(Engine, AtMostOneTickPerPumpEvenAfterLongReceivePhases) {
  Make(10);
  // Every receive phase lasts five seconds: still only one tick per pump.
  transport.onEmpty = [this] { clock.now += 4000; };
  engine->do_search();
  EXPECT_EQ(transport.sent.size(), 6u);
  EXPECT_EQ(engine->Stats().ticks, 5);
  EXPECT_EQ(engine->RemainingCycles(), 5);
  EXPECT_EQ(steps, 5);
  EXPECT_EQ(transport.lastTimeout, 1000);
}

TEST_F(Engine, NoTickBeforeAFullInterval) {
  Make(10);
  // Receive phases of 600 ms: a tick only every second pump.
  transport.onEmpty = [this] { clock.now -= 400; };
  engine->do_search();
  // Ticks at pumps 3, 5, 7, ... lower T by one every two cycles.
  EXPECT_EQ(engine->Stats().pumps, 7);
  EXPECT_EQ(engine->Stats().ticks, 3);
  EXPECT_EQ(engine->RemainingCycles(), 7);
}

TEST_F(Engine, DefaultSearchWithoutAnswers) {
  Make(3);
  engine->do_search();
  ASSERT_EQ(transport.sent.size(), 2u);
  for (const auto& s : transport.sent) {
    EXPECT_EQ(s.addr, 0xFFFFFFFFu);
    EXPECT_EQ(s.port, 4800);
    EXPECT_EQ(s.data, (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00}));
  }
  EXPECT_EQ(transport.boundAddr, 0x0A4D0001u);
  EXPECT_EQ(transport.boundPort, 13000);
  EXPECT_EQ(transport.closes, 1);
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(engine->Failure());
  EXPECT_EQ(transport.broadcastCalls, 2);
}

TEST_F(Engine, DeviceAnsweringEveryRequestIsListedOnceAndTravelsInTheRequest) {
  Make(5);
  transport.onSend = [this](std::size_t) {
    transport.Queue(DeviceAnswer(7), 30);
    transport.Queue(DeviceAnswer(8), 150);
  };
  engine->do_search();
  ASSERT_EQ(transport.sent.size(), 3u);
  EXPECT_EQ(transport.sent[0].data.size(), 8u);
  EXPECT_EQ(transport.sent[1].data.size(), 32u);
  EXPECT_EQ(transport.sent[2].data, transport.sent[1].data);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].szServerName, "RTU-7");
  EXPECT_EQ(found[1].szServerName, "RTU-8");
  EXPECT_EQ(engine->Stats().answers, 6u);
}

TEST_F(Engine, StopIsIgnoredInTheFirstCycleAndImmediateLater) {
  Make(3);
  onPump = [this](int n) {
    if (n == 1) engine->btnStopClick();
  };
  engine->do_search();
  EXPECT_EQ(transport.sent.size(), 2u);  // the disabled button did nothing
  EXPECT_FALSE(SearchStopped);
  EXPECT_EQ(closes, 0);

  transport.sent.clear();
  pumps = 0;
  Make(10);
  int recvBefore = 0;
  onPump = [&](int n) {
    if (n == 3) {
      engine->btnStopClick();
      recvBefore = transport.recvCalls;
    }
  };
  engine->do_search();
  EXPECT_EQ(transport.sent.size(), 3u);
  EXPECT_EQ(transport.recvCalls, recvBefore);  // the receive phase returned at once
  EXPECT_TRUE(SearchStopped);
  EXPECT_FALSE(transport.IsOpen());
  // The tick in the same pump saw the stop: timer off, dialog closed.
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(engine->TimerEnabled());
  // The click disabled the button.
  EXPECT_NE(std::find(stopStates.begin(), stopStates.end(), false), stopStates.end());
}

TEST_F(Engine, StopDuringAReceivePhaseEndsIt) {
  Make(10);
  transport.onSend = [this](std::size_t n) {
    if (n == 2) {
      transport.Queue(DeviceAnswer(1));
      transport.Queue(DeviceAnswer(2));
    }
  };
  // The stop flag is set as the first answer of cycle 2 is handled.
  struct StopSink : SearchResultSink {
    std::vector<IONODE>* out;
    void AddNewModule(IONODE n) override {
      out->push_back(std::move(n));
      SearchStopped = true;
    }
  } stopSink;
  stopSink.out = &found;
  SearchEngine e(transport, clock, stopSink);
  e.SetNicIP("10.77.0.1");
  e.SetRemainingCycles(10);
  e.do_search();
  EXPECT_EQ(transport.sent.size(), 2u);
  EXPECT_EQ(found.size(), 1u);  // the second answer was never read
  EXPECT_EQ(transport.queue.size(), 1u);
}

TEST_F(Engine, SendFailureSkipsTheCycleWithoutPumping) {
  Make(3);
  transport.failSendOn = [](int attempt) { return attempt == 1; };
  engine->do_search();
  EXPECT_EQ(transport.sendCalls, 3);
  EXPECT_EQ(transport.sent.size(), 2u);
  EXPECT_EQ(engine->Stats().pumps, 2);
  EXPECT_EQ(engine->Stats().sendsFailed, 1);
  EXPECT_NE(engine->Stats().lastSendError.find("send"), std::string::npos);

  Make(3);
  transport.sent.clear();
  transport.sendCalls = 0;
  transport.failSendOn = nullptr;
  transport.broadcastCalls = 0;
  transport.failBroadcastOn = [](int attempt) { return attempt == 2; };
  engine->do_search();
  EXPECT_EQ(transport.broadcastCalls, 3);
  EXPECT_EQ(transport.sendCalls, 2);
  EXPECT_EQ(engine->Stats().pumps, 2);
}

TEST_F(Engine, BindFailureEndsAtOnceWithTheReason) {
  Make(3);
  transport.failOpen = true;
  transport.failErrno = EADDRINUSE;
  engine->do_search();
  EXPECT_EQ(transport.sendCalls, 0);
  EXPECT_EQ(engine->Stats().pumps, 0);
  EXPECT_EQ(engine->Stats().cycles, 0);
  ASSERT_TRUE(engine->Failure());
  EXPECT_EQ(engine->Failure().stage, SearchFailure::Stage::Bind);
  EXPECT_EQ(engine->Failure().err, EADDRINUSE);
  EXPECT_NE(engine->Failure().reason.find("10.77.0.1:13000"), std::string::npos);
  EXPECT_NE(engine->Failure().reason.find(std::strerror(EADDRINUSE)), std::string::npos);

  Make(3);
  transport.failErrno = EADDRNOTAVAIL;
  engine->do_search();
  EXPECT_NE(engine->Failure().reason.find("not an address of this host"), std::string::npos);

  Make(3);
  transport.failStage = SearchTransport::OpenStage::Socket;
  transport.failErrno = EMFILE;
  engine->do_search();
  EXPECT_EQ(engine->Failure().stage, SearchFailure::Stage::Socket);
}

TEST_F(Engine, UnusableInterfaceAddressNeverOpensASocket) {
  for (const char* nic : {"", "   ", "10.77.0", "eth0"}) {
    Make(3, nic);
    engine->do_search();
    EXPECT_EQ(engine->Failure().stage, SearchFailure::Stage::Address) << nic;
    EXPECT_FALSE(engine->Failure().reason.empty());
  }
  EXPECT_EQ(transport.opens, 0);
  Make(3, " 10.77.0.9 ");
  engine->do_search();
  EXPECT_FALSE(engine->Failure());
  EXPECT_EQ(transport.boundAddr, 0x0A4D0009u);
}

TEST_F(Engine, ReceiveLoopDropsWrongSizesAndEndsOnErrors) {
  Make(3);
  transport.onSend = [this](std::size_t n) {
    if (n != 1) return;
    auto a = DeviceAnswer(1);
    auto small = a;
    small.resize(115);
    auto big = DeviceAnswer(2);
    big.push_back(0);
    transport.Queue(small);
    transport.Queue(big);  // arrives truncated
    transport.Queue(a);
    transport.queue.push_back({SearchTransport::RecvStatus::Error, {}, 0});
    transport.Queue(DeviceAnswer(3));  // read in the next cycle's phase
  };
  engine->do_search();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].szServerName, "RTU-1");
  EXPECT_EQ(found[1].szServerName, "RTU-3");
  EXPECT_EQ(engine->Stats().datagrams, 4u);
  EXPECT_EQ(engine->Stats().answers, 2u);
  // The error ended the first phase at once, so no full second had passed
  // at the second pump: no tick, and a third cycle follows.
  ASSERT_EQ(transport.sent.size(), 3u);
  EXPECT_EQ(transport.sent[1].data.size(), 20u);
  EXPECT_EQ(transport.sent[2].data.size(), 32u);
}

TEST_F(Engine, EndlessStreamOfDatagramsEndsTheReceivePhase) {
  Make(1);
  std::vector<uint8_t> junk(40, 0xAB);
  transport.onEmpty = [&] { transport.Queue(junk, 100); };
  engine->do_search();
  EXPECT_EQ(transport.sent.size(), 1u);
  EXPECT_EQ(engine->Stats().datagrams, 100u);  // ten time-outs' worth
  EXPECT_FALSE(transport.IsOpen());
}

TEST_F(Engine, ProgressSetUp) {
  std::vector<std::array<int, 4>> setups;
  auto make = [&](int t) {
    Make(t);
    SearchCallbacks cb;
    cb.progressSetup = [&](int a, int b, int c, int d) { setups.push_back({a, b, c, d}); };
    engine->SetCallbacks(cb);
    return engine->SetupProgress();
  };
  EXPECT_TRUE(make(3));
  EXPECT_TRUE(make(5));
  EXPECT_TRUE(make(2));
  EXPECT_FALSE(make(1));
  EXPECT_FALSE(make(0));
  EXPECT_FALSE(make(-1));
  EXPECT_FALSE(make(-7));
  ASSERT_EQ(setups.size(), 3u);
  EXPECT_EQ(setups[0], (std::array<int, 4>{0, 200, 100, 100}));
  EXPECT_EQ(setups[1], (std::array<int, 4>{0, 333, 111, 111}));
  EXPECT_EQ(setups[2], (std::array<int, 4>{0, 133, 133, 133}));
}

TEST_F(Engine, NewEngineClearsTheStopFlag) {
  SearchStopped = true;
  Make(3);
  EXPECT_FALSE(SearchStopped);
  engine->do_search();
  EXPECT_EQ(transport.sent.size(), 2u);
}

}  // namespace
}  // namespace orv

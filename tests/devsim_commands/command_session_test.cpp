// The command session on a fake link: logging, timing faults and the order of
// reply and restart.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "command_protocol.h"
#include "command_service.h"
#include "fake_device.h"

namespace orv::devsim {
namespace {

using test::FakeControl;
using test::LoginBlock;
using test::MakeDevice;
using test::Req;

struct FakeLink : Link {
  std::vector<std::vector<uint8_t>> sends;  // one entry per Send call
  std::vector<std::string>* events = nullptr;
  bool closed = false, aborted = false;
  int now = 0;
  std::multimap<int, std::function<void()>> timers;

  void Send(const uint8_t* d, size_t n) override {
    sends.emplace_back(d, d + n);
    if (events) events->push_back("send");
  }
  void Close() override { closed = true; }
  void Abort() override { aborted = true; }
  void After(int ms, std::function<void()> fn) override { timers.emplace(now + ms, std::move(fn)); }
  void Advance(int ms) {
    int until = now + ms;
    while (!timers.empty() && timers.begin()->first <= until) {
      auto it = timers.begin();
      now = it->first;
      auto fn = std::move(it->second);
      timers.erase(it);
      fn();
    }
    now = until;
  }
  std::vector<uint8_t> All() const {
    std::vector<uint8_t> a;
    for (const auto& s : sends) a.insert(a.end(), s.begin(), s.end());
    return a;
  }
};

class SessionTest : public ::testing::Test {
 protected:
  Device dev = MakeDevice();
  FakeControl ctl;
  FakeLink link;
  std::unique_ptr<Session> session;

  void Start(const char* faultsJson = nullptr) {
    if (faultsJson) dev.raw = nlohmann::json::parse(faultsJson);
    link.events = &ctl.events;
    session = MakeCommandSession(dev, link, ctl);
  }
  void Feed(const std::vector<uint8_t>& f) { session->OnData(f.data(), f.size()); }
  std::vector<uint8_t> LoginFrame(uint16_t tid = 0) {
    return Req(tid, kFcWriteRegisters, kRegPassword, 5, LoginBlock("TIRVacua", 0x55));
  }
};

TEST_F(SessionTest, LogsEveryFrameAndAnswersFramesSplitAcrossReads) {
  Start();
  auto a = LoginFrame(1);
  auto b = Req(2, kFcReadHolding, kRegAddressMode, 1);
  std::vector<uint8_t> stream = a;
  stream.insert(stream.end(), b.begin(), b.end());
  session->OnData(stream.data(), 3);  // header in pieces, then the rest with the next frame
  session->OnData(stream.data() + 3, stream.size() - 3);
  ASSERT_EQ(ctl.frames.size(), 2u);
  EXPECT_EQ(ctl.frames[0], a);
  EXPECT_EQ(ctl.frames[1], b);
  ASSERT_EQ(link.sends.size(), 2u);
  EXPECT_EQ(link.sends[0].size(), 12u);
  EXPECT_EQ(link.sends[1], (std::vector<uint8_t>{0, 2, 0, 0, 0, 5, 1, kFcReadHolding, 2, 0, 0}));
}

TEST_F(SessionTest, SplitAndSlowRepliesKeepTheirBytes) {
  Start(R"({"faults": {"split_replies": true, "split_pause_ms": 30, "reply_delay_ms": 100}})");
  auto login = LoginFrame(7);
  Feed(login);
  EXPECT_TRUE(link.sends.empty());
  link.Advance(99);
  EXPECT_TRUE(link.sends.empty());
  link.Advance(1);
  ASSERT_EQ(link.sends.size(), 1u);
  EXPECT_EQ(link.sends[0].size(), 5u);
  link.Advance(30);
  ASSERT_EQ(link.sends.size(), 2u);
  EXPECT_EQ(link.sends[1].size(), 7u);
  EXPECT_EQ(link.All(), (std::vector<uint8_t>{0, 7, 0, 0, 0, 6, 1, 0x74, 0x81, 0x33, 0, 5}));
}

TEST_F(SessionTest, RestartAndResetComeAfterTheReply) {
  Start(R"({"faults": {"restart_offline_ms": 1234}})");
  Feed(LoginFrame());
  Feed(Req(1, kFcDiagnostics, 1, 0xFF00));
  ASSERT_EQ(ctl.events, (std::vector<std::string>{"send", "send", "restart"}));
  EXPECT_EQ(ctl.lastOfflineMs, 1234);
  // Nothing more is answered on a connection of a restarting device.
  Feed(Req(2, kFcReadHolding, kRegAddressMode, 1));
  EXPECT_EQ(link.sends.size(), 2u);

  FakeLink link2;
  link2.events = &ctl.events;
  ctl.events.clear();
  auto s2 = MakeCommandSession(dev, link2, ctl);
  auto lf = LoginFrame();
  s2->OnData(lf.data(), lf.size());
  auto rs = Req(1, kFcDiagnostics, 1, 0x55AA);
  s2->OnData(rs.data(), rs.size());
  EXPECT_EQ(ctl.events, (std::vector<std::string>{"send", "send", "factory", "restart"}));
}

TEST_F(SessionTest, CutRepliesDropsAndBadHeaders) {
  Start(R"({"faults": {"close_mid_reply_on": ["103:8138"]}})");
  Feed(LoginFrame());
  Feed(Req(1, kFcReadHolding, kRegAddressMode, 1));
  ASSERT_EQ(link.sends.size(), 2u);
  EXPECT_EQ(link.sends[1].size(), 5u);  // half of the 11-byte reply
  EXPECT_TRUE(link.closed);
  EXPECT_FALSE(link.aborted);

  FakeLink l2;
  Device d2 = MakeDevice();
  d2.raw = nlohmann::json::parse(R"({"faults": {"no_answer": true}})");
  auto s2 = MakeCommandSession(d2, l2, ctl);
  auto lf = LoginFrame();
  s2->OnData(lf.data(), lf.size());
  EXPECT_TRUE(l2.sends.empty());
  EXPECT_FALSE(l2.closed || l2.aborted);

  FakeLink l3;
  auto s3 = MakeCommandSession(d2, l3, ctl);
  std::vector<uint8_t> garbage = {0x47, 0x45, 0x54, 0x20, 0x2F, 0x20, 0x48, 0x54};  // not a frame
  s3->OnData(garbage.data(), garbage.size());
  EXPECT_TRUE(l3.aborted);
  EXPECT_TRUE(l3.sends.empty());

  // A device with malformed fault keys still serves, and says why it ignores them.
  FakeLink l4;
  Device d4 = MakeDevice();
  d4.raw = nlohmann::json::parse(R"({"faults": {"bogus": true}})");
  EXPECT_THROW(ValidateCommandFaults(d4.raw), std::invalid_argument);
  auto s4 = MakeCommandSession(d4, l4, ctl);
  s4->OnData(lf.data(), lf.size());
  EXPECT_EQ(l4.sends.size(), 1u);
}


// Whatever a client sends, each reply is one well-formed frame for the
// request it answers, and nothing is over-read or left growing.
TEST_F(SessionTest, RandomRequestsGetWellFormedRepliesOrACleanClose) {
  std::mt19937 rng(1234);
  const uint8_t codes[] = {101, 102, 103, 104, 105, 106, 107, 108, 115, 116, 0, 255, 3};
  const uint16_t addrs[] = {kRegPassword, kRegAddressMode, kRegIpAddress, kRegLocate, kRegFwOpen,
                            kRegFwConstant, kRegFwLength, kRegFwFixed, kRegFwBlock, kRegFwCrc, kRegFwClose,
                            kRegCfgInLength, kRegCfgInBlock, kRegCfgInClose, kRegCfgOutLength,
                            kRegCfgOutBlock, kRegCfgOutClose, 0x0001, 0xFFFF};
  for (int conn = 0; conn < 200; ++conn) {
    Device d = MakeDevice();
    FakeLink l;
    auto s = MakeCommandSession(d, l, ctl);
    auto login = LoginFrame();
    s->OnData(login.data(), login.size());
    for (int i = 0; i < 60 && !l.closed && !l.aborted; ++i) {
      size_t before = l.sends.size();
      std::vector<uint8_t> f(8 + rng() % 256);  // length field 2..257
      for (auto& b : f) b = static_cast<uint8_t>(rng());
      f[2] = f[3] = 0;
      f[4] = static_cast<uint8_t>((f.size() - 6) >> 8);
      f[5] = static_cast<uint8_t>(f.size() - 6);
      f[7] = codes[rng() % sizeof codes];
      if (f.size() >= 10) {
        uint16_t a = addrs[rng() % (sizeof addrs / sizeof addrs[0])];
        f[8] = static_cast<uint8_t>(a >> 8);
        f[9] = static_cast<uint8_t>(a);
      }
      if (rng() % 8 == 0) f[2] = 1;  // a broken header now and then
      // Delivered in random pieces.
      for (size_t off = 0; off < f.size();) {
        size_t n = 1 + rng() % (f.size() - off);
        s->OnData(f.data() + off, n);
        off += n;
      }
      if (f[2] != 0) {
        EXPECT_TRUE(l.aborted);
        break;
      }
      for (size_t k = before; k < l.sends.size(); ++k) {
        const auto& r = l.sends[k];
        ASSERT_GE(r.size(), 9u);
        EXPECT_EQ(r[0], f[0]);
        EXPECT_EQ(r[1], f[1]);
        EXPECT_EQ(r[2] << 8 | r[3], 0);
        EXPECT_EQ(size_t(r[4] << 8 | r[5]), r.size() - 6);
        EXPECT_EQ(r[7] & 0x7F, f[7] & 0x7F);
        if (r[7] & 0x80) { EXPECT_EQ(r.size(), 9u); }
      }
      EXPECT_LE(l.sends.size() - before, 1u);
    }
  }
}

}  // namespace
}  // namespace orv::devsim

// ModbusTransaction over real loopback connections to a scripted peer: time
// limits, pieces, exception replies, closes, reconnect-once, the transaction
// counter and the conditions under which nothing is sent.
#include <gtest/gtest.h>

#include <chrono>

#include "comm/client_socket.h"
#include "comm/scripted_peer.h"
#include "comm/socket_worker.h"
#include "comm/transaction.h"
#include "host/settings.h"
#include "inventory/io_mod.h"

namespace orv {
namespace {

using test::Bytes;
using test::PeerAction;
using test::ScriptedPeer;
using Clock = std::chrono::steady_clock;

class CountingModule : public TIOMod {
 public:
  CountingModule() : TIOMod(0, 1, 0, 16, 8) {}
  void SetOnline(bool online) override {
    if (!online) {
      ++offline;
      if (socket && !DeviceIoHalted) socket->Close();
    }
  }
  ClientSocket* socket = nullptr;
  int offline = 0;
};

class TransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedTimeout_ = nSocketTimeout;
    nSocketTimeout = 2000;
    TransactionCounter = 0;
    DeviceIoHalted = false;
    module_.socket = &socket_;
  }
  void TearDown() override {
    socket_.Close();
    nSocketTimeout = savedTimeout_;
    DeviceIoHalted = false;
  }
  void Point(const ScriptedPeer& peer) {
    socket_.SetHost("127.0.0.1");
    socket_.SetPort(peer.port());
  }
  int32_t Transact(uint32_t type, uint32_t ref, uint16_t count, const uint8_t* data = nullptr,
                   bool await = true, int32_t timeout = 0, bool retry = false) {
    return ModbusTransact(module_, &socket_, frame_, type, ref, count, data, reply_, await,
                          timeout, retry);
  }

  CountingModule module_;
  ClientSocket socket_;
  uint8_t frame_[kModbusMaxRequest] = {};
  uint8_t reply_[256] = {};
  int32_t savedTimeout_ = 0;
};

uint16_t Tid(const Bytes& frame) { return static_cast<uint16_t>(frame[0] << 8 | frame[1]); }

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST_F(TransactionTest, ReplyInTwoPiecesCompletes) {
  ScriptedPeer peer([](const Bytes& f, int, int) {
    PeerAction a = PeerAction::Send(test::NormalReply(f));
    a.pieces = {5, 7};
    a.pieceDelayMs = 50;
    return a;
  });
  Point(peer);
  EXPECT_EQ(Transact(6, 0x80F6, 0x0100), 12);
  EXPECT_EQ(reply_[7], 0x6A);
  EXPECT_EQ(reply_[10], 0x01);
  EXPECT_TRUE(socket_.Connected());  // stays open between requests
  EXPECT_EQ(module_.offline, 0);
}

TEST_F(TransactionTest, SilentPeerFailsAfterTheLimitOnce) {
  ScriptedPeer peer([](const Bytes&, int, int) { return PeerAction::NoReply(); });
  Point(peer);
  const auto t = Clock::now();
  EXPECT_EQ(Transact(3, 0x8081, 1, nullptr, true, 300), -1);
  const auto ms = MsSince(t);
  EXPECT_GE(ms, 290);
  EXPECT_LT(ms, 1500);
  EXPECT_TRUE(socket_.Connected());  // a time-out leaves the connection open
  EXPECT_EQ(module_.offline, 0);     // no retry asked: nothing else happens
}

TEST_F(TransactionTest, ExceptionReplyFailsWithoutWaiting) {
  ScriptedPeer peer([](const Bytes& f, int, int) {
    return PeerAction::Send(test::ExceptionReply(f));
  });
  Point(peer);
  const uint8_t data[10] = {};
  const auto t = Clock::now();
  EXPECT_EQ(Transact(16, 0x8134, 5, data, true, 4000), -1);
  EXPECT_LT(MsSince(t), 1000);
  EXPECT_EQ(reply_[7], 0xF4);
}

TEST_F(TransactionTest, BytesThatDoNotAnswerTheRequestFail) {
  // Each reply has the expected length but is no answer to the request.
  int variant = 0;
  ScriptedPeer peer([&](const Bytes& f, int, int) {
    Bytes r = test::NormalReply(f);
    switch (variant) {
      case 0: r[7] = 0x67; break;   // another function code
      case 1: r[3] = 1; break;      // protocol identifier not 0
      case 2: r[4] = 0xFF, r[5] = 0xFF; break;  // length field 65535
      case 3: r[7] |= 0x80; break;  // an exception padded to full length
      case 4:                        // counting bytes 00 01 02 ...
        for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(i);
        break;
      default: break;
    }
    if (variant == 2) r.insert(r.end(), 2000, 0x55);
    return PeerAction::Send(r);
  });
  Point(peer);
  for (variant = 0; variant <= 4; ++variant) {
    EXPECT_EQ(Transact(6, 0x80F6, 0x0100), -1) << "variant " << variant;
    EXPECT_FALSE(socket_.Connected()) << "variant " << variant;
  }
  // The same peer answering properly is taken.
  EXPECT_EQ(Transact(6, 0x80F6, 0x0100), 12);
}

TEST_F(TransactionTest, CloseInTheMiddleOfTheReply) {
  ScriptedPeer peer([](const Bytes& f, int, int) {
    Bytes r = test::NormalReply(f);
    r.resize(5);
    PeerAction a = PeerAction::Send(r);
    a.closeAfter = true;
    return a;
  });
  Point(peer);
  EXPECT_EQ(Transact(6, 1, 1, nullptr, true, 3000), -1);
  EXPECT_FALSE(socket_.Connected());
}

TEST_F(TransactionTest, NoReplyAwaitedReturnsZeroOnceWritten) {
  ScriptedPeer peer([](const Bytes&, int, int) { return PeerAction::NoReply(); });
  Point(peer);
  const auto t = Clock::now();
  EXPECT_EQ(Transact(8, 1, 0xFF00, nullptr, false, 3000), 0);
  EXPECT_LT(MsSince(t), 1000);
  for (int i = 0; i < 100 && peer.frames().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(peer.frames().size(), 1u);
  EXPECT_EQ(peer.frames()[0].bytes,
            (Bytes{0, 0, 0, 0, 0, 6, 1, 0x6C, 0, 1, 0xFF, 0}));
}

TEST_F(TransactionTest, LongestRequestArrivesWhole) {
  ScriptedPeer peer([](const Bytes& f, int, int) { return PeerAction::Send(test::NormalReply(f)); });
  Point(peer);
  uint8_t data[250];
  for (int i = 0; i < 250; ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(Transact(16, 0x8211, 125, data), 12);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 1u);
  const Bytes& f = frames[0].bytes;
  ASSERT_EQ(f.size(), 263u);
  EXPECT_EQ(Bytes(f.begin() + 13, f.end()), Bytes(data, data + 250));
}

TEST_F(TransactionTest, RetryRepeatsTheSameFrameOnANewConnection) {
  ScriptedPeer peer([](const Bytes& f, int conn, int) {
    return conn == 0 ? PeerAction::Drop() : PeerAction::Send(test::NormalReply(f));
  });
  Point(peer);
  TransactionCounter = 0x0102;
  EXPECT_EQ(Transact(8, 1, 0xFF00, nullptr, true, 2000, true), 12);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].connection, 0);
  EXPECT_EQ(frames[1].connection, 1);
  EXPECT_EQ(frames[0].bytes, frames[1].bytes);
  EXPECT_EQ(Tid(frames[1].bytes), 0x0102);
  EXPECT_EQ(module_.offline, 0);
  EXPECT_EQ(TransactionCounter, 0x0103);  // advanced once for both attempts
}

TEST_F(TransactionTest, RetryIsOnlyOnceAndThenGoesOffline) {
  ScriptedPeer peer([](const Bytes&, int, int) { return PeerAction::Drop(); });
  Point(peer);
  EXPECT_EQ(Transact(8, 1, 0x55AA, nullptr, true, 2000, true), -1);
  EXPECT_EQ(peer.frames().size(), 2u);
  EXPECT_EQ(peer.connections(), 2);
  EXPECT_EQ(module_.offline, 1);
}

TEST_F(TransactionTest, WithoutRetryAFailedExchangeIsNotRepeated) {
  ScriptedPeer peer([](const Bytes&, int, int) { return PeerAction::Drop(); });
  Point(peer);
  EXPECT_EQ(Transact(8, 1, 0xFF00, nullptr, true, 2000, false), -1);
  EXPECT_EQ(peer.frames().size(), 1u);
  EXPECT_EQ(module_.offline, 0);
}

TEST_F(TransactionTest, CounterAdvancesWrapsAndIgnoresRejectedRequests) {
  ScriptedPeer peer([](const Bytes& f, int, int) { return PeerAction::Send(test::NormalReply(f)); });
  Point(peer);
  EXPECT_EQ(Transact(3, 1, 1), 11);
  EXPECT_EQ(Transact(3, 1, 126), -1);  // rejected: not sent, counter kept
  EXPECT_EQ(Transact(7, 1, 1), -1);
  TransactionCounter = 0xFFFF;
  EXPECT_EQ(Transact(4, 1, 2), 13);
  EXPECT_EQ(Transact(6, 1, 2), 12);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(Tid(frames[0].bytes), 0);
  EXPECT_EQ(Tid(frames[1].bytes), 0xFFFF);
  EXPECT_EQ(Tid(frames[2].bytes), 0);
  EXPECT_EQ(TransactionCounter, 1);
}

TEST_F(TransactionTest, OfflineOrHaltedSendsNothingButAdvancesTheCounter) {
  ScriptedPeer peer([](const Bytes& f, int, int) { return PeerAction::Send(test::NormalReply(f)); });
  Point(peer);
  module_.bOnline = false;
  EXPECT_EQ(Transact(6, 1, 1), -1);
  EXPECT_EQ(TransactionCounter, 1);
  module_.bOnline = true;
  DeviceIoHalted = true;
  EXPECT_EQ(Transact(6, 1, 1), -1);
  EXPECT_EQ(TransactionCounter, 2);
  EXPECT_EQ(peer.connections(), 0);
  EXPECT_EQ(module_.offline, 0);
  DeviceIoHalted = false;
  EXPECT_EQ(Transact(6, 1, 1), 12);
  EXPECT_EQ(Tid(peer.frames().at(0).bytes), 2);
}

TEST_F(TransactionTest, RefusedConnectGoesOffline) {
  uint16_t port;
  {
    ScriptedPeer gone([](const Bytes&, int, int) { return PeerAction::NoReply(); });
    port = gone.port();
  }
  socket_.SetHost("127.0.0.1");
  socket_.SetPort(port);
  EXPECT_EQ(Transact(6, 1, 1), -1);
  EXPECT_EQ(module_.offline, 1);
  EXPECT_EQ(TransactionCounter, 1);
  // No command socket at all behaves like a connection that cannot open.
  EXPECT_EQ(ModbusTransact(module_, nullptr, frame_, 6, 1, 1, nullptr, reply_, true, 0, false), -1);
  EXPECT_EQ(module_.offline, 2);
}

TEST_F(TransactionTest, LateReplyBytesAreNotTakenForTheNextReply) {
  ScriptedPeer peer([](const Bytes& f, int, int index) {
    PeerAction a = PeerAction::Send(test::NormalReply(f));
    if (index == 0) {  // first reply: one byte, then the rest after the limit
      a.pieces = {1, 11};
      a.pieceDelayMs = 400;
    }
    return a;
  });
  Point(peer);
  EXPECT_EQ(Transact(6, 1, 1, nullptr, true, 150), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Transact(6, 2, 2, nullptr, true, 1000), 12);
  EXPECT_EQ(reply_[1], 1);  // transaction id of the second request
  EXPECT_EQ(reply_[11], 2);
}

}  // namespace
}  // namespace orv

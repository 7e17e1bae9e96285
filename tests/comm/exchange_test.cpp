// The exchange routine over a stream whose behaviour each test scripts:
// chunking, accumulation, time-out, exception reply, close, no reply.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "comm/exchange.h"
#include "common/trace.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

class FakeStream : public ByteStream {
 public:
  // Each read returns the next piece; an empty piece is a time-out; the
  // special value closes the stream.
  std::deque<Bytes> pieces;
  std::vector<int32_t> writeSizes;
  std::vector<int32_t> readRequests;
  Bytes written;
  bool connected = true;
  int32_t writeLimit = 1 << 30;  // bytes the stream accepts before stalling
  bool failWrite = false;
  bool closeAfterPieces = false;

  int32_t Write(const uint8_t* data, int32_t n) override {
    writeSizes.push_back(n);
    if (failWrite) return -1;
    const int32_t k = std::min(n, writeLimit - static_cast<int32_t>(written.size()));
    written.insert(written.end(), data, data + k);
    return k;
  }
  int32_t Read(uint8_t* data, int32_t n) override {
    readRequests.push_back(n);
    if (pieces.empty()) {
      if (closeAfterPieces) connected = false;
      return 0;
    }
    Bytes p = pieces.front();
    pieces.pop_front();
    EXPECT_LE(static_cast<int32_t>(p.size()), n);
    std::copy(p.begin(), p.end(), data);
    return static_cast<int32_t>(p.size());
  }
  bool Connected() const override { return connected; }
  void Deactivate() override { connected = false; }
};

Bytes Request(size_t n) {
  Bytes r(n);
  for (size_t i = 0; i < n; ++i) r[i] = static_cast<uint8_t>(i);
  return r;
}

const Bytes kReply12 = {0, 7, 0, 0, 0, 6, 1, 0x74, 0x81, 0x33, 0, 5};

TEST(Exchange, LongRequestGoesOutIn256ByteChunks) {
  FakeStream s;
  Bytes req = Request(263);
  s.pieces.push_back(kReply12);
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 263, reply, 12, "10.0.0.1", 5000), 12);
  EXPECT_EQ(s.writeSizes, (std::vector<int32_t>{256, 7}));
  EXPECT_EQ(s.written, req);
}

TEST(Exchange, ReplyInPiecesIsAccumulated) {
  FakeStream s;
  Bytes req = Request(12);
  s.pieces.push_back(Bytes(kReply12.begin(), kReply12.begin() + 5));
  s.pieces.push_back(Bytes(kReply12.begin() + 5, kReply12.end()));
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 12, reply, 12, "h", 5000), 12);
  EXPECT_EQ(Bytes(reply, reply + 12), kReply12);
  // Each read asks only for what is still missing.
  EXPECT_EQ(s.readRequests, (std::vector<int32_t>{12, 7}));
}

TEST(Exchange, NothingArrivesGivesFailureAfterOneWait) {
  FakeStream s;
  Bytes req = Request(12);
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 12, reply, 12, "h", 5000), -1);
  EXPECT_EQ(s.readRequests.size(), 1u);
  EXPECT_TRUE(s.connected);  // a time-out leaves the connection open
}

TEST(Exchange, ExceptionReplyStopsTheReadAtOnce) {
  FakeStream s;
  Bytes req = Request(23);
  s.pieces.push_back({0, 7, 0, 0, 0, 3, 1, 0xF4, 2});
  s.pieces.push_back({0xAA, 0xAA, 0xAA});  // must not be asked for
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 23, reply, 12, "h", 5000), -1);
  EXPECT_EQ(s.readRequests.size(), 1u);
  EXPECT_EQ(reply[7], 0xF4);
}

TEST(Exchange, ExceptionSplitBeforeTheFunctionCodeIsStillRecognised) {
  FakeStream s;
  Bytes req = Request(12);
  // Stale exception byte from an earlier reply at offset 7 must not stop the
  // read before the new function code is in.
  uint8_t reply[256] = {};
  reply[7] = 0xF4;
  s.pieces.push_back({0, 7, 0, 0, 0});
  s.pieces.push_back({6, 1, 0x6C, 0, 1, 0xFF, 0});
  EXPECT_EQ(RWModbus(s, req.data(), 12, reply, 12, "h", 5000), 12);
  EXPECT_EQ(reply[7], 0x6C);

  FakeStream e;
  e.pieces.push_back({0, 7, 0, 0, 0, 3, 1});
  e.pieces.push_back({0xEC});
  e.pieces.push_back({2});
  uint8_t r2[256] = {};
  EXPECT_EQ(RWModbus(e, req.data(), 12, r2, 12, "h", 5000), -1);
  EXPECT_EQ(e.readRequests.size(), 2u);
}

TEST(Exchange, CloseInTheMiddleOfTheReply) {
  FakeStream s;
  Bytes req = Request(12);
  s.pieces.push_back({0, 7, 0, 0, 0});
  s.closeAfterPieces = true;
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 12, reply, 12, "h", 5000), -1);
  EXPECT_FALSE(s.connected);
}

TEST(Exchange, NoReplyExpectedReadsNothing) {
  FakeStream s;
  Bytes req = Request(12);
  s.pieces.push_back(kReply12);
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 12, reply, 0, "h", 5000), 0);
  EXPECT_TRUE(s.readRequests.empty());
}

TEST(Exchange, StalledOrFailedWriteIsAFailure) {
  Bytes req = Request(263);
  uint8_t reply[256] = {};
  FakeStream stall;
  stall.writeLimit = 100;
  EXPECT_EQ(RWModbus(stall, req.data(), 263, reply, 12, "h", 5000), -1);
  EXPECT_TRUE(stall.readRequests.empty());

  FakeStream fail;
  fail.failWrite = true;
  EXPECT_EQ(RWModbus(fail, req.data(), 263, reply, 0, "h", 5000), -1);
  EXPECT_FALSE(fail.connected);
  EXPECT_EQ(fail.writeSizes.size(), 1u);

  FakeStream closed;
  closed.connected = false;
  EXPECT_EQ(RWModbus(closed, req.data(), 12, reply, 12, "h", 5000), -1);
  EXPECT_TRUE(closed.writeSizes.empty());
}

TEST(Exchange, LongerReplyReadsInChunksAndNeverPastTheExpectedLength) {
  FakeStream s;
  Bytes req = Request(12);
  Bytes big(259, 0x11);
  big[7] = 0x65;
  s.pieces.push_back(Bytes(big.begin(), big.begin() + 256));
  s.pieces.push_back(Bytes(big.begin() + 256, big.end()));
  uint8_t reply[300] = {};
  reply[259] = 0x77;
  EXPECT_EQ(RWModbus(s, req.data(), 12, reply, 259, "h", 5000), 259);
  EXPECT_EQ(s.readRequests, (std::vector<int32_t>{256, 3}));
  EXPECT_EQ(reply[259], 0x77);
}

TEST(Exchange, TraceShowsHostLimitAndHexDump) {
  std::string log;
  SetTraceSink([&](const std::string& t) { log += t; });
  FakeStream s;
  Bytes req = Request(18);
  s.pieces.push_back(kReply12);
  uint8_t reply[256] = {};
  EXPECT_EQ(RWModbus(s, req.data(), 18, reply, 12, "10.1.2.3", 5000), 12);
  SetTraceSink(nullptr);
  EXPECT_NE(log.find(" : 10.1.2.3, Timeout=5000\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("===== Write: =====\r\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"
                     "10 11 \r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("===== Read: =====\r\n00 07 00 00 00 06 01 74 81 33 00 05 \r\n"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace orv

// Request frames byte for byte, and the reply checks.
#include <gtest/gtest.h>

#include <vector>

#include "comm/modbus_frame.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

struct Built {
  bool ok;
  Bytes frame;
  int32_t expected;
};

Built Build(uint32_t type, uint32_t ref, uint16_t count, const uint8_t* data = nullptr,
            bool await = true, uint16_t tid = 0x1234, uint8_t unit = 1) {
  uint8_t frame[kModbusMaxRequest];
  std::fill(std::begin(frame), std::end(frame), 0xEE);
  ModbusFrameInfo info;
  const bool ok = BuildModbusRequest(frame, tid, unit, type, ref, count, data, await, info);
  if (!ok) return {false, {}, -1};
  return {true, Bytes(frame, frame + info.requestLength), info.expectedReplyLength};
}

TEST(ModbusFrame, ExamplesFromTheCommandSet) {
  const uint8_t pw[10] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9};
  Built login = Build(16, 0x8134, 5, pw);
  ASSERT_TRUE(login.ok);
  EXPECT_EQ(login.frame, (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x11, 0x01, 0x74, 0x81, 0x33, 0x00,
                                0x05, 0x0A, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8,
                                0xD9}));
  EXPECT_EQ(login.expected, 12);

  Built restart = Build(8, 1, 0xFF00);
  EXPECT_EQ(restart.frame,
            (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x01, 0x6C, 0x00, 0x01, 0xFF, 0x00}));
  EXPECT_EQ(restart.expected, 12);

  Built read = Build(3, 0x8081, 1);
  EXPECT_EQ(read.frame,
            (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x01, 0x67, 0x80, 0x80, 0x00, 0x01}));
  EXPECT_EQ(read.expected, 11);
}

TEST(ModbusFrame, CountLimitsPerType) {
  for (uint32_t type : {3u, 4u}) {
    Built max = Build(type, 1, 125);
    ASSERT_TRUE(max.ok);
    EXPECT_EQ(max.expected, 9 + 250);
    EXPECT_FALSE(Build(type, 1, 126).ok);
    EXPECT_FALSE(Build(type, 1, 0).ok);
  }
  for (uint32_t type : {1u, 2u}) {
    Built max = Build(type, 1, 2000);
    ASSERT_TRUE(max.ok);
    EXPECT_EQ(max.expected, 259);
    EXPECT_EQ(Build(type, 1, 9).expected, 11);  // ceil(9 / 8) = 2
    EXPECT_FALSE(Build(type, 1, 2001).ok);
    EXPECT_FALSE(Build(type, 1, 0).ok);
  }
  std::vector<uint8_t> data(250, 0x5A);
  Built coils = Build(15, 1, 800, data.data());
  ASSERT_TRUE(coils.ok);
  EXPECT_EQ(coils.frame.size(), 113u);
  EXPECT_EQ(coils.frame[12], 100);
  EXPECT_EQ(coils.frame[4] << 8 | coils.frame[5], 107);
  EXPECT_EQ(coils.expected, 12);
  EXPECT_FALSE(Build(15, 1, 801, data.data()).ok);
  EXPECT_FALSE(Build(15, 1, 0, data.data()).ok);

  Built regs = Build(16, 1, 125, data.data());
  ASSERT_TRUE(regs.ok);
  EXPECT_EQ(regs.frame.size(), 263u);
  EXPECT_EQ(regs.frame[12], 250);
  EXPECT_EQ(regs.frame[4] << 8 | regs.frame[5], 257);
  EXPECT_EQ(Bytes(regs.frame.begin() + 13, regs.frame.end()), data);
  EXPECT_FALSE(Build(16, 1, 126, data.data()).ok);
  EXPECT_FALSE(Build(16, 1, 0, data.data()).ok);
}

TEST(ModbusFrame, RejectedTypes) {
  for (uint32_t type : {0u, 7u, 9u, 10u, 11u, 12u, 13u, 14u, 17u, 100u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(Build(type, 1, 1).ok) << type;
  }
}

TEST(ModbusFrame, AddressFieldAndValues) {
  // Type 8 sends its sub-function unchanged, every other type ref - 1.
  EXPECT_EQ(Build(8, 1, 0).frame[9], 0x01);
  Built w = Build(6, 0x8134, 7);
  EXPECT_EQ(w.frame[8], 0x81);
  EXPECT_EQ(w.frame[9], 0x33);
  EXPECT_EQ(w.frame[10], 0x00);
  EXPECT_EQ(w.frame[11], 0x07);
  // ref 0 wraps to 0xFFFF; refs above 16 bits are taken modulo 65536.
  Built wrap = Build(6, 0, 1);
  EXPECT_EQ(wrap.frame[8], 0xFF);
  EXPECT_EQ(wrap.frame[9], 0xFF);
  Built big = Build(6, 0x18002, 1);
  EXPECT_EQ(big.frame[8], 0x80);
  EXPECT_EQ(big.frame[9], 0x01);

  for (uint16_t v : {1, 0x1234, 0xFFFF}) {
    Built on = Build(5, 1, v);
    EXPECT_EQ(on.frame[10], 0xFF);
    EXPECT_EQ(on.frame[11], 0x00);
  }
  Built off = Build(5, 1, 0);
  EXPECT_EQ(off.frame[10], 0x00);
  EXPECT_EQ(off.frame[11], 0x00);

  // Unit id, function code, protocol id.
  Built u = Build(4, 1, 1, nullptr, true, 0xFFFF, 0x42);
  EXPECT_EQ(u.frame[0], 0xFF);
  EXPECT_EQ(u.frame[1], 0xFF);
  EXPECT_EQ(u.frame[2], 0x00);
  EXPECT_EQ(u.frame[3], 0x00);
  EXPECT_EQ(u.frame[6], 0x42);
  EXPECT_EQ(u.frame[7], 104);
}

TEST(ModbusFrame, NoReplyExpectedWhenNotAwaited) {
  Built b = Build(3, 1, 10, nullptr, false);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.expected, 0);
  EXPECT_EQ(b.frame.size(), 12u);
}

TEST(ModbusFrame, ExceptionReplyNeedsTheFunctionCode) {
  uint8_t r[9] = {0, 1, 0, 0, 0, 3, 1, 0xF4, 2};
  EXPECT_TRUE(IsExceptionReply(r, 9));
  EXPECT_TRUE(IsExceptionReply(r, 8));
  // The function code has not arrived yet: byte 7 is not looked at.
  EXPECT_FALSE(IsExceptionReply(r, 7));
  r[7] = 0x74;
  EXPECT_FALSE(IsExceptionReply(r, 9));
}

}  // namespace
}  // namespace orv

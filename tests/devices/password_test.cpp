// The password block: encoding examples, and decoding back at many ticks.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "devices/password.h"

namespace orv {
namespace {

TEST(Password, ExamplesAndKeyByte) {
  uint8_t b[10];
  // Low byte 0x95: k = 5, bit 7 set, bytes raised by 5.
  EncodePasswordBlock("TIRVacua", 0x12345695, b);
  EXPECT_EQ(b[8], 0x95);
  EXPECT_EQ(b[9], 0);
  EXPECT_EQ(b[0], 'T' + 5);
  EXPECT_EQ(b[7], 'a' + 5);
  EncodePasswordBlock("ab", 0x95, b);
  EXPECT_EQ(b[1], 'b' + 5);
  EXPECT_EQ(b[2], 0x05);  // past the end of the password
  EXPECT_EQ(b[7], 0x05);
  // Low byte 0x38: k = 8 (bit 3 set, bits 0-2 clear), bit 7 clear, lowered.
  EncodePasswordBlock("ab", 0x38, b);
  EXPECT_EQ(b[8], 0x38);
  EXPECT_EQ(b[0], 'a' - 8);
  EXPECT_EQ(b[2], 0xF8);
  // Only the first eight characters count.
  uint8_t c[10];
  EncodePasswordBlock("TIRVacuaXYZ", 0x95, c);
  EncodePasswordBlock("TIRVacua", 0x95, b);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 10), std::vector<uint8_t>(c, c + 10));
  // Empty and null passwords encode eight zero bytes.
  EncodePasswordBlock(nullptr, 0x91, b);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(b[i], 1);
}

TEST(Password, DecodesBackAtManyTicks) {
  const char* passwords[] = {"TIRVacua", "", "a", "12345678", "\x01\xFF\x80 z", "longer than eight"};
  std::mt19937 rng(7);
  for (const char* pw : passwords) {
    std::string expected = std::string(pw).substr(0, 8);
    for (int i = 0; i < 5000; ++i) {
      const uint32_t tick = i < 512 ? static_cast<uint32_t>(i) : rng();
      uint8_t block[10];
      EncodePasswordBlock(pw, tick, block);
      std::string back;
      ASSERT_TRUE(DecodePassword(block, back)) << tick;
      ASSERT_EQ(back, expected) << "tick " << tick;
      const uint8_t k = block[8] & 0x0F;
      ASSERT_EQ(k, tick % 8 == 0 ? 8 : tick % 8);
    }
  }
}

TEST(Password, DifferentTicksUsuallyDifferButDecodeAlike) {
  uint8_t a[10], b[10];
  EncodePasswordBlock("secret", 0x81, a);
  EncodePasswordBlock("secret", 0x02, b);
  EXPECT_NE(std::vector<uint8_t>(a, a + 10), std::vector<uint8_t>(b, b + 10));
  std::string x, y;
  ASSERT_TRUE(DecodePassword(a, x));
  ASSERT_TRUE(DecodePassword(b, y));
  EXPECT_EQ(x, "secret");
  EXPECT_EQ(y, "secret");
}

TEST(Password, BlocksNoEncoderMakesAreRejected) {
  uint8_t block[10];
  EncodePasswordBlock("x", 0x95, block);
  std::string pw;
  block[9] = 1;
  EXPECT_FALSE(DecodePassword(block, pw));
  block[9] = 0;
  block[8] = 0x90;  // k nibble 0
  EXPECT_FALSE(DecodePassword(block, pw));
  block[8] = 0x99;  // k nibble 9
  EXPECT_FALSE(DecodePassword(block, pw));
}

TEST(Password, MonotonicTickMovesForward) {
  const uint32_t a = MonotonicTickMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(static_cast<uint32_t>(MonotonicTickMs() - a), 4u);
}

}  // namespace
}  // namespace orv

// The address and mask check of the search range fields.
#include <gtest/gtest.h>

#include "discovery/ip_check.h"

namespace orv {
namespace {

struct Case {
  const char* text;
  int code;
};

TEST(CheckIPText, AddressCodes) {
  const Case cases[] = {
      {"1.2.3.4", 0},
      {"192.168.127.254", 0},
      {"10.0.0.255", 0},
      {"1.2.3", 1},                    // too short, nothing else wrong
      {"1.2.3.4.5.6.7.8.9", 1},        // too long: the part count is not looked at then
      {"1.2.3.256", 2},
      {"1.2.300.4", 2},
      {"12345678901234.4", 2},         // too long, but the scan finds a part above 255
      {"1.2.3.a", 3},
      {"1.2.a", 3},                    // too short, the scan's code replaces it
      {"192.168.127.254 ", 3},         // untrimmed blank
      {"1.2.3.-4", 3},
      {"1.2.3.4.5", 4},
      {"1.2.3.4.", 4},
      {"1.2.3.4..", 4},
      {"0.0.0.0", 5},
      {"255.255.255.255", 5},
      {"0.0.0.255", 0},
      {"10.0..1", 0},                  // an empty part counts as 0
  };
  for (const Case& c : cases) EXPECT_EQ(CheckIPText(c.text, false), c.code) << '"' << c.text << '"';
}

TEST(CheckIPText, MaskRule) {
  const Case cases[] = {
      {"255.255.255.0", 0},   {"255.255.0.0", 0},     {"255.0.0.0", 0},
      {"255.255.255.192", 0}, {"255.255.255.254", 0}, {"128.0.0.0", 0},
      {"255.255.0.255", 6},   {"255.255.255.100", 6}, {"255.0.255.0", 6},
      {"0.255.255.255", 6},   {"255.255.255.255", 5}, {"0.0.0.0", 5},
      {"255.255.256.0", 2},   {"255.255.255.x", 3},   {"255.255.255", 4},
      // The first bad non-255 part lets the scan go on (so a later bad
      // character is still found); a non-zero part after it stops the scan.
      {"255.100.0.a", 3},     {"255.0.1.a", 6},       {"255.100.300.0", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckIPText(c.text, true), c.code) << '"' << c.text << '"';
  // The same texts as addresses are fine.
  EXPECT_EQ(CheckIPText("255.255.0.255", false), 0);
  EXPECT_EQ(CheckIPText("255.255.255.100", false), 0);
}

TEST(CheckIPText, LongDigitRunsDoNotOverflow) {
  EXPECT_EQ(CheckIPText("99999999999999999999999.1.1.1", false), 2);
  EXPECT_EQ(CheckIPText("1.1.1.99999999999999999999999", false), 1);
  EXPECT_EQ(CheckIPText("1.1.1.4294967552", false), 1);
  EXPECT_EQ(CheckIPText("1.1.1.4294967", false), 2);
}

TEST(IPText, TrimAndConvert) {
  EXPECT_EQ(TrimIPText(" \t192.168.127.254 \r\n"), "192.168.127.254");
  EXPECT_EQ(TrimIPText("\x7f" "1.2.3.4\x01"), "1.2.3.4");
  EXPECT_EQ(TrimIPText("   "), "");
  EXPECT_EQ(CheckIPText(TrimIPText("192.168.127.254 "), false), 0);

  EXPECT_EQ(IPTextToNumber("192.168.127.1"), 0xC0A87F01u);
  EXPECT_EQ(IPTextToNumber("0.0.0.0"), 0u);
  EXPECT_EQ(IPTextToNumber("255.255.255.0"), 0xFFFFFF00u);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "a.b.c.d", "1.2.3.4 ", "1.2.3.0004"}) {
    EXPECT_EQ(IPTextToNumber(bad), 0xFFFFFFFFu) << bad;
    EXPECT_FALSE(ParseIPText(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseIPText("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(IPNumberToText(0xC0A87FFE), "192.168.127.254");
  EXPECT_EQ(IPNumberToText(0), "0.0.0.0");
}

}  // namespace
}  // namespace orv

// The fixed model and channel type tables the search result is named from.
#include <gtest/gtest.h>

#include <string>

#include "inventory/name_tables.h"

namespace orv {
namespace {

TEST(NameTables, ModelNumberingAndHoles) {
  EXPECT_STREQ(NAME_POD[PRODUCT_SCOUTIX], "Orvistar");
  for (int k = 0; k < 32; ++k) {
    const bool valid = IsValidModelIndex(k);
    EXPECT_EQ(valid, std::string(NAME_MOD[k]).size() > 0) << k;
    if (!valid) EXPECT_STREQ(NAME_MODDESC[k], "") << k;
  }
  EXPECT_FALSE(IsValidModelIndex(-1));
  EXPECT_FALSE(IsValidModelIndex(32));
  // K7710 models describe their I/O; only model 0 is programmable.
  EXPECT_EQ(std::string(NAME_MODDESC[0]).rfind("PGM(", 0), 0u);
  for (int k : {1, 2, 3, 20, 21, 22, 23}) EXPECT_STREQ(NAME_MODDESC[k], "4AI + 8DIO + 2RELAY") << k;
  for (int k = 4; k < 12; ++k) EXPECT_STREQ(NAME_MODDESC[k + kWideTempModelOffset], "") << k;
}

TEST(NameTables, ChannelTypesByBit) {
  EXPECT_EQ(ChannelTypeNames(0x08), (std::vector<std::string>{"AI"}));
  EXPECT_EQ(ChannelTypeNames(0x01 | 0x04 | 0x80), (std::vector<std::string>{"DI", "RELAY", "COUNTER"}));
  EXPECT_EQ(ChannelTypeNames(0xFF).size(), 8u);
  EXPECT_TRUE(ChannelTypeNames(0x100).empty());
}

}  // namespace
}  // namespace orv

// What answer handling keeps, drops, lists and puts into the request.
#include <gtest/gtest.h>

#include "discovery/answer_handler.h"
#include "inventory/name_tables.h"
#include "test_support.h"

namespace orv {
namespace {

using test::AnswerSpec;
using test::MakeAnswer;

class AnswerHandling : public ::testing::Test {
 protected:
  std::vector<IONODE> found;
  FoundListSink sink{found};
  SearchRequest request;
  AnswerHandler handler{request, sink};

  void Offer(const AnswerSpec& s) { handler.OnEnumProc(MakeAnswer(s)); }
  static AnswerSpec At(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t macLast) {
    AnswerSpec s;
    s.ip = {a, b, c, d};
    s.mac[5] = macLast;
    return s;
  }
};

TEST_F(AnswerHandling, FirstListedDeviceBecomesRowOne) {
  AnswerSpec s;
  s.name = "Pump station";
  Offer(s);
  ASSERT_EQ(found.size(), 1u);
  const IONODE& n = found[0];
  EXPECT_EQ(n.nKind, 1);
  EXPECT_EQ(n.nAPID, 0x80000115u);
  EXPECT_EQ(n.nHWID, 0x0115u);
  EXPECT_EQ(n.nModelIndex, 0);
  EXPECT_EQ(n.szIP, "192.168.127.10");
  EXPECT_EQ(n.szMac, "00-0A-1B-2C-3D-4E");
  EXPECT_EQ(n.szNetmask, "255.255.255.0");
  EXPECT_EQ(n.szGateway, "192.168.127.1");
  EXPECT_EQ(n.szRevision, "1.2.1");
  EXPECT_EQ(n.szLockMode, "Unlock");
  EXPECT_EQ(n.szServerName, "Pump station");
  ASSERT_EQ(sink.Rows().size(), 1u);
  const SearchResultRow& row = sink.Rows()[0];
  EXPECT_EQ(row.caption, "1");
  EXPECT_EQ(row.subItems, (std::vector<std::string>{"Pump station", "K7710-GPRS-C", "192.168.127.10",
                                                    "00-0A-1B-2C-3D-4E", "PGM(4AI + 8DIO + 2RELAY)"}));
  EXPECT_EQ(sink.FoundCounterText(), "1");
}

TEST_F(AnswerHandling, ModelLookupCoversEveryTableRow) {
  struct Range {
    uint32_t firstHwid;
    int firstIndex;
    int count;
  };
  int listed = 0;
  for (const Range& r : {Range{0x0115, 0, 4}, Range{0x0201, 4, 8}, Range{0x0119, 20, 4}, Range{0x0181, 24, 8}}) {
    for (int k = 0; k < r.count; ++k) {
      const uint32_t hwid = r.firstHwid + k;
      EXPECT_EQ(LookupModelIndex(0x80000000u + hwid, hwid), r.firstIndex + k) << std::hex << hwid;
      EXPECT_EQ(LookupModelIndex(hwid, hwid), -1);
      AnswerSpec s;
      s.hwid = static_cast<uint16_t>(hwid);
      s.apid = 0x80000000u + hwid;
      s.mac[5] = static_cast<uint8_t>(++listed);
      Offer(s);
    }
  }
  ASSERT_EQ(found.size(), 24u);
  EXPECT_EQ(sink.Rows()[23].caption, "24");
  // Spot checks by name: 0x0204 and its wide-temperature twin 0x0184.
  EXPECT_EQ(sink.Rows()[7].subItems[1], "Tramix 4410-9-M12-C");
  EXPECT_EQ(sink.Rows()[23 - 4].subItems[1], "Tramix 4410-9-M12-C-T");
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(std::string(NAME_MOD[k]) + "-T", NAME_MOD[k + kWideTempModelOffset]);
  }
}

TEST_F(AnswerHandling, StartAndEndRange) {
  SearchFilter f;
  f.bRangeUse = true;
  f.nRangeChoice = 0;
  f.nStartIP = 0xC0A87F01;  // 192.168.127.1
  f.nEndIP = 0xC0A87FFE;    // 192.168.127.254
  handler.SetFilter(f);
  Offer(At(192, 168, 127, 254, 1));
  Offer(At(192, 168, 128, 1, 2));
  Offer(At(192, 168, 127, 1, 3));
  Offer(At(192, 168, 127, 0, 4));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].szIP, "192.168.127.254");
  EXPECT_EQ(found[1].szIP, "192.168.127.1");
  EXPECT_EQ(request.EntryCount(), 2u);  // dropped answers never enter the request
}

TEST_F(AnswerHandling, NetworkMaskRange) {
  SearchFilter f;
  f.bRangeUse = true;
  f.nRangeChoice = 1;
  f.nStartIP = 0xC0A87F01;  // 192.168.127.1
  f.nNetmask = 0xFFFF0000;  // 255.255.0.0
  handler.SetFilter(f);
  Offer(At(192, 168, 128, 1, 1));
  Offer(At(192, 169, 127, 1, 2));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].szIP, "192.168.128.1");

  f.nNetmask = 0xFFFFFF00;
  handler.SetFilter(f);
  Offer(At(192, 168, 128, 2, 3));
  Offer(At(192, 168, 127, 77, 4));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].szIP, "192.168.127.77");
}

TEST_F(AnswerHandling, FamilyBoxes) {
  const uint16_t k7710[] = {0x0115, 0x011C};
  const uint16_t t4410[] = {0x0181, 0x0188, 0x0201, 0x0208};
  auto offerAll = [&](uint8_t macBase) {
    uint8_t m = macBase;
    for (uint16_t h : k7710) {
      AnswerSpec s;
      s.hwid = h, s.apid = 0x80000000u + h, s.mac[5] = m++;
      Offer(s);
    }
    for (uint16_t h : t4410) {
      AnswerSpec s;
      s.hwid = h, s.apid = 0x80000000u + h, s.mac[5] = m++;
      Offer(s);
    }
  };
  SearchFilter f;
  f.bK7710 = true;
  f.b4410 = false;
  handler.SetFilter(f);
  offerAll(0x10);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].nHWID, 0x011Cu);

  f.bK7710 = false;
  f.b4410 = true;
  handler.SetFilter(f);
  offerAll(0x20);
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(found[2].nHWID, 0x0181u);

  f.bK7710 = f.b4410 = false;
  handler.SetFilter(f);
  offerAll(0x30);
  EXPECT_EQ(found.size(), 6u);
  EXPECT_EQ(request.EntryCount(), 6u);
}

TEST_F(AnswerHandling, UnknownHardwareIsDroppedBeforeTheRequest) {
  for (uint16_t hwid : {0x0300, 0x0114, 0x011D, 0x0180, 0x0189, 0x0200, 0x0209}) {
    AnswerSpec s;
    s.hwid = hwid;
    s.apid = 0x80000000u + hwid;
    Offer(s);
    EXPECT_EQ(handler.LastOutcome(), AnswerHandler::Outcome::ModelFiltered) << std::hex << hwid;
  }
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(request.EntryCount(), 0u);
}

TEST_F(AnswerHandling, MismatchedApidEntersRequestButIsNotListed) {
  AnswerSpec s;
  s.hwid = 0x0115;
  s.apid = 0x00000115;
  const auto d = MakeAnswer(s);
  handler.OnEnumProc(d);
  EXPECT_TRUE(found.empty());
  EXPECT_TRUE(sink.Rows().empty());
  ASSERT_EQ(request.EntryCount(), 1u);
  const auto req = request.Finalize();
  EXPECT_TRUE(std::equal(req.begin() + 8, req.end(), d.begin() + 8));

  // Same device, now with a proper identity: not a duplicate, since it was
  // never listed.
  s.apid = 0x80000115;
  Offer(s);
  EXPECT_EQ(found.size(), 1u);
  EXPECT_EQ(request.EntryCount(), 2u);
}

TEST_F(AnswerHandling, DuplicatesByMacText) {
  AnswerSpec s;
  s.name = "first";
  Offer(s);
  s.name = "second answer of the same device";
  s.ip = {10, 0, 0, 1};
  Offer(s);
  EXPECT_EQ(handler.LastOutcome(), AnswerHandler::Outcome::Duplicate);
  s.mac[0] = 0x01;  // another device
  Offer(s);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].szServerName, "first");
  EXPECT_EQ(found[1].szMac, "01-0A-1B-2C-3D-4E");
  EXPECT_EQ(sink.Rows()[1].caption, "2");
  EXPECT_EQ(sink.FoundCounterText(), "2");
  EXPECT_EQ(request.EntryCount(), 2u);
}

}  // namespace
}  // namespace orv

// Layout of the search request and answer, and their text forms.
#include <gtest/gtest.h>

#include "discovery/answer_handler.h"
#include "discovery/datagram.h"
#include "test_support.h"

namespace orv {
namespace {

using test::AnswerSpec;
using test::DeviceAnswer;
using test::MakeAnswer;

struct Collect : SearchResultSink {
  std::vector<IONODE> nodes;
  void AddNewModule(IONODE n) override { nodes.push_back(std::move(n)); }
};

TEST(WireFormat, RequestGrowsByTwelveBytesPerAcceptedAnswer) {
  SearchRequest request;
  Collect sink;
  AnswerHandler handler(request, sink);

  std::vector<uint8_t> first(request.Finalize().begin(), request.Finalize().end());
  EXPECT_EQ(first, (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00}));

  const auto a1 = DeviceAnswer(1);
  const auto a2 = DeviceAnswer(2);
  handler.OnEnumProc(a1);
  handler.OnEnumProc(a2);
  auto req = request.Finalize();
  ASSERT_EQ(req.size(), 32u);
  EXPECT_EQ(req[2], 0x00);
  EXPECT_EQ(req[3], 0x20);
  EXPECT_TRUE(std::equal(req.begin() + 8, req.begin() + 20, a1.begin() + 8));
  EXPECT_TRUE(std::equal(req.begin() + 20, req.begin() + 32, a2.begin() + 8));

  for (int k = 3; k <= 21; ++k) handler.OnEnumProc(DeviceAnswer(k));
  req = request.Finalize();
  ASSERT_EQ(req.size(), 260u);
  EXPECT_EQ(req[2], 0x01);
  EXPECT_EQ(req[3], 0x04);
  EXPECT_EQ(req[0], 0x01);
  EXPECT_EQ(req[1], 0x00);
  EXPECT_EQ(req[4] | req[5] | req[6] | req[7], 0);
  const auto a21 = DeviceAnswer(21);
  EXPECT_TRUE(std::equal(req.end() - 12, req.end(), a21.begin() + 8));
}

TEST(WireFormat, OnlyExactly116BytesIsAnAnswer) {
  SearchRequest request;
  Collect sink;
  AnswerHandler handler(request, sink);
  for (std::size_t size : {0u, 8u, 115u, 117u, 1000u}) {
    AnswerSpec s;
    s.size = size;
    const auto d = MakeAnswer(s);
    EXPECT_FALSE(IsSearchAnswer(d));
    EXPECT_FALSE(ReadSearchAnswer(d).has_value());
    handler.OnEnumProc(d);
  }
  EXPECT_TRUE(sink.nodes.empty());
  EXPECT_EQ(request.EntryCount(), 0u);
  EXPECT_EQ(request.Finalize().size(), 8u);
}

TEST(WireFormat, AnswerFieldsAndByteOrders) {
  AnswerSpec s;
  s.apid = 0x80000204;
  s.hwid = 0x0204;
  s.mac = {0x00, 0x0a, 0xbc, 0xde, 0xf0, 0x01};
  s.ip = {10, 1, 2, 3};
  s.mask = {255, 255, 0, 0};
  s.gw = {10, 1, 0, 254};
  s.lock = 0;
  const auto a = ReadSearchAnswer(MakeAnswer(s));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->nAPID, 0x80000204u);
  EXPECT_EQ(a->nHWID, 0x0204u);
  EXPECT_EQ(a->nIP, 0x0A010203u);
  EXPECT_EQ(a->nNetmask, 0xFFFF0000u);
  EXPECT_EQ(a->nGateway, 0x0A0100FEu);
  EXPECT_EQ(MacText(a->szMac), "00-0A-BC-DE-F0-01");
  EXPECT_EQ(LockText(a->LockMode), "Unlock");
}

TEST(WireFormat, RevisionAndLockTexts) {
  EXPECT_EQ(RevisionText(0x0121), "1.2.1");
  EXPECT_EQ(RevisionText(0x0120), "1.2");
  EXPECT_EQ(RevisionText(0x0200), "2.0");
  EXPECT_EQ(RevisionText(0xFFFF), "255.15.15");
  AnswerSpec s;
  s.rev0 = 0x00;
  s.rev1 = 0x02;
  EXPECT_EQ(RevisionText(ReadSearchAnswer(MakeAnswer(s))->Revision), "2.0");
  for (uint8_t lock : {0x01, 0xFF}) {
    s.lock = lock;
    EXPECT_EQ(LockText(ReadSearchAnswer(MakeAnswer(s))->LockMode), "Lock") << int(lock);
  }
}

TEST(WireFormat, ServerNameEndsAtZeroOrAfterSixtyBytes) {
  AnswerSpec s;
  s.name = std::string(60, 'N');
  auto d = MakeAnswer(s);
  EXPECT_EQ(ReadSearchAnswer(d)->ServerName, std::string(60, 'N'));

  s.name = std::string("ab\0cd", 5);
  EXPECT_EQ(ReadSearchAnswer(MakeAnswer(s))->ServerName, "ab");

  s.name = "";
  EXPECT_EQ(ReadSearchAnswer(MakeAnswer(s))->ServerName, "");
}

TEST(WireFormat, FactoryAddressIsShownButRangeJudgesZero) {
  SearchRequest request;
  Collect sink;
  AnswerHandler handler(request, sink);
  AnswerSpec s;
  s.ip = {0, 0, 0, 0};
  const auto d = MakeAnswer(s);

  SearchFilter range;
  range.bRangeUse = true;
  range.nStartIP = 0xC0A87F01;  // 192.168.127.1
  range.nEndIP = 0xC0A87FFE;    // 192.168.127.254
  handler.SetFilter(range);
  handler.OnEnumProc(d);
  EXPECT_TRUE(sink.nodes.empty());
  EXPECT_EQ(handler.LastOutcome(), AnswerHandler::Outcome::OutOfRange);

  range.nStartIP = 0;
  handler.SetFilter(range);
  handler.OnEnumProc(d);
  ASSERT_EQ(sink.nodes.size(), 1u);
  EXPECT_EQ(sink.nodes[0].szIP, "192.168.127.254");

  SearchRequest request2;
  Collect sink2;
  AnswerHandler noRange(request2, sink2);
  noRange.OnEnumProc(d);
  ASSERT_EQ(sink2.nodes.size(), 1u);
  EXPECT_EQ(sink2.nodes[0].szIP, "192.168.127.254");
}

TEST(WireFormat, RequestStopsGrowingWhenADatagramCannotHoldMore) {
  SearchRequest request;
  std::array<uint8_t, kRequestEntrySize> entry{};
  for (std::size_t i = 0; i < kMaxRequestEntries; ++i) {
    entry[0] = static_cast<uint8_t>(i);
    ASSERT_TRUE(request.AddEntry(entry));
  }
  EXPECT_FALSE(request.AddEntry(entry));
  const auto req = request.Finalize();
  EXPECT_EQ(req.size(), kRequestHeaderSize + kMaxRequestEntries * kRequestEntrySize);
  EXPECT_LE(req.size(), kMaxUdpPayload);
  EXPECT_EQ((std::size_t{req[2]} << 8) | req[3], req.size());
}

}  // namespace
}  // namespace orv

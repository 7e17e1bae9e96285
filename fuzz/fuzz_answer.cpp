// fuzz-libs: orv_discovery orv_inventory orv_host orv_common
// Any bytes as a received datagram: acceptance, answer handling with the
// range filter on or off, and the request it grows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "discovery/answer_handler.h"
#include "discovery/datagram.h"
#include "discovery/result_format.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  // The first byte picks the filter; the rest is cut into datagrams by a
  // length byte each, so one input can be a whole burst of answers.
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  SearchFilter f;
  f.bRangeUse = (mode & 1) != 0;
  f.nRangeChoice = (mode >> 1) & 1;
  f.bK7710 = (mode & 4) == 0;
  f.b4410 = (mode & 8) == 0;
  if (size >= 13) {
    f.nStartIP = Le32(data + 1);
    f.nEndIP = Le32(data + 5);
    f.nNetmask = Le32(data + 9);
  }

  std::vector<IONODE> found;
  FoundListSink sink(found);
  SearchRequest request;
  AnswerHandler handler(request, sink);
  handler.SetFilter(f);

  std::vector<std::span<const uint8_t>> datagrams;
  if (mode & 0x10) {
    datagrams.emplace_back(data + 1, size - 1);
  } else {
    // Length-prefixed pieces; a length of 0 means a full 116-byte answer.
    std::size_t i = 1;
    while (i < size) {
      std::size_t len = data[i++];
      if (len == 0) len = kAnswerSize;
      if (len > size - i) len = size - i;
      datagrams.emplace_back(data + i, len);
      i += len;
    }
  }

  std::unordered_set<std::string> macs;
  for (const auto& d : datagrams) {
    const std::size_t entriesBefore = request.EntryCount();
    const std::size_t foundBefore = found.size();
    handler.OnEnumProc(d);
    const std::size_t grown = request.EntryCount() - entriesBefore;
    const std::size_t listed = found.size() - foundBefore;
    Check(grown <= 1 && listed <= grown);
    if (d.size() != kAnswerSize) Check(grown == 0);
    if (grown == 1) {
      // The new entry is the answer's bytes 8..19, unchanged.
      const auto& b = request.Bytes();
      Check(std::equal(b.end() - kRequestEntrySize, b.end(), d.begin() + kRequestEntryOffset));
      const auto a = ReadSearchAnswer(d);
      Check(a.has_value());
      if (f.bRangeUse && f.nRangeChoice == 0) Check(f.nStartIP <= a->nIP && a->nIP <= f.nEndIP);
      if (f.bRangeUse && f.nRangeChoice == 1) Check((f.nStartIP & f.nNetmask) == (a->nIP & f.nNetmask));
    }
    if (listed == 1) {
      const IONODE& n = found.back();
      Check(n.nModelIndex >= 0 && n.nModelIndex <= 31 && !(n.nModelIndex >= 12 && n.nModelIndex <= 19));
      Check(n.szServerName.size() <= kServerNameMax);
      Check(n.szIP != "0.0.0.0");
      Check(macs.insert(n.szMac).second);  // never listed twice
    }
  }
  const auto req = request.Finalize();
  Check(req.size() == kRequestHeaderSize + kRequestEntrySize * request.EntryCount());
  Check(((std::size_t{req[2]} << 8) | req[3]) == req.size());
  Check(req[0] == 0x01 && req[1] == 0x00);
  Check(sink.Rows().size() == found.size());
  // The output must stay valid for any server name.
  (void)FormatResultJson(found);
  (void)FormatResultTable(found);
  return 0;
}

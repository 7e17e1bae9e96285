#include "discovery/answer_handler.h"

#include <array>

#include "common/trace.h"
#include "discovery/ip_check.h"
#include "inventory/name_tables.h"

namespace orv {
namespace {

struct ModelRow {
  uint32_t apid;
  uint32_t hwid;
  int index;
};

constexpr std::array<ModelRow, 24> BuildModelTable() {
  std::array<ModelRow, 24> rows{};
  std::size_t n = 0;
  auto add = [&](uint32_t hwid, int index) { rows[n++] = {0x80000000u + hwid, hwid, index}; };
  for (int k = 0; k < 4; ++k) add(0x0115 + k, k);
  for (int k = 0; k < 8; ++k) add(0x0201 + k, 4 + k);
  for (int k = 0; k < 4; ++k) add(0x0119 + k, 20 + k);
  for (int k = 0; k < 8; ++k) add(0x0181 + k, 24 + k);
  return rows;
}
constexpr std::array<ModelRow, 24> kModelTable = BuildModelTable();

}  // namespace

int LookupModelIndex(uint32_t nAPID, uint32_t nHWID) {
  for (const auto& row : kModelTable) {
    if (row.apid == nAPID && row.hwid == nHWID) return row.index;
  }
  return -1;
}

bool IsK7710HWID(uint32_t h) { return h >= 0x0115 && h <= 0x011C; }
bool Is4410HWID(uint32_t h) { return (h >= 0x0181 && h <= 0x0188) || (h >= 0x0201 && h <= 0x0208); }

SearchResultRow MakeResultRow(const IONODE& node, std::size_t rowNumber) {
  SearchResultRow row;
  row.caption = std::to_string(rowNumber);
  if (node.nKind != 1) return row;
  const bool known = node.nModelIndex >= 0 && node.nModelIndex < static_cast<int>(kModelNameCount);
  row.subItems = {node.szServerName, known ? NAME_MOD[node.nModelIndex] : "", node.szIP, node.szMac,
                  known ? NAME_MODDESC[node.nModelIndex] : ""};
  return row;
}

void FoundListSink::AddNewModule(IONODE node) {
  ORV_TRACE("FoundListSink::AddNewModule");
  rows_.push_back(MakeResultRow(node, rows_.size() + 1));
  found_.push_back(std::move(node));
}

bool AnswerHandler::PassesRange(uint32_t ip) const {
  if (!filter_.bRangeUse) return true;
  if (filter_.nRangeChoice == 0) return filter_.nStartIP <= ip && ip <= filter_.nEndIP;
  return (filter_.nStartIP & filter_.nNetmask) == (ip & filter_.nNetmask);
}

bool AnswerHandler::PassesModel(uint32_t hwid) const {
  if (IsK7710HWID(hwid)) return filter_.bK7710;
  if (Is4410HWID(hwid)) return filter_.b4410;
  return false;
}

void AnswerHandler::OnEnumProc(std::span<const uint8_t> answer) {
  ORV_TRACE("AnswerHandler::OnEnumProc");
  const std::optional<SearchAnswer> a = ReadSearchAnswer(answer);
  if (!a) {
    last_ = Outcome::NotAnswer;
    return;
  }
  // The range filter judges the address as received, before the default.
  if (!PassesRange(a->nIP)) {
    last_ = Outcome::OutOfRange;
    return;
  }
  if (!PassesModel(a->nHWID)) {
    last_ = Outcome::ModelFiltered;
    return;
  }
  std::string mac = MacText(a->szMac);
  if (listedMacs_.count(mac) != 0) {
    last_ = Outcome::Duplicate;
    return;
  }
  if (listedMacs_.size() >= kMaxListed) {
    last_ = Outcome::Full;
    return;
  }
  // Devices stay silent once the request carries their identity, so the
  // entry goes in even when the model turns out to be unknown.
  request_.AddEntry(answer.subspan<kRequestEntryOffset, kRequestEntrySize>());

  IONODE node;
  node.nKind = 1;
  node.nAPID = a->nAPID;
  node.nHWID = a->nHWID;
  node.nModelIndex = LookupModelIndex(a->nAPID, a->nHWID);
  if (node.nModelIndex < 0) {
    last_ = Outcome::UnknownModel;
    return;
  }
  const uint32_t ip = a->nIP == 0 ? kFactoryDefaultIP : a->nIP;
  node.szIP = IPNumberToText(ip);
  node.szMac = mac;
  node.szNetmask = IPNumberToText(a->nNetmask);
  node.szGateway = IPNumberToText(a->nGateway);
  node.szRevision = RevisionText(a->Revision);
  node.szLockMode = LockText(a->LockMode);
  node.szServerName = a->ServerName;
  listedMacs_.insert(std::move(mac));
  last_ = Outcome::Listed;
  sink_.AddNewModule(std::move(node));
}

}  // namespace orv

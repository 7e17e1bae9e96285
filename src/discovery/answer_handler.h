#pragma once
// What happens to each answer of a search: range and model filters, the
// duplicate test, request growth, model lookup and the discovered-device
// record handed to the result sink.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "discovery/datagram.h"

namespace orv {

// The discovered-device record passed from the search to the inventory.
struct IONODE {
  int32_t nKind = 1;  // 1 = found by the search
  uint32_t nAPID = 0;
  uint32_t nHWID = 0;
  int32_t nModelIndex = -1;
  std::string szIP;
  std::string szMac;
  std::string szNetmask;
  std::string szGateway;
  std::string szRevision;
  std::string szLockMode;
  std::string szServerName;
};

// Address 0.0.0.0 reported by a device is taken as its factory address.
constexpr uint32_t kFactoryDefaultIP = 0xC0A87FFEu;  // 192.168.127.254

// The user's restrictions on a search (range box and model family boxes).
struct SearchFilter {
  bool bRangeUse = false;  // "Search a range of addresses"
  int nRangeChoice = 0;    // 0 = start and end address, 1 = network mask
  uint32_t nStartIP = 0;
  uint32_t nEndIP = 0;
  uint32_t nNetmask = 0;
  bool bK7710 = true;  // "K7710-C"
  bool b4410 = true;   // "Tramix 4410-C"
};

// Model table lookup: the model index of an (APID, HWID) pair, or -1.
int LookupModelIndex(uint32_t nAPID, uint32_t nHWID);
bool IsK7710HWID(uint32_t nHWID);
bool Is4410HWID(uint32_t nHWID);

// Receives each new device. The search dialog fills its result list and
// found counter from it; the default below keeps the list itself.
class SearchResultSink {
 public:
  virtual ~SearchResultSink() = default;
  virtual void AddNewModule(IONODE node) = 0;
};

// One row of the result list: number, then the sub-items in column order
// (server name, model name, IP, MAC, model description).
struct SearchResultRow {
  std::string caption;
  std::vector<std::string> subItems;
};

// Appends every record to the found list and keeps the numbered rows.
class FoundListSink : public SearchResultSink {
 public:
  explicit FoundListSink(std::vector<IONODE>& found) : found_(found) {}
  void AddNewModule(IONODE node) override;
  const std::vector<SearchResultRow>& Rows() const { return rows_; }
  std::string FoundCounterText() const { return std::to_string(rows_.size()); }

 private:
  std::vector<IONODE>& found_;
  std::vector<SearchResultRow> rows_;
};

// Fills a result row from a record as the search dialog shows it.
SearchResultRow MakeResultRow(const IONODE& node, std::size_t rowNumber);

// Answer handling for one search.
class AnswerHandler {
 public:
  // Far above any real installation; keeps a flood of forged answers from
  // growing the result without bound.
  static constexpr std::size_t kMaxListed = 65536;

  AnswerHandler(SearchRequest& request, SearchResultSink& sink) : request_(request), sink_(sink) {}
  void SetFilter(const SearchFilter& filter) { filter_ = filter; }
  const SearchFilter& Filter() const { return filter_; }

  // Handles one answer; anything not exactly 116 bytes is ignored.
  void OnEnumProc(std::span<const uint8_t> answer);

  std::size_t ListedCount() const { return listedMacs_.size(); }

  // Why an answer was dropped (the last one handled), for tests and traces.
  enum class Outcome { NotAnswer, OutOfRange, ModelFiltered, Duplicate, UnknownModel, Listed, Full };
  Outcome LastOutcome() const { return last_; }

 private:
  bool PassesRange(uint32_t ip) const;
  bool PassesModel(uint32_t hwid) const;

  SearchRequest& request_;
  SearchResultSink& sink_;
  SearchFilter filter_;
  // MAC texts of the rows in the result list: the duplicate test.
  std::unordered_set<std::string> listedMacs_;
  Outcome last_ = Outcome::NotAnswer;
};

}  // namespace orv

#include "discovery/datagram.h"

#include <cstdio>
#include <cstring>

#include "common/trace.h"

namespace orv {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

void SearchRequest::EnsureHeader() {
  if (!bytes_.empty()) return;
  bytes_ = {0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
}

bool SearchRequest::AddEntry(std::span<const uint8_t, kRequestEntrySize> entry) {
  EnsureHeader();
  if (EntryCount() >= kMaxRequestEntries) return false;
  bytes_.insert(bytes_.end(), entry.begin(), entry.end());
  return true;
}

std::size_t SearchRequest::EntryCount() const {
  return bytes_.size() < kRequestHeaderSize ? 0 : (bytes_.size() - kRequestHeaderSize) / kRequestEntrySize;
}

std::span<const uint8_t> SearchRequest::Finalize() {
  EnsureHeader();
  const std::size_t len = bytes_.size();  // at most 65504 by the entry limit
  bytes_[2] = static_cast<uint8_t>((len >> 8) & 0xFF);
  bytes_[3] = static_cast<uint8_t>(len & 0xFF);
  return bytes_;
}

std::optional<SearchAnswer> ReadSearchAnswer(std::span<const uint8_t> d) {
  if (!IsSearchAnswer(d)) return std::nullopt;
  SearchAnswer a;
  a.nAPID = uint32_t{d[8]} | (uint32_t{d[9]} << 8) | (uint32_t{d[10]} << 16) | (uint32_t{d[11]} << 24);
  a.nHWID = static_cast<uint16_t>(d[12] | (d[13] << 8));
  std::memcpy(a.szMac.data(), d.data() + 14, 6);
  a.nIP = BigEndian32(d.data() + 20);
  a.nNetmask = BigEndian32(d.data() + 24);
  a.nGateway = BigEndian32(d.data() + 28);
  a.Revision = static_cast<uint16_t>(d[32] | (d[33] << 8));
  a.LockMode = d[34];
  const uint8_t* name = d.data() + kServerNameOffset;
  std::size_t n = 0;
  while (n < kServerNameMax && name[n] != 0) ++n;
  a.ServerName.assign(reinterpret_cast<const char*>(name), n);
  return a;
}

std::string MacText(const std::array<uint8_t, 6>& m) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

std::string RevisionText(uint16_t revision) {
  const int major = revision >> 8;
  const int minor = (revision >> 4) & 0x0F;
  const int patch = revision & 0x0F;
  char buf[16];
  if (patch != 0) {
    std::snprintf(buf, sizeof buf, "%d.%d.%d", major, minor, patch);
  } else {
    std::snprintf(buf, sizeof buf, "%d.%d", major, minor);
  }
  return buf;
}

std::string LockText(uint8_t lockMode) { return lockMode != 0 ? "Lock" : "Unlock"; }

std::string HexText(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace orv

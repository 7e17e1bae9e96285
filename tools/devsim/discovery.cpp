#include "discovery.h"

#include <algorithm>
#include <cstring>

namespace orv::devsim {
namespace {

// Bytes 8..19 of the answer: APID (LE), HWID (LE), MAC.
std::array<uint8_t, 12> Identity(const Device& dev) {
  uint32_t apid = dev.faults.wrongApid ? dev.hwid : dev.apid;
  std::array<uint8_t, 12> id{};
  for (int i = 0; i < 4; ++i) id[i] = static_cast<uint8_t>(apid >> (8 * i));
  id[4] = static_cast<uint8_t>(dev.hwid);
  id[5] = static_cast<uint8_t>(dev.hwid >> 8);
  std::copy(dev.mac.begin(), dev.mac.end(), id.begin() + 6);
  return id;
}

}  // namespace

RequestVerdict JudgeRequest(const uint8_t* data, size_t len, const Device& dev) {
  if (data == nullptr || len < 8) return RequestVerdict::kMalformed;
  if (data[0] != 0x01 || data[1] != 0x00) return RequestVerdict::kMalformed;
  size_t nLen = size_t(data[2]) << 8 | data[3];
  if (nLen != len || (len - 8) % 12 != 0) return RequestVerdict::kMalformed;
  const auto id = Identity(dev);
  for (size_t off = 8; off + 12 <= len; off += 12)
    if (std::memcmp(data + off, id.data(), id.size()) == 0) return RequestVerdict::kListed;
  return RequestVerdict::kNotListed;
}

Answer BuildAnswer(const Device& dev) {
  Answer a{};
  a[0] = 0x01;  // search
  a[1] = 0x01;  // answer
  a[2] = 0x00;
  a[3] = static_cast<uint8_t>(kAnswerSize);
  const auto id = Identity(dev);
  std::copy(id.begin(), id.end(), a.begin() + 8);
  std::copy(dev.ip.begin(), dev.ip.end(), a.begin() + 20);
  std::copy(dev.netmask.begin(), dev.netmask.end(), a.begin() + 24);
  std::copy(dev.gateway.begin(), dev.gateway.end(), a.begin() + 28);
  a[32] = static_cast<uint8_t>(dev.revision);
  a[33] = static_cast<uint8_t>(dev.revision >> 8);
  a[34] = dev.lockMode;
  // The second and third interfaces are unused on these models.
  a[55] = 1;  // layout version
  std::copy_n(dev.serverName.begin(), std::min<size_t>(dev.serverName.size(), 60), a.begin() + 56);
  return a;
}

std::vector<uint8_t> BuildMalformed(const Device& dev, size_t size) {
  Device ghost = dev;
  ghost.mac[5] ^= 0x80;
  static const char kName[] = "MALFORMED";
  ghost.serverName.assign(kName, kName + sizeof kName - 1);
  Answer a = BuildAnswer(ghost);
  std::vector<uint8_t> out(a.begin(), a.end());
  out.resize(size, 0xEE);
  out[2] = static_cast<uint8_t>(size >> 8);
  out[3] = static_cast<uint8_t>(size);
  return out;
}

}  // namespace orv::devsim

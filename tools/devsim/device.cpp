#include "device.h"

#include <cstdio>
#include <stdexcept>

namespace orv::devsim {

Ip4 Device::LiveAddress() const {
  if (ip == Ip4{0, 0, 0, 0}) return Ip4{192, 168, 127, 254};
  return ip;
}

std::string Device::MacText() const {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return buf;
}

std::string Device::RevisionText() const {
  int major = revision >> 8, minor = (revision >> 4) & 0x0F, patch = revision & 0x0F;
  char buf[16];
  if (patch != 0)
    std::snprintf(buf, sizeof buf, "%d.%d.%d", major, minor, patch);
  else
    std::snprintf(buf, sizeof buf, "%d.%d", major, minor);
  return buf;
}

std::string IpText(const Ip4& ip) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
  return buf;
}

uint16_t ParseRevision(const std::string& text) {
  int parts[3] = {0, 0, 0};
  int n = 0;
  size_t i = 0;
  while (true) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
      throw std::invalid_argument("bad firmware revision \"" + text + "\" (want e.g. 1.2.1)");
    int v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + (text[i] - '0');
      if (v > 255) throw std::invalid_argument("firmware revision number too large in \"" + text + "\"");
      ++i;
    }
    parts[n++] = v;
    if (i == text.size()) break;
    if (text[i] != '.' || n == 3)
      throw std::invalid_argument("bad firmware revision \"" + text + "\" (want e.g. 1.2.1)");
    ++i;
  }
  if (n < 2) throw std::invalid_argument("bad firmware revision \"" + text + "\" (want e.g. 1.2.1)");
  if (parts[1] > 15 || parts[2] > 15)
    throw std::invalid_argument("firmware minor and patch numbers must be 0-15 in \"" + text + "\"");
  return static_cast<uint16_t>(parts[0] << 8 | parts[1] << 4 | parts[2]);
}

}  // namespace orv::devsim

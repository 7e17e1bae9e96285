// fuzz-libs: orv_host
// Device address and MAC texts arrive from the network: parsing must never
// read past the text, and whatever parses must print back to the same value.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/interfaces.h"
#include "host/routes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  uint8_t mac[6];
  if (orv::ParseMacText(text, mac)) {
    const std::string back = orv::MacToText(mac);
    uint8_t again[6];
    if (back.size() != 17 || !orv::ParseMacText(back, again) || std::memcmp(mac, again, 6) != 0)
      std::abort();
  }
  uint32_t addr = 0;
  if (orv::ParseIPv4(text, &addr)) {
    uint32_t again = 0;
    if (!orv::ParseIPv4(orv::IPToText(addr), &again) || again != addr) std::abort();
  }
  return 0;
}

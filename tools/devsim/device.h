#pragma once
// State of one simulated device. The discovery side (UDP answers) and the
// command side (TCP port 502) both read and change it; everything runs on the
// simulator's single event-loop thread, so no locking is needed.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orv::devsim {

using Ip4 = std::array<uint8_t, 4>;   // dotted order: [0] is the first number
using Mac = std::array<uint8_t, 6>;   // display order

// Faults of the discovery side, parsed from the device's "faults" object.
// Keys the command side understands are read by it from Device::raw.
struct DiscoveryFaults {
  bool silent = false;          // never answers a search
  bool answerAlways = false;    // answers even when the request lists it
  int delayMinMs = 0;           // answer delay range, uniformly random
  int delayMaxMs = 200;
  bool malformed = false;       // also sends a 115- and a 117-byte datagram
  bool wrongApid = false;       // answers with APID = HWID (no 0x80000000)
};

// What a factory reset restores.
struct FactorySettings {
  Ip4 ip{192, 168, 127, 254};
  Ip4 netmask{255, 255, 255, 0};
  Ip4 gateway{0, 0, 0, 0};
  std::string password = "TIRVacua";
  uint8_t addressMode = 0;
  std::string configText;
};

struct Device {
  size_t index = 0;             // position in the fleet file
  std::string netns;            // network namespace the device lives in

  uint16_t hwid = 0;
  uint32_t apid = 0;            // default 0x80000000 + hwid
  Mac mac{};
  Ip4 ip{};                     // reported in answers; may be 0.0.0.0
  Ip4 netmask{255, 255, 255, 0};
  Ip4 gateway{};
  uint16_t revision = 0x0121;   // answer field: high byte major, low byte minor<<4 | patch
  uint8_t lockMode = 0;
  std::vector<uint8_t> serverName;  // at most 60 bytes, need not end in zero
  std::string password = "TIRVacua";
  uint8_t addressMode = 0;      // 0 fixed, 1 DHCP, 2 DHCP/BOOTP, 3 BOOTP, 4 PPPoE
  std::string configText;       // handed out on export, replaced on import
  uint16_t locateValue = 0;     // last value written to the locate register

  DiscoveryFaults faults;
  FactorySettings factory;
  nlohmann::json raw;           // the device's object from the fleet file, as read

  // The address the device actually holds on its interface: a device that
  // reports 0.0.0.0 sits at its factory address 192.168.127.254.
  Ip4 LiveAddress() const;
  std::string MacText() const;  // "00-0A-1B-2C-3D-4E"
  std::string RevisionText() const;  // "1.2.1" or "1.2"
};

std::string IpText(const Ip4& ip);
// Parses "1.2.1" / "1.2" into the answer's 16-bit revision field; throws
// std::invalid_argument on anything else (numbers: major 0-255, minor/patch 0-15).
uint16_t ParseRevision(const std::string& text);

}  // namespace orv::devsim

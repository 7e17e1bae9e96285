#pragma once
// Fleet files: the JSON list of simulated devices the simulator serves.
//
//   {"devices": [ {"hwid": "0x0115", "mac": "00-0A-1B-2C-3D-4E", "ip": "10.77.0.11", ...}, ... ]}
//
// (a bare top-level array is accepted too). Numbers may be JSON integers or
// "0x..." / decimal strings. Every problem is reported as a FleetError that
// names the device and the field.
#include <stdexcept>
#include <string>
#include <vector>

#include "device.h"

namespace orv::devsim {

struct FleetError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::vector<Device> ParseFleet(const std::string& jsonText);
std::vector<Device> LoadFleet(const std::string& path);

// Model name for a hardware identifier, "" when the simulator does not know it.
std::string ModelName(uint16_t hwid);
// The configuration text a device hands out when its fleet entry has none.
std::string DefaultConfigText(const Device& dev);

}  // namespace orv::devsim

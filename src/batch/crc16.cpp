#include "batch/crc16.h"

#include <array>

namespace orv {
namespace {

// The two byte tables of the usual CRC-16/MODBUS implementation, derived from
// the reflected polynomial at compile time (entry 1 is 0xC0C1).
struct CrcTables {
  std::array<uint8_t, 256> lo{};
  std::array<uint8_t, 256> hi{};
};

constexpr CrcTables MakeTables() {
  CrcTables t;
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = 0;
    uint16_t c = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; ++b) {
      if ((crc ^ c) & 1) {
        crc = static_cast<uint16_t>((crc >> 1) ^ 0xA001);
      } else {
        crc = static_cast<uint16_t>(crc >> 1);
      }
      c = static_cast<uint16_t>(c >> 1);
    }
    t.lo[i] = static_cast<uint8_t>(crc & 0xFF);
    t.hi[i] = static_cast<uint8_t>(crc >> 8);
  }
  return t;
}

constexpr CrcTables kTables = MakeTables();
static_assert(kTables.hi[1] == 0xC0 && kTables.lo[1] == 0xC1);

}  // namespace

void CRC16Modbus(const uint8_t* data, uint32_t length, uint8_t& lo, uint8_t& hi) {
  uint8_t l = 0xFF;
  uint8_t h = 0xFF;
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t index = l ^ data[i];
    l = h ^ kTables.lo[index];
    h = kTables.hi[index];
  }
  lo = l;
  hi = h;
}

uint16_t CRC16ModbusValue(const uint8_t* data, uint32_t length) {
  uint8_t lo = 0;
  uint8_t hi = 0;
  CRC16Modbus(data, length, lo, hi);
  return static_cast<uint16_t>(hi << 8 | lo);
}

}  // namespace orv

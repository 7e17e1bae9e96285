#pragma once
// CRC-16/MODBUS (reflected polynomial 0xA001, initial 0xFFFF, no final
// inversion), table-driven, delivered as its low and high byte.
#include <cstdint>

namespace orv {

void CRC16Modbus(const uint8_t* data, uint32_t length, uint8_t& lo, uint8_t& hi);
// The two bytes joined: hi << 8 | lo. "123456789" gives 0x4B37.
uint16_t CRC16ModbusValue(const uint8_t* data, uint32_t length);

}  // namespace orv

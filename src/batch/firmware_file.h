#pragma once
// Firmware image files: a 32-byte header (magic "DAC!", value 15 at offset 12,
// payload length L at 16, signed payload sum at 20, little-endian) followed
// by L payload bytes. The image sent to a device is the 32 + L byte prefix.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orv {

constexpr int32_t kFirmwareHeaderSize = 32;
// Largest payload accepted. Real images are a few MiB; the cap keeps a crafted
// header from making the program reserve gigabytes.
constexpr int64_t kFirmwareMaxPayload = 64 * 1024 * 1024;

enum class FirmwareCheck {
  Ok,
  CannotOpen,
  ShortHeader,       // fewer than 32 bytes
  BadMagic,          // not "DAC!"
  BadFixedValue,     // offset 12 is not 15
  NegativeLength,    // L < 0
  OversizedLength,   // L above kFirmwareMaxPayload
  ShortPayload,      // the file holds fewer than L bytes after the header
  BadSum,            // payload sum differs from offset 20
};

const char* FirmwareCheckText(FirmwareCheck check);

struct FirmwareImage {
  std::vector<uint8_t> image;  // 32 + L bytes, header included
  uint16_t crc = 0;            // CRC16Modbus of image
  int32_t payloadLength = 0;   // L
};

// Checks file bytes already in memory; on Ok fills out. Trailing bytes after
// 32 + L are ignored.
FirmwareCheck CheckFirmwareData(std::span<const uint8_t> file, FirmwareImage& out);

// Reads and checks a file: the size is checked against the header before any
// buffer of the stated length is reserved.
FirmwareCheck LoadFirmwareFile(const std::string& path, FirmwareImage& out);

// Progress bar maximum for an image: (32 + L) / 230, rounded down.
int32_t FirmwareProgressMax(uint32_t imageLength);

}  // namespace orv

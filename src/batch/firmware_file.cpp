#include "batch/firmware_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "batch/crc16.h"

namespace orv {
namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Header checks that need nothing but the 32 header bytes.
FirmwareCheck CheckHeader(const uint8_t* header, int64_t fileSize, int32_t& length) {
  if (std::memcmp(header, "DAC!", 4) != 0) return FirmwareCheck::BadMagic;
  if (Le32(header + 12) != 15) return FirmwareCheck::BadFixedValue;
  length = static_cast<int32_t>(Le32(header + 16));
  if (length < 0) return FirmwareCheck::NegativeLength;
  if (length > kFirmwareMaxPayload) return FirmwareCheck::OversizedLength;
  if (fileSize - kFirmwareHeaderSize < length) return FirmwareCheck::ShortPayload;
  return FirmwareCheck::Ok;
}

FirmwareCheck Finish(FirmwareImage& out) {
  const uint8_t* header = out.image.data();
  uint16_t sum = 0;
  for (int32_t i = 0; i < out.payloadLength; ++i) {
    sum = static_cast<uint16_t>(sum + static_cast<int8_t>(header[kFirmwareHeaderSize + i]));
  }
  const uint16_t stored = static_cast<uint16_t>(header[20] | header[21] << 8);
  if (sum != stored) return FirmwareCheck::BadSum;
  out.crc = CRC16ModbusValue(out.image.data(), static_cast<uint32_t>(out.image.size()));
  return FirmwareCheck::Ok;
}

}  // namespace

const char* FirmwareCheckText(FirmwareCheck check) {
  switch (check) {
    case FirmwareCheck::Ok: return "firmware file is correct";
    case FirmwareCheck::CannotOpen: return "cannot open the firmware file";
    case FirmwareCheck::ShortHeader: return "file shorter than the 32-byte header";
    case FirmwareCheck::BadMagic: return "header does not begin with DAC!";
    case FirmwareCheck::BadFixedValue: return "header value at offset 12 is not 15";
    case FirmwareCheck::NegativeLength: return "negative payload length";
    case FirmwareCheck::OversizedLength: return "payload length too large";
    case FirmwareCheck::ShortPayload: return "file holds fewer payload bytes than the header states";
    case FirmwareCheck::BadSum: return "payload sum does not match the header";
  }
  return "unknown";
}

FirmwareCheck CheckFirmwareData(std::span<const uint8_t> file, FirmwareImage& out) {
  if (file.size() < static_cast<size_t>(kFirmwareHeaderSize)) return FirmwareCheck::ShortHeader;
  int32_t length = 0;
  const FirmwareCheck h = CheckHeader(file.data(), static_cast<int64_t>(file.size()), length);
  if (h != FirmwareCheck::Ok) return h;
  out.payloadLength = length;
  out.image.assign(file.begin(), file.begin() + kFirmwareHeaderSize + length);
  return Finish(out);
}

FirmwareCheck LoadFirmwareFile(const std::string& path, FirmwareImage& out) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) return FirmwareCheck::CannotOpen;
  // Size first, so a crafted length never turns into a large reservation.
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return FirmwareCheck::CannotOpen;
  const long size = std::ftell(f.get());
  if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) return FirmwareCheck::CannotOpen;
  uint8_t header[kFirmwareHeaderSize];
  if (size < kFirmwareHeaderSize ||
      std::fread(header, 1, sizeof header, f.get()) != sizeof header) {
    return FirmwareCheck::ShortHeader;
  }
  int32_t length = 0;
  const FirmwareCheck h = CheckHeader(header, size, length);
  if (h != FirmwareCheck::Ok) return h;
  out.payloadLength = length;
  out.image.resize(static_cast<size_t>(kFirmwareHeaderSize) + static_cast<size_t>(length));
  std::memcpy(out.image.data(), header, sizeof header);
  if (std::fread(out.image.data() + kFirmwareHeaderSize, 1, static_cast<size_t>(length),
                 f.get()) != static_cast<size_t>(length)) {
    out.image.clear();
    return FirmwareCheck::ShortPayload;  // the file shrank while we read it
  }
  const FirmwareCheck r = Finish(out);
  if (r != FirmwareCheck::Ok) out.image.clear();
  return r;
}

int32_t FirmwareProgressMax(uint32_t imageLength) {
  return static_cast<int32_t>(imageLength / 230);
}

}  // namespace orv

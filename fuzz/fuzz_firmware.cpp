// fuzz-libs: orv_batch
// Any bytes as a firmware file: accepted images are exactly the 32 + L prefix
// of the file with a matching checksum; nothing larger is ever reserved.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "batch/crc16.h"
#include "batch/firmware_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orv::FirmwareImage img;
  const orv::FirmwareCheck r = orv::CheckFirmwareData({data, size}, img);
  if (r == orv::FirmwareCheck::Ok) {
    const size_t n = static_cast<size_t>(orv::kFirmwareHeaderSize) +
                     static_cast<size_t>(img.payloadLength);
    if (img.payloadLength < 0 || img.image.size() != n || n > size) std::abort();
    if (std::memcmp(img.image.data(), data, n) != 0) std::abort();
    if (img.crc != orv::CRC16ModbusValue(data, static_cast<uint32_t>(n))) std::abort();
  } else if (img.image.capacity() > size) {
    std::abort();
  }
  (void)orv::FirmwareCheckText(r);
  return 0;
}

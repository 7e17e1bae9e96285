// fuzz-libs: orv_batch
// Any bytes as a firmware file: accepted images are exactly the 32 + L prefix
// of the file with a matching checksum; nothing larger is ever reserved. The
// file loader, given the same bytes as a file, comes to the same verdict.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

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

  static const int fd = memfd_create("firmware", 0);
  if (fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size)) {
    orv::FirmwareImage loaded;
    const orv::FirmwareCheck l = orv::LoadFirmwareFile("/proc/self/fd/" + std::to_string(fd), loaded);
    if (l != r) std::abort();
    if (l == orv::FirmwareCheck::Ok && (loaded.image != img.image || loaded.crc != img.crc)) std::abort();
  }
  return 0;
}

#include "devices/password.h"

#include <chrono>
#include <cstring>

namespace orv {

uint32_t MonotonicTickMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void EncodePasswordBlock(const char* password, uint32_t tick, uint8_t* block) {
  std::memset(block, 0, kPasswordBlockSize);
  if (password) {
    const size_t n = strnlen(password, 8);
    std::memcpy(block, password, n);
  }
  uint8_t k = static_cast<uint8_t>(tick % 8);
  if (k == 0) k = 8;
  block[8] = static_cast<uint8_t>((tick & 0xF0) | k);
  block[9] = 0;
  const bool up = (tick & 0x80) != 0;
  for (int i = 0; i < 8; ++i) {
    block[i] = static_cast<uint8_t>(up ? block[i] + k : block[i] - k);
  }
}

bool DecodePasswordBytes(const uint8_t* block, uint8_t* password8) {
  const uint8_t key = block[8];
  const uint8_t nibble = key & 0x0F;
  if (block[9] != 0 || nibble < 1 || nibble > 8) return false;
  const uint8_t k = (key & 0x07) == 0 ? 8 : (key & 0x07);
  const bool up = (key & 0x80) != 0;
  for (int i = 0; i < 8; ++i) {
    password8[i] = static_cast<uint8_t>(up ? block[i] - k : block[i] + k);
  }
  return true;
}

bool DecodePassword(const uint8_t* block, std::string& password) {
  uint8_t bytes[8];
  if (!DecodePasswordBytes(block, bytes)) return false;
  password.assign(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), 8));
  return true;
}

}  // namespace orv

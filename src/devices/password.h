#pragma once
// The 10-byte password block that starts every device command. Usable on its
// own: the device simulator decodes with the same rules the client encodes.
//   bytes 0..7  first eight password characters (0 past the end), each
//               shifted by k: up when bit 7 of the tick is set, else down
//   byte 8      (tick & 0xF0) | k, where k = tick mod 8, 0 meaning 8
//   byte 9      0
#include <cstdint>
#include <string>

namespace orv {

constexpr int32_t kPasswordBlockSize = 10;
constexpr const char* kDefaultPassword = "TIRVacua";

// Milliseconds from a monotonic clock, truncated to 32 bits (wraps).
uint32_t MonotonicTickMs();

// Encodes password (zero-terminated; only the first eight characters count)
// with the given tick.
void EncodePasswordBlock(const char* password, uint32_t tick, uint8_t* block);

// Undoes the shift: the eight password bytes (zeros past the end). Returns
// false for a block no encoder produces (byte 9 not 0, k outside 1..8).
bool DecodePasswordBytes(const uint8_t* block, uint8_t* password8);
// As above, as text up to the first zero byte.
bool DecodePassword(const uint8_t* block, std::string& password);

}  // namespace orv

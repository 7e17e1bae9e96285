#include "discovery/ip_check.h"

#include "common/trace.h"

namespace orv {
namespace {

bool IsMaskPart(uint32_t v) {
  switch (v) {
    case 0: case 128: case 192: case 224: case 240: case 248: case 252: case 254:
      return true;
    default:
      return false;
  }
}

// Mask rule over the parts in order: leading 255s, then one part from the
// allowed set, then zeros only.
struct MaskRule {
  bool pastFirstNon255 = false;
  // Returns false when the scan must stop.
  bool Apply(uint32_t value, int& code) {
    if (pastFirstNon255) {
      if (value != 0) {
        code = IPTEXT_BAD_MASK;
        return false;
      }
      return true;
    }
    if (value == 255) return true;
    pastFirstNon255 = true;
    if (!IsMaskPart(value)) code = IPTEXT_BAD_MASK;  // the scan goes on
    return true;
  }
};

bool IsBlankOrControl(unsigned char c) { return c <= 0x20 || c == 0x7F; }

}  // namespace

int CheckIPText(std::string_view text, bool isMask) {
  ORV_TRACE("CheckIPText");
  int code = IPTEXT_OK;
  if (text.size() > 15 || text.size() < 7) code = IPTEXT_BAD_LENGTH;

  uint32_t value = 0;  // capped at 256 so long digit runs cannot overflow
  int parts = 1;
  int count255 = 0;
  int count0 = 0;
  MaskRule mask;
  bool stopped = false;
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '.') {
      if (value > 255) {
        code = IPTEXT_PART_TOO_BIG;
        stopped = true;
        break;
      }
      if (value == 255) ++count255;
      if (value == 0) ++count0;
      if (isMask && !mask.Apply(value, code)) {
        stopped = true;
        break;
      }
      ++parts;
      value = 0;
      continue;
    }
    if (c < '0' || c > '9') {
      code = IPTEXT_BAD_CHAR;
      stopped = true;
      break;
    }
    value = value * 10 + (c - '0');
    if (value > 256) value = 256;
  }
  if (stopped || code != IPTEXT_OK) return code;

  if (parts != 4) return IPTEXT_NOT_FOUR_PARTS;
  if (value > 255) return IPTEXT_PART_TOO_BIG;
  if (value == 255) ++count255;
  if (value == 0) ++count0;
  if (count0 == 4 || count255 == 4) code = IPTEXT_ALL_SAME;
  if (isMask) mask.Apply(value, code);
  return code;
}

std::string TrimIPText(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && IsBlankOrControl(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && IsBlankOrControl(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

uint32_t IPTextToNumber(std::string_view text) { return ParseIPText(text).value_or(0xFFFFFFFFu); }

std::optional<uint32_t> ParseIPText(std::string_view text) {
  constexpr std::nullopt_t kNone = std::nullopt;
  uint32_t result = 0;
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t digits = 0;
    uint32_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 3) return kNone;
      ++i;
    }
    if (digits == 0 || v > 255) return kNone;
    result = (result << 8) | v;
    if (++parts == 4) break;
    if (i >= text.size() || text[i] != '.') return kNone;
    ++i;
  }
  if (i != text.size()) return kNone;
  return result;
}

std::string IPNumberToText(uint32_t ip) {
  return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
         std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

}  // namespace orv

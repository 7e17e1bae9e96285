#pragma once
// Checks and conversions of dotted IPv4 texts typed by the user (search
// range fields, the command line).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// Result codes of CheckIPText.
enum IPTextCode : int {
  IPTEXT_OK = 0,
  IPTEXT_BAD_LENGTH = 1,     // shorter than 7 or longer than 15 characters
  IPTEXT_PART_TOO_BIG = 2,   // a dotted number above 255
  IPTEXT_BAD_CHAR = 3,       // a character other than a digit or "."
  IPTEXT_NOT_FOUR_PARTS = 4, // not exactly three dots
  IPTEXT_ALL_SAME = 5,       // 0.0.0.0 or 255.255.255.255
  IPTEXT_BAD_MASK = 6,       // mask mode: not a contiguous network mask
};

// 0 when `text` is a usable address (isMask false) or network mask (isMask
// true); 1 to 4 mean an invalid text, 5 and 6 an illegal value.
int CheckIPText(std::string_view text, bool isMask);

// Codes 1 to 4 are reported as "Invalid ...", 5 and 6 as "Illegal ...".
inline bool IsIllegalIPTextCode(int code) { return code == IPTEXT_ALL_SAME || code == IPTEXT_BAD_MASK; }

// Removes leading and trailing blanks and control characters.
std::string TrimIPText(std::string_view text);

// Dotted text to a number with the first dotted number most significant.
// Anything that is not four dot-separated decimal numbers of 0 to 255 gives
// 0xFFFFFFFF, as the search start does with a text it cannot read.
uint32_t IPTextToNumber(std::string_view text);

// Like IPTextToNumber, but tells 255.255.255.255 from a text that is not an
// address.
std::optional<uint32_t> ParseIPText(std::string_view text);

// Number (first dotted number most significant) to dotted text.
std::string IPNumberToText(uint32_t ip);

}  // namespace orv

#pragma once
// The search datagrams: the request the workstation broadcasts and the
// 116-byte answer every device sends back. Pure functions over byte spans;
// nothing here reads past the datagram it is given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv {

constexpr uint16_t kSearchDevicePort = 4800;   // requests go to this port
constexpr uint16_t kSearchLocalPort = 13000;   // requests leave from / answers arrive on
constexpr uint32_t kSearchBroadcastAddr = 0xFFFFFFFFu;  // 255.255.255.255

constexpr std::size_t kAnswerSize = 116;
constexpr std::size_t kRequestHeaderSize = 8;
constexpr std::size_t kRequestEntrySize = 12;  // answer bytes 8..19: APID, HWID, MAC
constexpr std::size_t kRequestEntryOffset = 8;  // where that entry sits in an answer
constexpr std::size_t kServerNameOffset = 56;
constexpr std::size_t kServerNameMax = 60;

// Largest UDP payload over IPv4; the request must fit in one datagram and its
// 16-bit length field must hold its size.
constexpr std::size_t kMaxUdpPayload = 65507;
constexpr std::size_t kMaxRequestEntries = (kMaxUdpPayload - kRequestHeaderSize) / kRequestEntrySize;

// The search request: header then one entry per accepted answer, in order.
class SearchRequest {
 public:
  bool Empty() const { return bytes_.empty(); }
  // Sets the 8-byte header when the request is still empty.
  void EnsureHeader();
  // Appends answer bytes 8..19. Returns false (and changes nothing) when the
  // request already holds kMaxRequestEntries entries.
  bool AddEntry(std::span<const uint8_t, kRequestEntrySize> entry);
  std::size_t EntryCount() const;
  // Stores the current length in the length field and returns the datagram.
  std::span<const uint8_t> Finalize();
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A datagram is an answer exactly when it is 116 bytes long.
inline bool IsSearchAnswer(std::span<const uint8_t> datagram) { return datagram.size() == kAnswerSize; }

// Fields of an answer. Addresses are numbers with the first dotted number
// most significant.
struct SearchAnswer {
  uint32_t nAPID = 0;
  uint16_t nHWID = 0;
  std::array<uint8_t, 6> szMac{};
  uint32_t nIP = 0;
  uint32_t nNetmask = 0;
  uint32_t nGateway = 0;
  uint16_t Revision = 0;
  uint8_t LockMode = 0;
  std::string ServerName;  // up to the first zero byte, at most 60 bytes
};

// Reads an answer; nullopt when the datagram is not an answer.
std::optional<SearchAnswer> ReadSearchAnswer(std::span<const uint8_t> datagram);

// Text forms shown to the user.
std::string MacText(const std::array<uint8_t, 6>& mac);  // "00-0A-1B-2C-3D-4E"
std::string RevisionText(uint16_t revision);              // "1.2.1" or "1.2"
std::string LockText(uint8_t lockMode);                   // "Lock" / "Unlock"

// Lower-case hex of bytes, space separated (trace output).
std::string HexText(std::span<const uint8_t> bytes);

}  // namespace orv

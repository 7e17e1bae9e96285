#pragma once
// Device side of the command protocol: Modbus/TCP frames with the vendor
// function codes (standard number + 100) on port 502. Everything here is pure
// logic on bytes and on the device state, so it can be tested without sockets;
// command_service.cpp puts it on a connection and applies the timing faults.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "device.h"
#include "session.h"

namespace orv::devsim {

// Wire function codes.
constexpr uint8_t kFcReadCoils = 101;
constexpr uint8_t kFcReadInputs = 102;
constexpr uint8_t kFcReadHolding = 103;
constexpr uint8_t kFcReadInputRegs = 104;
constexpr uint8_t kFcWriteCoil = 105;
constexpr uint8_t kFcWriteRegister = 106;
constexpr uint8_t kFcDiagnostics = 108;
constexpr uint8_t kFcWriteCoils = 115;
constexpr uint8_t kFcWriteRegisters = 116;

// Exception codes the device answers with.
constexpr uint8_t kExIllegalFunction = 0x01;
constexpr uint8_t kExIllegalAddress = 0x02;
constexpr uint8_t kExIllegalValue = 0x03;
constexpr uint8_t kExDeviceFailure = 0x04;  // refused: not logged in, wrong password, bad transfer

// Zero-based wire addresses of the registers the device gives meaning to.
constexpr uint16_t kRegPassword = 0x8133;      // 5 registers, encoded password block
constexpr uint16_t kRegAddressMode = 0x8138;   // low byte: 0 fixed, 1..4 DHCP/BOOTP/PPPoE
constexpr uint16_t kRegIpAddress = 0x8000;     // 2 registers, new address in dotted order
constexpr uint16_t kRegLocate = 0x80F5;
constexpr uint16_t kRegFwOpen = 0x8200;
constexpr uint16_t kRegFwConstant = 0x8201;    // 7 registers, "TIRHoHo" first
constexpr uint16_t kRegFwLength = 0x820D;      // 2 registers, length LSB first
constexpr uint16_t kRegFwFixed = 0x820F;       // 1 register, value 15
constexpr uint16_t kRegFwBlock = 0x8210;       // image blocks
constexpr uint16_t kRegFwCrc = 0x8283;
constexpr uint16_t kRegFwClose = 0x8284;        // value 0: install when constant, length and CRC hold.
// An installed image that starts with a "DAC!" header gives the device its new
// revision from image bytes 4 (minor << 4 | patch) and 5 (major), the layout
// of the search answer's revision field; later searches report it.
constexpr uint16_t kRegCfgInLength = 0x800B;   // import length, LSB first on the wire
constexpr uint16_t kRegCfgInBlock = 0x800C;
constexpr uint16_t kRegCfgInClose = 0x807F;
constexpr uint16_t kRegCfgOutLength = 0x8080;  // export length, LSB first on the wire
constexpr uint16_t kRegCfgOutBlock = 0x8081;
constexpr uint16_t kRegCfgOutClose = 0x80F4;

constexpr uint16_t kDiagRestartSub = 0x0001;
constexpr uint16_t kDiagRestart = 0xFF00;
constexpr uint16_t kDiagFactoryReset = 0x55AA;

// Largest frame the device takes: a write of 125 registers (263 bytes).
constexpr size_t kMaxRequestFrame = 263;
// Largest firmware image and configuration text the device accepts; anything
// announced beyond it is refused before a byte is stored.
constexpr uint32_t kMaxFirmwareImage = 8u * 1024 * 1024;
constexpr size_t kMaxImportText = 1024 * 1024;

// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF), as the device checks images.
uint16_t DeviceCrc16(const uint8_t* data, size_t len);

// Recovers the password from the 10-byte login block. The shift k is in the low
// three bits of byte 8 (0 meaning 8); bit 7 set means the characters were raised
// by k. The text ends at the first zero byte.
std::string DecodeLoginBlock(const uint8_t block[10]);

// Model name the device reports in its configuration ("MOD_TYPE="), from its
// hardware identifier; "" for an identifier outside the known families.
std::string ModelTagForHwid(uint16_t hwid);

// Splits a byte stream into request frames. A header with a non-zero protocol
// identifier or a length field outside 2..257 cannot be resynchronised: the
// assembler turns bad and the connection should be closed.
class FrameAssembler {
 public:
  // Takes bytes; returns how many were consumed (stops after a complete frame
  // so the caller can handle it before feeding the rest).
  size_t Feed(const uint8_t* data, size_t len);
  bool HasFrame() const { return complete_; }
  const uint8_t* Frame() const { return buf_.data(); }
  size_t FrameSize() const { return size_; }
  void Pop();  // drops the complete frame
  bool Bad() const { return bad_; }

 private:
  std::array<uint8_t, kMaxRequestFrame> buf_{};
  size_t size_ = 0;
  size_t need_ = 7;
  bool complete_ = false;
  bool bad_ = false;
};

// Per-request fault rule: "FC", "FC:ADDR" or "FC:ADDR#N" (N-th such request on a
// connection, 1-based), FC decimal wire code, ADDR hexadecimal wire address.
struct RequestRule {
  int function = -1;
  int address = -1;   // -1: any
  int occurrence = 0; // 0: every time
  static std::optional<RequestRule> Parse(std::string_view text);
};

// Faults of the command side, from the device's "faults" object.
struct CommandFaults {
  bool noAnswer = false;              // accepts connections, never answers
  std::vector<RequestRule> exceptionOn;
  std::vector<RequestRule> noAnswerOn;
  std::vector<RequestRule> closeMidReplyOn;
  std::vector<RequestRule> paddedExceptionOn;  // an exception, zero-padded to the normal reply's size
  std::vector<RequestRule> doubleReplyOn;      // the reply goes out twice
  bool closeMidReply = false;         // every reply is cut in the middle
  int dropAfterFwBlocks = -1;         // closes on the firmware block after k answered ones
  int replyDelayMs = 0;               // each reply is held back this long
  bool splitReplies = false;          // replies go out as 5 bytes, then the rest
  int splitPauseMs = 20;
  int restartOfflineMs = 3000;        // unreachable time after a restart or reset
  int exportSize = -1;                // pads the exported text to exactly this size

  // Throws std::invalid_argument with the offending key on a bad value.
  static CommandFaults FromJson(const nlohmann::json& deviceObject);
};

// What to do with the reply to one request.
struct Outcome {
  enum class Wire { Send, Silent, CloseMidReply, Close };
  enum class After { None, Restart, FactoryReset };
  Wire wire = Wire::Send;
  After after = After::None;
  std::vector<uint8_t> reply;  // the full reply frame (also for CloseMidReply)
};

// The configuration text the device hands out: the stored text (or a default
// one) with the live identity and network values filled in, always carrying
// "MOD_TYPE=" and "NET_CONFIG_OVERWRITE=".
std::string RenderConfig(const Device& device);

struct ImportResult {
  bool accepted = false;
  std::string reason;            // why it was refused
  bool networkChanged = false;
  Ip4 ip{}, netmask{}, gateway{};
};
// Checks an imported text against the device (model tag) and works out the
// network settings it asks for; changes nothing itself.
ImportResult EvaluateImport(const Device& device, std::string_view text);

// Protocol state of one connection.
class CommandEngine {
 public:
  CommandEngine(Device& device, DeviceControl& control, const CommandFaults& faults)
      : device_(device), control_(control), faults_(faults) {}

  // Handles one complete request frame (as delivered by FrameAssembler).
  Outcome Handle(const uint8_t* frame, size_t len);

  bool LoggedIn() const { return loggedIn_; }

 private:
  Outcome Dispatch(const uint8_t* f, size_t len);
  Outcome ReadRegisters(const uint8_t* f, uint16_t addr, uint16_t count);
  Outcome WriteRegister(const uint8_t* f, uint16_t addr, uint16_t value);
  Outcome WriteRegisters(const uint8_t* f, uint16_t addr, uint16_t count, const uint8_t* data);
  Outcome Diagnostics(const uint8_t* f, uint16_t sub, uint16_t value);
  bool Matches(const std::vector<RequestRule>& rules, uint8_t fc, int addr, int seen) const;

  Device& device_;
  DeviceControl& control_;
  const CommandFaults& faults_;
  bool loggedIn_ = false;
  std::map<uint32_t, int> seen_;  // (fc << 16 | address) -> requests so far

  // Firmware transfer.
  bool fwConstant_ = false, fwLengthSet_ = false, fwFixed_ = false;
  uint32_t fwLength_ = 0;
  std::vector<uint8_t> fwImage_;
  uint16_t fwCrc_ = 0;
  bool fwCrcSet_ = false;
  int fwBlocks_ = 0;

  // Configuration export.
  std::string outText_;
  size_t outPos_ = 0;
  bool outActive_ = false;

  // Configuration import.
  bool inLengthSet_ = false;
  uint16_t inLength_ = 0;
  std::string inText_;

  std::map<uint16_t, uint16_t> scratch_;  // registers without a meaning
};

// Reply builders (exposed for tests).
std::vector<uint8_t> ExceptionReply(const uint8_t* request, uint8_t code);
std::vector<uint8_t> EchoReply(const uint8_t* request);  // first 12 bytes, length 6

}  // namespace orv::devsim

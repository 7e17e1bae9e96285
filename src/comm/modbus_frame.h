#pragma once
// Modbus/TCP request frames with the vendor function codes (standard function
// number + 100). Pure functions: no socket, no state.
#include <cstdint>

namespace orv {

// Longest request: write multiple registers with 125 registers.
constexpr int32_t kModbusMaxRequest = 263;
// Header: transaction id, protocol id, length, unit id.
constexpr int32_t kModbusHeader = 7;
// Wire function code = standard function number + this.
constexpr uint8_t kVendorCodeOffset = 100;

struct ModbusFrameInfo {
  int32_t requestLength = 0;
  int32_t expectedReplyLength = 0;  // header included; 0 when no reply is awaited
};

// Builds one request into frame (kModbusMaxRequest bytes). type is the
// standard function number (1-6, 8, 15, 16); ref the one-based register or
// coil number (the diagnostic sub-function for type 8); count the quantity or
// value; data the source of the data bytes for types 15 and 16 (copied
// unchanged). Returns false for a type or count that is not accepted; nothing
// is then meaningful in frame.
bool BuildModbusRequest(uint8_t* frame, uint16_t transactionId, uint8_t unitId, uint32_t type,
                        uint32_t ref, uint16_t count, const uint8_t* data, bool awaitReply,
                        ModbusFrameInfo& info);

// True when the reply collected so far is an exception reply: its function
// code (offset 7, so at least 8 bytes are in) has the top bit set.
bool IsExceptionReply(const uint8_t* reply, int32_t received);

// True when reply (received bytes, the whole of it) answers request: protocol
// identifier 0, the request's own function code (an exception is no answer),
// and a length field that counts exactly the bytes after it. The transaction
// identifier is not compared: devices may not echo it.
bool ReplyAnswersRequest(const uint8_t* request, const uint8_t* reply, int32_t received);

}  // namespace orv

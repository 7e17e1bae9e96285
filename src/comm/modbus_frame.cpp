#include "comm/modbus_frame.h"

#include <cstring>

namespace orv {
namespace {
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>((v >> 8) & 0xFF);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}
inline int32_t Bits(uint32_t count) { return static_cast<int32_t>((count + 7) / 8); }
}  // namespace

bool BuildModbusRequest(uint8_t* frame, uint16_t transactionId, uint8_t unitId, uint32_t type,
                        uint32_t ref, uint16_t count, const uint8_t* data, bool awaitReply,
                        ModbusFrameInfo& info) {
  // Validate before touching anything so a rejected request leaves no trace.
  int32_t requestLength = 12;
  int32_t replyLength = 12;
  uint32_t field8 = (ref - 1) & 0xFFFF;
  uint32_t field10 = count;
  int32_t dataBytes = -1;  // >= 0 for the write-multiple types
  switch (type) {
    case 1:
    case 2:
      if (count < 1 || count > 2000) return false;
      replyLength = 9 + Bits(count);
      break;
    case 3:
    case 4:
      if (count < 1 || count > 125) return false;
      replyLength = 9 + 2 * count;
      break;
    case 5:
      field10 = count != 0 ? 0xFF00 : 0x0000;
      break;
    case 6:
      break;
    case 8:
      field8 = ref & 0xFFFF;  // the sub-function goes out as given
      break;
    case 15:
      if (count < 1 || count > 800) return false;
      dataBytes = Bits(count);
      break;
    case 16:
      if (count < 1 || count > 125) return false;
      dataBytes = 2 * count;
      break;
    default:
      return false;
  }

  Put16(frame, transactionId);
  Put16(frame + 2, 0);
  frame[6] = unitId;
  frame[7] = static_cast<uint8_t>(type + kVendorCodeOffset);
  Put16(frame + 8, field8);
  Put16(frame + 10, field10);
  if (dataBytes >= 0) {
    frame[12] = static_cast<uint8_t>(dataBytes);
    if (data) {
      std::memcpy(frame + 13, data, static_cast<size_t>(dataBytes));
    } else {
      std::memset(frame + 13, 0, static_cast<size_t>(dataBytes));
    }
    requestLength = 13 + dataBytes;
  }
  Put16(frame + 4, static_cast<uint32_t>(requestLength - 6));
  info.requestLength = requestLength;
  info.expectedReplyLength = awaitReply ? replyLength : 0;
  return true;
}

bool IsExceptionReply(const uint8_t* reply, int32_t received) {
  return received >= 8 && (reply[7] & 0x80) != 0;
}

bool ReplyAnswersRequest(const uint8_t* request, const uint8_t* reply, int32_t received) {
  if (received < kModbusHeader + 1) return false;
  const int32_t length = reply[4] << 8 | reply[5];
  return reply[2] == 0 && reply[3] == 0 && length == received - 6 && reply[7] == request[7];
}

}  // namespace orv

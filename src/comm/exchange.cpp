#include "comm/exchange.h"

#include <algorithm>
#include <string>

#include "comm/modbus_frame.h"
#include "common/trace.h"

namespace orv {
namespace {

void TraceChunk(const char* title, const uint8_t* p, int32_t n) {
  if (!TraceEnabled()) return;
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = title;
  for (int32_t i = 0; i < n; ++i) {
    text += kHex[p[i] >> 4];
    text += kHex[p[i] & 0x0F];
    text += ' ';
    if (i % 16 == 15 || i == n - 1) text += "\r\n";
  }
  TraceRaw(text);
}

}  // namespace

void TraceExchangeStart(const char* host, int32_t timeoutMs) {
  if (!TraceEnabled()) return;
  ORV_TRACE("RWModbus");
  ORV_TRACE(std::string(host ? host : "") + ", Timeout=" + std::to_string(timeoutMs));
}

int32_t WriteRequestChunks(ByteStream& stream, const uint8_t* request, int32_t requestLength,
                           int32_t sent) {
  while (sent < requestLength && stream.Connected()) {
    const int32_t n = std::min(requestLength - sent, kSocketChunk);
    TraceChunk("===== Write: =====\r\n", request + sent, n);
    stream.MoreFollows(sent + n < requestLength);
    const int32_t written = stream.Write(request + sent, n);
    if (written < 0) {
      stream.Deactivate();
      break;
    }
    sent += std::min(written, n);
    if (written == 0) break;  // stalled: the limit passed (or the stream is full)
  }
  return sent;
}

int32_t RWModbusContinue(ByteStream& stream, const uint8_t* request, int32_t requestLength,
                         int32_t sent, uint8_t* reply, int32_t replyLength) {
  if (requestLength < 0 || replyLength < 0 || sent < 0 || sent > requestLength) return -1;
  if (sent < requestLength) sent = WriteRequestChunks(stream, request, requestLength, sent);
  if (sent != requestLength) return -1;
  if (replyLength == 0) return 0;

  int32_t received = 0;
  while (received < replyLength && stream.Connected()) {
    const int32_t n = std::min(replyLength - received, kSocketChunk);
    const int32_t got = stream.Read(reply + received, n);
    if (got < 0) {
      stream.Deactivate();
      break;
    }
    const int32_t moved = std::min(got, n);
    TraceChunk("===== Read: =====\r\n", reply + received, moved);
    received += moved;
    if (moved == 0) break;
    // An exception reply is shorter than expected: stop instead of waiting
    // for bytes that will never come.
    if (received < replyLength && IsExceptionReply(reply, received)) break;
  }
  return received == replyLength ? received : -1;
}

int32_t RWModbus(ByteStream& stream, const uint8_t* request, int32_t requestLength,
                 uint8_t* reply, int32_t replyLength, const char* host, int32_t timeoutMs) {
  TraceExchangeStart(host, timeoutMs);
  return RWModbusContinue(stream, request, requestLength, 0, reply, replyLength);
}

}  // namespace orv

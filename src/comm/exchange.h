#pragma once
// One request/reply exchange over a time-limited byte stream: writes in chunks
// of at most 256 bytes, reads until the expected length is in, the stream
// stalls or closes, or the reply turns out to be an exception reply.
#include <cstdint>

namespace orv {

constexpr int32_t kSocketChunk = 256;

// A stream with a fixed time limit per call, like the device connection.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Bytes moved; 0 when the time limit passed (or, for Read, the peer closed
  // the connection, after which the stream is closed); -1 on an I/O error.
  virtual int32_t Write(const uint8_t* data, int32_t n) = 0;
  virtual int32_t Read(uint8_t* data, int32_t n) = 0;
  virtual bool Connected() const = 0;
  virtual void Deactivate() = 0;  // close after an I/O error
  // Tells the stream whether more of the same request follows the next Write,
  // so it may hold the chunk back briefly and send both in one segment.
  virtual void MoreFollows(bool more) {}
};

// Result: replyLength when replyLength > 0 and all of it arrived; 0 when
// replyLength is 0 and the whole request was written; -1 otherwise. Traces the
// host, the limit and every chunk in hex when the trace hook is on.
int32_t RWModbus(ByteStream& stream, const uint8_t* request, int32_t requestLength,
                 uint8_t* reply, int32_t replyLength, const char* host, int32_t timeoutMs);

// The pieces of RWModbus, for callers that start the write themselves:
// the entry trace; the write phase from `sent` on (returns the new count; a
// stall or error ends it); and the rest of the exchange once `sent` request
// bytes are out.
void TraceExchangeStart(const char* host, int32_t timeoutMs);
int32_t WriteRequestChunks(ByteStream& stream, const uint8_t* request, int32_t requestLength,
                           int32_t sent);
int32_t RWModbusContinue(ByteStream& stream, const uint8_t* request, int32_t requestLength,
                         int32_t sent, uint8_t* reply, int32_t replyLength);

}  // namespace orv

// fuzz-libs: orv_comm
// Arbitrary reply bytes, in arbitrary pieces, through the exchange's reply
// handling (with the trace on, and from a request already partly sent): the
// result is always -1, 0 or the expected length, nothing is written past the
// expected reply length, and the reply check never reads past what came in.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "comm/exchange.h"
#include "comm/modbus_frame.h"
#include "common/trace.h"

namespace {

class FuzzStream : public orv::ByteStream {
 public:
  FuzzStream(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  int32_t Write(const uint8_t*, int32_t n) override {
    const uint8_t c = Take();
    if (c == 0xFF) return -1;   // I/O error
    if (c == 0xFE) return 0;    // stalled
    return c < 0x80 ? n : std::min<int32_t>(n, c & 0x7F);
  }

  int32_t Read(uint8_t* data, int32_t n) override {
    if (p_ >= end_) return 0;  // time-out
    const uint8_t c = Take();
    if (c == 0xFF) return -1;
    if (c == 0xFE) {
      connected_ = false;  // device closed
      return 0;
    }
    int32_t k = std::min<int32_t>(n, c);
    k = std::min<int32_t>(k, static_cast<int32_t>(end_ - p_));
    std::memcpy(data, p_, static_cast<size_t>(k));
    p_ += k;
    return k;
  }

  bool Connected() const override { return connected_; }
  void Deactivate() override { connected_ = false; }

 private:
  uint8_t Take() { return p_ < end_ ? *p_++ : 0; }
  const uint8_t* p_;
  const uint8_t* end_;
  bool connected_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool traced = [] {
    orv::SetTraceSink([](const std::string& line) { (void)line.size(); });
    return true;
  }();
  (void)traced;
  if (size < 4) return 0;
  const int32_t replyLength = static_cast<int32_t>((data[0] << 8 | data[1]) % 260);
  const int32_t requestLength = 1 + data[2] % orv::kModbusMaxRequest;
  const int32_t sent = data[3] % (requestLength + 1);
  uint8_t request[orv::kModbusMaxRequest] = {};
  request[7] = data[2];
  uint8_t reply[260 + 16];
  std::memset(reply, 0xA5, sizeof reply);
  FuzzStream stream(data + 4, size - 4);
  const int32_t r = sent == 0 ? orv::RWModbus(stream, request, requestLength, reply, replyLength, "fuzz", 5000)
                              : orv::RWModbusContinue(stream, request, requestLength, sent, reply, replyLength);
  if (r != -1 && r != 0 && r != replyLength) std::abort();
  if (r == 0 && replyLength != 0) std::abort();
  for (size_t i = static_cast<size_t>(replyLength); i < sizeof reply; ++i) {
    if (reply[i] != 0xA5) std::abort();
  }
  if (r > 0) (void)orv::ReplyAnswersRequest(request, reply, r);
  return 0;
}

#pragma once
// Builders for answers and a scripted socket and clock for the search engine.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "discovery/datagram.h"
#include "discovery/search_engine.h"

namespace orv::test {

struct AnswerSpec {
  uint32_t apid = 0x80000115;
  uint16_t hwid = 0x0115;
  std::array<uint8_t, 6> mac{0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
  std::array<uint8_t, 4> ip{192, 168, 127, 10};
  std::array<uint8_t, 4> mask{255, 255, 255, 0};
  std::array<uint8_t, 4> gw{192, 168, 127, 1};
  uint8_t rev0 = 0x21;  // minor 2, patch 1
  uint8_t rev1 = 0x01;  // major 1
  uint8_t lock = 0;
  std::string name = "RTU-1";  // copied into the 60-byte field (not terminated when 60 long)
  std::size_t size = kAnswerSize;
};

inline std::vector<uint8_t> MakeAnswer(const AnswerSpec& s) {
  std::vector<uint8_t> d(kAnswerSize, 0);
  d[0] = 0x01;
  d[1] = 0x01;
  d[2] = 0x00;
  d[3] = 0x74;
  d[8] = s.apid & 0xFF;
  d[9] = (s.apid >> 8) & 0xFF;
  d[10] = (s.apid >> 16) & 0xFF;
  d[11] = (s.apid >> 24) & 0xFF;
  d[12] = s.hwid & 0xFF;
  d[13] = s.hwid >> 8;
  std::memcpy(&d[14], s.mac.data(), 6);
  std::memcpy(&d[20], s.ip.data(), 4);
  std::memcpy(&d[24], s.mask.data(), 4);
  std::memcpy(&d[28], s.gw.data(), 4);
  d[32] = s.rev0;
  d[33] = s.rev1;
  d[34] = s.lock;
  std::memcpy(&d[56], s.name.data(), std::min<std::size_t>(s.name.size(), 60));
  d.resize(s.size, 0xEE);
  return d;
}

// Answer of device number k: distinct MAC and address, K7710-GPRS-C.
inline std::vector<uint8_t> DeviceAnswer(int k) {
  AnswerSpec s;
  s.mac = {0x00, 0x0A, 0x1B, static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)};
  s.ip = {10, 77, static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)};
  s.name = "RTU-" + std::to_string(k);
  return MakeAnswer(s);
}

class FakeClock : public SearchClock {
 public:
  int64_t NowMs() override { return now; }
  int64_t now = 100000;
};

// Socket whose answers come from a script: after each successful send,
// `onSend` may queue datagrams; a receive with an empty queue advances the
// clock by the time-out and reports a time-out.
class FakeTransport : public SearchTransport {
 public:
  explicit FakeTransport(FakeClock& clock) : clock_(clock) {}

  struct Sent {
    uint32_t addr;
    uint16_t port;
    std::vector<uint8_t> data;
  };
  struct Queued {
    RecvStatus status = RecvStatus::Datagram;
    std::vector<uint8_t> data;
    int64_t delayMs = 0;  // clock advance before it arrives
  };

  bool Open(uint32_t localAddr, uint16_t port, OpenStage& stage, SocketError& error) override {
    ++opens;
    boundAddr = localAddr;
    boundPort = port;
    if (failOpen) {
      stage = failStage;
      error = {failErrno, std::strerror(failErrno)};
      return false;
    }
    open = true;
    return true;
  }
  bool SetBroadcast(SocketError& error) override {
    ++broadcastCalls;
    if (failBroadcastOn && failBroadcastOn(broadcastCalls)) {
      error = {EACCES, std::strerror(EACCES)};
      return false;
    }
    return true;
  }
  bool SendTo(uint32_t addr, uint16_t port, std::span<const uint8_t> data, SocketError& error) override {
    ++sendCalls;
    if (failSendOn && failSendOn(sendCalls)) {
      error = {ENETUNREACH, std::strerror(ENETUNREACH)};
      return false;
    }
    sent.push_back({addr, port, {data.begin(), data.end()}});
    if (onSend) onSend(sent.size());
    return true;
  }
  RecvResult Recv(std::span<uint8_t> buffer, int timeoutMs) override {
    ++recvCalls;
    lastTimeout = timeoutMs;
    if (queue.empty() && onEmpty) onEmpty();
    if (queue.empty()) {
      clock_.now += timeoutMs;
      return {RecvStatus::Timeout, 0, EAGAIN};
    }
    Queued q = std::move(queue.front());
    queue.pop_front();
    clock_.now += q.delayMs;
    RecvResult r;
    r.status = q.status;
    if (q.status == RecvStatus::Datagram) {
      if (q.data.size() > buffer.size()) {
        r.status = RecvStatus::Truncated;
        r.length = buffer.size();
      } else {
        r.length = q.data.size();
      }
      std::memcpy(buffer.data(), q.data.data(), r.length);
    } else if (q.status == RecvStatus::Error) {
      r.err = ECONNREFUSED;
    }
    return r;
  }
  void Close() override {
    if (open) ++closes;
    open = false;
  }
  bool IsOpen() const override { return open; }

  void Queue(std::vector<uint8_t> d, int64_t delayMs = 0) { queue.push_back({RecvStatus::Datagram, std::move(d), delayMs}); }

  FakeClock& clock_;
  bool open = false;
  bool failOpen = false;
  OpenStage failStage = OpenStage::Bind;
  int failErrno = EADDRINUSE;
  std::function<bool(int)> failSendOn;       // by 1-based send attempt
  std::function<bool(int)> failBroadcastOn;  // by 1-based attempt
  std::function<void(std::size_t)> onSend;   // number of datagrams sent so far
  std::function<void()> onEmpty;             // before a receive finds the queue empty
  std::deque<Queued> queue;
  std::vector<Sent> sent;
  uint32_t boundAddr = 0;
  uint16_t boundPort = 0;
  int opens = 0, closes = 0, sendCalls = 0, broadcastCalls = 0, recvCalls = 0, lastTimeout = 0;
};

}  // namespace orv::test

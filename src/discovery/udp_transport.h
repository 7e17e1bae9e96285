#pragma once
#include <functional>
#include <string>
// The search socket over POSIX UDP.
#include "discovery/search_engine.h"

namespace orv {

class UdpSearchTransport : public SearchTransport {
 public:
  // Receive buffer asked for, enough for a burst of answers from a thousand
  // devices; 0 keeps the kernel's default.
  static constexpr int kDefaultRcvBuf = 4 * 1024 * 1024;

  explicit UdpSearchTransport(int rcvBufBytes = kDefaultRcvBuf);
  ~UdpSearchTransport() override;
  UdpSearchTransport(const UdpSearchTransport&) = delete;
  UdpSearchTransport& operator=(const UdpSearchTransport&) = delete;

  bool Open(uint32_t localAddr, uint16_t port, OpenStage& stage, SocketError& error) override;
  bool SetBroadcast(SocketError& error) override;
  bool SendTo(uint32_t addr, uint16_t port, std::span<const uint8_t> data, SocketError& error) override;
  RecvResult Recv(std::span<uint8_t> buffer, int timeoutMs) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  void Interrupt() override;

  // Receive buffer size the kernel reports after Open (bytes, 0 if closed).
  int EffectiveRcvBuf() const { return effectiveRcvBuf_; }
  // When the search port is taken (another run searching), Open waits up to
  // ms for it, calling onWait once with what it waits for. Default: no wait.
  void SetBindWait(int ms, std::function<void(const std::string&)> onWait) {
    bindWaitMs_ = ms;
    onBindWait_ = std::move(onWait);
  }

 private:
  int rcvBufBytes_;
  int bindWaitMs_ = 0;
  std::function<void(const std::string&)> onBindWait_;
  int fd_ = -1;
  int wake_ = -1;  // eventfd: set by Interrupt, cleared by Open
  int effectiveRcvBuf_ = 0;
};

}  // namespace orv

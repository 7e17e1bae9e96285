#pragma once
// Test doubles and a small request builder for the device-side command logic.
#include <cstdint>
#include <string>
#include <vector>

#include "command_protocol.h"
#include "session.h"

namespace orv::devsim::test {

struct FakeControl : DeviceControl {
  int restarts = 0;
  int lastOfflineMs = -1;
  int factoryResets = 0;
  int pendingCalls = 0;
  Ip4 pendingIp{}, pendingMask{}, pendingGw{};
  std::vector<std::string> notes;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<std::string> events;  // order of restart/reset calls

  void Restart(int offlineMs) override {
    ++restarts;
    lastOfflineMs = offlineMs;
    events.push_back("restart");
  }
  void SetPendingAddress(const Ip4& ip, const Ip4& m, const Ip4& g) override {
    ++pendingCalls;
    pendingIp = ip;
    pendingMask = m;
    pendingGw = g;
  }
  void FactoryReset() override {
    ++factoryResets;
    events.push_back("factory");
  }
  void LogFrame(const char*, const uint8_t* d, size_t n) override { frames.emplace_back(d, d + n); }
  void LogNote(const std::string& t) override { notes.push_back(t); }
};

// Request frame as the client builds it: header, unit 1, wire code, two
// 16-bit fields, and for the multiple writes the byte count and data.
inline std::vector<uint8_t> Req(uint16_t tid, uint8_t fc, uint16_t addr, uint16_t count,
                                const std::vector<uint8_t>& data = {}) {
  bool multi = fc == kFcWriteCoils || fc == kFcWriteRegisters;
  uint16_t length = static_cast<uint16_t>(multi ? 7 + data.size() : 6);
  std::vector<uint8_t> f = {static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid), 0, 0,
                            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 1, fc,
                            static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr),
                            static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
  if (multi) {
    f.push_back(static_cast<uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
  }
  return f;
}

// The client's password encoding for a given tick.
inline std::vector<uint8_t> LoginBlock(const std::string& password, uint32_t tick) {
  std::vector<uint8_t> b(10, 0);
  for (size_t i = 0; i < password.size() && i < 8; ++i) b[i] = static_cast<uint8_t>(password[i]);
  int k = static_cast<int>(tick % 8);
  if (k == 0) k = 8;
  b[8] = static_cast<uint8_t>((tick & 0xF0) | k);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>((tick & 0x80) ? b[i] + k : b[i] - k);
  return b;
}

inline Device MakeDevice() {
  Device d;
  d.hwid = 0x0115;
  d.apid = 0x80000115;
  d.mac = {0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
  d.ip = {10, 77, 0, 11};
  d.netmask = {255, 255, 255, 0};
  d.gateway = {10, 77, 0, 1};
  const std::string name = "rtu-north";
  d.serverName.assign(name.begin(), name.end());
  return d;
}

}  // namespace orv::devsim::test

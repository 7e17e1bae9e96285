#pragma once
// The device end of the command protocol as the client tests need it: checks
// the password block, answers the registers the commands use, and refuses or
// ignores chosen requests. Runs behind a ScriptedPeer on loopback.
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "comm/scripted_peer.h"
#include "devices/password.h"

namespace orv::test {

struct FakeDevice {
  std::string password = kDefaultPassword;
  uint8_t addressMode = 0;
  Bytes exportText;
  // (function code, wire address) pairs answered with an exception / never.
  std::set<std::pair<uint8_t, uint16_t>> refuse;
  std::set<std::pair<uint8_t, uint16_t>> silent;
  int failAtBlock = 0;  // firmware block number (1-based) that is refused

  std::mutex mutex;
  std::vector<std::string> logins;  // decoded passwords, in order
  int fwBlocks = 0;
  size_t exportPos = 0;

  PeerAction Handle(const Bytes& f) {
    std::lock_guard<std::mutex> lock(mutex);
    const uint8_t fc = f[7];
    const uint16_t addr = static_cast<uint16_t>(f[8] << 8 | f[9]);
    const uint16_t count = static_cast<uint16_t>(f[10] << 8 | f[11]);
    if (silent.count({fc, addr})) return PeerAction::NoReply();
    if (fc == 116 && addr == 0x8133 && f.size() == 23) {
      std::string pw;
      const bool ok = DecodePassword(f.data() + 13, pw);
      logins.push_back(ok ? pw : std::string("<bad block>"));
      if (!ok || pw != password.substr(0, 8)) return PeerAction::Send(ExceptionReply(f));
    }
    if (refuse.count({fc, addr})) return PeerAction::Send(ExceptionReply(f));
    if (fc == 116 && addr == 0x8210) {
      ++fwBlocks;
      if (fwBlocks == failAtBlock) return PeerAction::Send(ExceptionReply(f));
    }
    if (fc == 103 && addr == 0x8138) return PeerAction::Send(NormalReply(f, {0, addressMode}));
    if (fc == 103 && addr == 0x8080) {
      const size_t n = exportText.size();
      return PeerAction::Send(
          NormalReply(f, {static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)}));
    }
    if (fc == 103 && addr == 0x8081) {
      Bytes chunk;
      for (size_t i = 0; i < 2u * count; ++i) {
        chunk.push_back(exportPos + i < exportText.size() ? exportText[exportPos + i] : 0);
      }
      exportPos += std::min<size_t>(2u * count, exportText.size() - exportPos);
      return PeerAction::Send(NormalReply(f, chunk));
    }
    return PeerAction::Send(NormalReply(f));
  }
};

}  // namespace orv::test

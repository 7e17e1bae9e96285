#pragma once
// The command connection of a device module: a TCP client socket with host
// and port, plus the one worker thread that does its blocking work (connect
// and request/reply exchanges) while the caller waits.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace orv {

class SocketWorker;

class ClientSocket {
 public:
  ClientSocket();
  ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  void SetHost(const std::string& host);  // dotted IPv4 address
  const std::string& Host() const { return host_; }
  void SetPort(uint16_t port) { port_ = port; }
  uint16_t Port() const { return port_; }
  void SetBlocking(bool blocking) { blocking_ = blocking; }  // the module's "blocking" mode
  bool Blocking() const { return blocking_; }

  bool Connected() const { return fd_.load() >= 0; }
  // Closes the connection (if open) and stops the worker thread. Caller's
  // thread only, never while an operation of the worker is pending.
  void Close();

  // --- used by the worker and the exchange ---
  // Connects within limitMs; abortFd (an eventfd, or -1) becoming readable
  // aborts. Returns true when connected.
  bool Open(int abortFd, int32_t limitMs);
  // Closes the file descriptor only (the worker keeps running).
  void CloseConnection();
  int Fd() const { return fd_.load(); }
  // Per-direction time limits, applied to the descriptor only when they change.
  void ApplyTimeLimit(int32_t limitMs);
  // Set after an exchange that may have left reply bytes unread (time-out or
  // early stop); the next exchange discards what is pending first.
  bool dirty = false;

  SocketWorker& Worker();

 private:
  std::string host_;
  uint16_t port_ = 0;
  bool blocking_ = false;
  std::atomic<int> fd_{-1};
  int32_t appliedLimitMs_ = -1;
  std::unique_ptr<SocketWorker> worker_;
};

}  // namespace orv

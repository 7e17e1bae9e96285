#pragma once
// Boundary between the simulator's event loop and the TCP command service of a
// device. The loop owns sockets and timers; a Session only sees bytes coming in
// and talks back through its Link and its device's DeviceControl. All calls
// happen on the loop thread; a Session must never block.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device.h"

namespace orv::devsim {

// What a command may do to its device as a whole.
class DeviceControl {
 public:
  virtual ~DeviceControl() = default;
  // Drops every connection of the device (this one too, after the current
  // OnData returns), makes it unreachable (no TCP listener, no search
  // answers) for offlineMs, then brings it back, applying a pending address.
  virtual void Restart(int offlineMs) = 0;
  // Stores an address to take effect at the next Restart.
  virtual void SetPendingAddress(const Ip4& ip, const Ip4& netmask, const Ip4& gateway) = 0;
  // Restores Device::factory (password, address mode, configuration) now and
  // makes the factory address pending; the caller restarts the device.
  virtual void FactoryReset() = 0;
  // Appends one line to the device's request log: "<time> <device> <tag> <hex>".
  // The discovery side uses the tag "udp"; the command side should use "tcp".
  virtual void LogFrame(const char* tag, const uint8_t* data, size_t len) = 0;
  // A free-form line in the same log (e.g. "firmware installed 2.0.1").
  virtual void LogNote(const std::string& text) = 0;
};

// One accepted TCP connection.
class Link {
 public:
  virtual ~Link() = default;
  // Queues bytes; they are written in order as the socket allows.
  virtual void Send(const uint8_t* data, size_t len) = 0;
  // Writes what is queued, then closes. Nothing is delivered afterwards.
  virtual void Close() = 0;
  // Closes at once, dropping queued bytes (a reset, as a crashing device).
  virtual void Abort() = 0;
  // Runs fn after ms milliseconds on the loop thread, unless the link has been
  // closed by then (timers die with the link).
  virtual void After(int ms, std::function<void()> fn) = 0;
};

// The per-connection protocol handler.
class Session {
 public:
  virtual ~Session() = default;
  // Bytes received on the connection (any split: frames may arrive in pieces).
  virtual void OnData(const uint8_t* data, size_t len) = 0;
  // The peer closed its side. Default: close ours too.
  virtual void OnPeerClosed(Link& link) { link.Close(); }
};

// Creates the command handler for one new connection. Device, Link and
// DeviceControl outlive the Session; the loop destroys the Session after the
// link has closed, never from inside one of its own calls.
std::unique_ptr<Session> MakeCommandSession(Device& device, Link& link, DeviceControl& control);
// The same for a connection to the device's console (telnet, TCP port 23).
std::unique_ptr<Session> MakeTelnetSession(Device& device, Link& link, DeviceControl& control);

}  // namespace orv::devsim

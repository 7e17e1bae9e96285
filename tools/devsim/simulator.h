#pragma once
// One process, many devices: each device's sockets are created inside its own
// network namespace, then a single epoll loop serves them all.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device.h"

namespace orv::devsim {

struct SimulatorOptions {
  std::string logDir;          // request logs <logDir>/<MAC>.log; empty: no logs
  std::string bindAddress = "0.0.0.0";
  int udpPort = 4800;          // 0: any free port (for tests outside namespaces)
  int tcpPort = 502;
  int telnetPort = 23;         // the console service; -1: none
  std::string netnsPrefix;     // device i (1-based) lives in netnsPrefix + i unless its entry names one
  bool moveAddresses = true;   // on a restart with a new address, change it in the device's namespace
  uint32_t seed = 0;           // 0: random
};

struct DeviceEndpoint {
  std::string mac;
  std::string netns;
  int udpPort = 0;
  int tcpPort = 0;
  int telnetPort = 0;          // 0 when the device has no console service
};

class Simulator {
 public:
  Simulator(std::vector<Device> devices, SimulatorOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates every device's sockets and log; throws std::runtime_error naming
  // the device on the first failure.
  void Open();
  std::vector<DeviceEndpoint> Endpoints() const;
  // Serves until SIGINT/SIGTERM (blocked and read through a signalfd) or Stop().
  void Run();
  // Callable from another thread or a signal handler.
  void Stop();

  struct Impl;  // internal; public only so the loop's helpers can name it

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv::devsim

// devsim: simulated field devices for the lab. Serves every device of a fleet
// file from one process; see tools/lab/lab for how it is started.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "fleet.h"
#include "simulator.h"

namespace {

const char kUsage[] =
    "usage: devsim --fleet FILE [options]\n"
    "  --fleet FILE          fleet file (JSON list of devices)\n"
    "  --logdir DIR          write every received request to DIR/<MAC>.log\n"
    "  --ready FILE          write FILE (JSON: pid, devices and their ports) once serving\n"
    "  --netns-prefix P      device N (1-based) lives in network namespace P<N>\n"
    "                        unless its entry names one; without it: this namespace\n"
    "  --bind ADDR           local address of the device sockets (default 0.0.0.0)\n"
    "  --udp-port N          search port (default 4800; 0 = any free port)\n"
    "  --tcp-port N          command port (default 502; 0 = any free port)\n"
    "  --telnet-port N       console port (default 23; 0 = any free port; -1 = none)\n"
    "  --seed N              seed of the answer delays (default random)\n"
    "  --no-move             on an address change, do not touch the namespace's interface\n"
    "  --list                check the fleet file and print one line per device:\n"
    "                        NUMBER MAC ADDRESS PREFIX NAMESPACE (tab-separated), then exit\n";

int Port(const char* s) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < 0 || v > 65535) {
    std::fprintf(stderr, "devsim: bad port \"%s\"\n", s);
    std::exit(2);
  }
  return static_cast<int>(v);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orv::devsim;
  std::string fleetPath, readyPath;
  bool listOnly = false;
  SimulatorOptions opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "devsim: %s needs a value\n%s", a.c_str(), kUsage);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--fleet") fleetPath = value();
    else if (a == "--logdir") opt.logDir = value();
    else if (a == "--ready") readyPath = value();
    else if (a == "--netns-prefix") opt.netnsPrefix = value();
    else if (a == "--bind") opt.bindAddress = value();
    else if (a == "--udp-port") opt.udpPort = Port(value());
    else if (a == "--tcp-port") opt.tcpPort = Port(value());
    else if (a == "--telnet-port") {
      const char* v = value();
      opt.telnetPort = std::string(v) == "-1" ? -1 : Port(v);
    }
    else if (a == "--seed") opt.seed = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    else if (a == "--no-move") opt.moveAddresses = false;
    else if (a == "--list") listOnly = true;
    else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "devsim: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (fleetPath.empty()) {
    std::fprintf(stderr, "devsim: --fleet is required\n%s", kUsage);
    return 2;
  }

  // Three descriptors per device (search socket, listener, log) plus connections.
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }

  try {
    auto devices = LoadFleet(fleetPath);
    if (listOnly) {
      for (const auto& d : devices) {
        const Ip4 m = d.netmask;
        int prefix = __builtin_popcount(uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3]);
        std::string ns = !d.netns.empty() ? d.netns
                         : opt.netnsPrefix.empty() ? "-" : opt.netnsPrefix + std::to_string(d.index + 1);
        std::printf("%zu\t%s\t%s\t%d\t%s\n", d.index + 1, d.MacText().c_str(), IpText(d.LiveAddress()).c_str(),
                    prefix, ns.c_str());
      }
      return 0;
    }
    const size_t count = devices.size();
    Simulator sim(std::move(devices), opt);
    sim.Open();
    if (!readyPath.empty()) {
      nlohmann::json j;
      j["pid"] = getpid();
      j["devices"] = nlohmann::json::array();
      for (const auto& e : sim.Endpoints())
        j["devices"].push_back({{"mac", e.mac}, {"netns", e.netns}, {"udp_port", e.udpPort}, {"tcp_port", e.tcpPort}, {"telnet_port", e.telnetPort}});
      const std::string tmp = readyPath + ".tmp";
      {
        std::ofstream out(tmp);
        out << j.dump(1) << "\n";
        if (!out) throw std::runtime_error("cannot write " + tmp);
      }
      if (std::rename(tmp.c_str(), readyPath.c_str()) != 0)
        throw std::runtime_error("cannot write " + readyPath + ": " + std::strerror(errno));
    }
    std::printf("devsim: serving %zu devices\n", count);
    std::fflush(stdout);
    sim.Run();
    std::printf("devsim: stopped\n");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "devsim: %s\n", e.what());
    return 1;
  }
}

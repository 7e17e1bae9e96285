// orvistarctl route: static ARP entries and host routes to devices, by hand.
// Entries made here carry the operator tag, so the clean-up that runs when
// the program or a batch command starts leaves them alone; only
// `route remove` takes them away again.
#include <netlink/errno.h>

#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "host/interfaces.h"
#include "host/routes.h"
#include "host/settings.h"

namespace orv::cli {
namespace {

uint32_t DeviceAddressArg(const std::string& text) {
  uint32_t a = 0;
  if (!ParseIPv4(text, &a)) throw UsageError("'" + text + "' is not a dotted IPv4 address");
  if (!IsDeviceAddress(a))
    throw UsageError("'" + text + "' is not a unicast device address");
  return a;
}

bool RequireRights() {
  if (CanChangeRoutes()) return true;
  std::cerr << RouteRightsHint() << "\n";
  return false;
}

int RunAdd(const std::vector<std::string>& args) {
  std::string nic, device, mac;
  for (size_t i = 0; i < args.size(); ++i) {
    if (TakeOption(args, i, "--nic", nic)) continue;
    if (!args[i].empty() && args[i][0] == '-') throw UsageError("unknown option '" + args[i] + "'");
    if (device.empty()) device = args[i];
    else if (mac.empty()) mac = args[i];
    else throw UsageError("unexpected argument '" + args[i] + "'");
  }
  if (device.empty()) throw UsageError("route add needs DEVICE-IP");
  DeviceAddressArg(device);
  uint8_t bytes[6];
  if (!mac.empty() && !ParseMacText(mac, bytes))
    throw UsageError("'" + mac + "' is not a MAC address of the form 00-1A-2B-3C-4D-5E");
  uint32_t nicAddr = 0;
  if (!nic.empty() && !ParseIPv4(nic, &nicAddr))
    throw UsageError("'" + nic + "' is not a dotted IPv4 address");

  if (nic.empty()) {
    std::vector<tIPNODE> list;
    EnumHostInterfaces(list);
    nic = ChooseNicIP(list, ReadRegString(szRegKeySystem, "NIC_IP", ""), nullptr);
    if (nic.empty()) {
      std::cerr << "route add: no usable host interface (see orvistarctl interfaces)\n";
      return kExitFailed;
    }
  }
  if (!RequireRights()) return kExitFailed;
  int rc = AddOperatorRoute(nic, device, mac);
  if (rc == -NLE_NODEV) {
    std::cerr << "route add: no host interface has the address " << nic << "\n";
    return kExitFailed;
  }
  if (rc < 0) {
    std::cerr << "route add: " << nl_geterror(rc) << "\n";
    return kExitFailed;
  }
  std::cout << "Added host route " << device << "/32 through " << nic;
  if (!mac.empty()) std::cout << " with static ARP entry " << mac;
  std::cout << "\n";
  return kExitOk;
}

int RunRemove(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("route remove needs exactly one DEVICE-IP");
  uint32_t a = 0;
  if (!ParseIPv4(args[0], &a)) throw UsageError("'" + args[0] + "' is not a dotted IPv4 address");
  if (!RequireRights()) return kExitFailed;
  int removed = 0;
  int rc = RemoveTaggedRoutesTo(args[0], &removed);
  if (rc < 0) {
    std::cerr << "route remove: " << nl_geterror(rc) << "\n";
    return kExitFailed;
  }
  if (removed == 0) {
    std::cerr << "route remove: no route to " << args[0] << " carries this program's tag\n";
    return kExitFailed;
  }
  std::cout << "Removed " << removed << " route(s) to " << args[0] << "\n";
  return kExitOk;
}

int RunList(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("unexpected argument '" + args[0] + "'");
  std::vector<TaggedRoute> routes;
  if (!ListTaggedRoutes(&routes)) {
    std::cerr << "route list: the routing table could not be read\n";
    return kExitFailed;
  }
  std::printf("%-15s  %-15s  %-15s  %-6s  %-8s  %s\n", "DEVICE", "INTERFACE", "SOURCE", "METRIC",
              "ORIGIN", "MAC");
  for (const auto& r : routes) {
    std::printf("%-15s  %-15s  %-15s  %-6u  %-8s  %s\n", r.szDeviceIP.c_str(),
                r.szInterface.c_str(), r.szSource.c_str(), r.nMetric,
                r.nProtocol == RTPROT_ORVISTAR_OPERATOR ? "operator" : "program", r.szMAC.c_str());
  }
  return kExitOk;
}

int RunClean(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("unexpected argument '" + args[0] + "'");
  if (!RequireRights()) return kExitFailed;
  int n = RemoveStaleDeviceRoutes();
  std::cout << "Removed " << n << " stale route(s)\n";
  return kExitOk;
}

int RunRoute(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("route needs add, remove, list or clean");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "add") return RunAdd(rest);
  if (args[0] == "remove") return RunRemove(rest);
  if (args[0] == "list") return RunList(rest);
  if (args[0] == "clean") return RunClean(rest);
  throw UsageError("unknown route action '" + args[0] + "'");
}

CliCommand reg{
    {"route", "add, remove or list host routes and ARP entries to devices",
     "Usage: orvistarctl route add DEVICE-IP [MAC] [--nic ADDR]\n"
     "       orvistarctl route remove DEVICE-IP\n"
     "       orvistarctl route list\n"
     "       orvistarctl route clean\n\n"
     "add     makes DEVICE-IP reachable through the host interface ADDR (default:\n"
     "        the chosen interface, see orvistarctl interfaces): an on-link /32\n"
     "        route with metric 20 and, when MAC (00-1A-2B-3C-4D-5E) is given, a\n"
     "        permanent ARP entry. These entries stay until `route remove`.\n"
     "remove  deletes the routes to DEVICE-IP that carry this program's tag, with\n"
     "        their permanent ARP entries.\n"
     "list    shows the routes carrying this program's tag: ORIGIN \"operator\" for\n"
     "        entries made here, \"program\" for those of a running (or crashed)\n"
     "        program, with the ARP entry's MAC when there is one.\n"
     "clean   removes \"program\" routes left by a run that ended without\n"
     "        clean-up (nothing while a program run is alive).\n\n"
     "Changing entries needs CAP_NET_ADMIN (root, or setcap cap_net_admin+ep).\n"
     "Exit status: 0 done, 1 failed, 2 bad arguments.\n",
     RunRoute}};

}  // namespace
}  // namespace orv::cli

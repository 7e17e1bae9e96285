// orvistarctl interfaces: the host interface table and which one the program
// would work through. Read-only: the stored choice is shown, never rewritten.
#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "host/interfaces.h"
#include "host/settings.h"

namespace orv::cli {
namespace {

std::string TypeText(uint32_t t) {
  switch (t) {
    case IF_TYPE_ETHERNET_CSMACD: return "6 Ethernet";
    case IF_TYPE_SOFTWARE_LOOPBACK: return "24 loopback";
    case IF_TYPE_IEEE80211: return "71 wireless";
    case IF_TYPE_PPP: return "23 PPP";
    case IF_TYPE_TUNNEL: return "131 tunnel";
    default: return std::to_string(t) + " other";
  }
}

std::string StatusText(uint32_t s) {
  switch (s) {
    case IF_OPER_STATUS_NON_OPERATIONAL: return "0 down";
    case IF_OPER_STATUS_DISCONNECTED: return "2 no-carrier";
    case IF_OPER_STATUS_OPERATIONAL: return "5 up";
    default: return std::to_string(s);
  }
}

int RunInterfaces(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("unexpected argument '" + args[0] + "'");
  std::vector<tIPNODE> list;
  EnumHostInterfaces(list);
  const std::string stored = ReadRegString(szRegKeySystem, "NIC_IP", "");
  bool kept = false;
  const std::string chosen = ChooseNicIP(list, stored, &kept);

  std::printf("%-15s  %-28s  %-11s  %-12s  %-6s  %s\n", "ADDRESS", "DESCRIPTION", "TYPE", "STATUS",
              "USABLE", "CHOSEN");
  for (const auto& n : list) {
    std::printf("%-15s  %-28s  %-11s  %-12s  %-6s  %s\n", n.szIP.c_str(), n.szDescr.c_str(),
                TypeText(n.nType).c_str(), StatusText(n.nOperStatus).c_str(),
                IsUsableInterface(n) ? "yes" : "no",
                IsUsableInterface(n) && n.szIP == chosen ? "*" : "");
  }
  if (chosen.empty()) {
    std::cout << "No usable interface: a search cannot start.\n";
  } else if (!kept) {
    std::cout << "Stored NIC_IP \"" << stored << "\" names no usable interface; " << chosen
              << " will be chosen and stored at the next start of the program.\n";
  }
  return kExitOk;
}

CliCommand reg{{"interfaces", "list the host's IPv4 interfaces and the chosen one",
                "Usage: orvistarctl interfaces\n\n"
                "Lists every host interface that has an IPv4 address, in interface-index\n"
                "order, with its lowest address, description, type, status, whether the\n"
                "program may use it (up and not the loopback) and which one it chooses:\n"
                "the stored NIC_IP setting when that names a usable interface, else the\n"
                "first usable one. The setting is not changed.\n",
                RunInterfaces}};

}  // namespace
}  // namespace orv::cli

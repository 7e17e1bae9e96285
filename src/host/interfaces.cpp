#include "host/interfaces.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "common/trace.h"
#include "host/netlink_util.h"
#include "host/routes.h"
#include "host/settings.h"

namespace orv {

std::vector<tIPNODE> IPNodeList;
std::string szNicIP;

namespace {

uint32_t PrefixToMask(int prefixlen) {
  if (prefixlen <= 0) return 0;
  if (prefixlen >= 32) return 0xFFFFFFFFu;
  return htonl(~((1u << (32 - prefixlen)) - 1u));
}

bool IsWirelessName(const std::string& name) {
  // A wireless NIC carries these sysfs entries; rtnetlink has no flag for it.
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
    return false;
  struct stat st;
  const std::string base = "/sys/class/net/" + name;
  return stat((base + "/wireless").c_str(), &st) == 0 || stat((base + "/phy80211").c_str(), &st) == 0;
}

uint32_t TypeOf(const HostLinkRow& l) {
  if (l.nArpType == ARPHRD_LOOPBACK || (l.nFlags & IFF_LOOPBACK)) return IF_TYPE_SOFTWARE_LOOPBACK;
  if (l.bWireless || l.nArpType == ARPHRD_IEEE80211) return IF_TYPE_IEEE80211;
  if (l.nArpType == ARPHRD_ETHER) return IF_TYPE_ETHERNET_CSMACD;
  if (l.nArpType == ARPHRD_PPP) return IF_TYPE_PPP;
  switch (l.nArpType) {
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_IPGRE:
    case ARPHRD_SIT:
    case ARPHRD_NONE:
      return IF_TYPE_TUNNEL;
    default:
      return IF_TYPE_OTHER;
  }
}

std::string KindText(const HostLinkRow& l, uint32_t type) {
  if (!l.szKind.empty()) return l.szKind;
  switch (type) {
    case IF_TYPE_SOFTWARE_LOOPBACK: return "loopback";
    case IF_TYPE_IEEE80211: return "wireless";
    case IF_TYPE_ETHERNET_CSMACD: return "Ethernet";
    case IF_TYPE_PPP: return "PPP";
    case IF_TYPE_TUNNEL: return "tunnel";
    default: return "other";
  }
}

uint32_t StatusOf(unsigned flags) {
  if (!(flags & IFF_UP)) return IF_OPER_STATUS_NON_OPERATIONAL;
  // IFF_RUNNING follows the operational state (up, or unknown for drivers
  // that do not report one, like the loopback and dummies).
  if (flags & IFF_RUNNING) return IF_OPER_STATUS_OPERATIONAL;
  return IF_OPER_STATUS_DISCONNECTED;
}

}  // namespace

bool IsUsableInterface(const tIPNODE& node) {
  return node.nOperStatus != IF_OPER_STATUS_NON_OPERATIONAL &&
         node.nType != IF_TYPE_SOFTWARE_LOOPBACK;
}

bool ReadHostTables(std::vector<HostLinkRow>* links, std::vector<HostAddrRow>* addrs) {
  ORV_TRACE("ReadHostTables");
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return false;

  if (links) {
    nl_cache* raw = nullptr;
    if (rtnl_link_alloc_cache(sk.get(), AF_UNSPEC, &raw) < 0) return false;
    nl::Cache cache(raw);
    for (nl_object* o = nl_cache_get_first(cache.get()); o; o = nl_cache_get_next(o)) {
      auto* link = reinterpret_cast<rtnl_link*>(o);
      HostLinkRow row;
      row.nIndex = rtnl_link_get_ifindex(link);
      if (const char* n = rtnl_link_get_name(link)) row.szName = n;
      if (const char* k = rtnl_link_get_type(link)) row.szKind = k;
      row.nArpType = rtnl_link_get_arptype(link);
      row.nFlags = rtnl_link_get_flags(link);
      row.bWireless = row.szKind.empty() && IsWirelessName(row.szName);
      links->push_back(std::move(row));
    }
    std::sort(links->begin(), links->end(),
              [](const HostLinkRow& a, const HostLinkRow& b) { return a.nIndex < b.nIndex; });
  }

  if (addrs) {
    nl_cache* raw = nullptr;
    if (rtnl_addr_alloc_cache(sk.get(), &raw) < 0) return false;
    nl::Cache cache(raw);
    for (nl_object* o = nl_cache_get_first(cache.get()); o; o = nl_cache_get_next(o)) {
      auto* a = reinterpret_cast<rtnl_addr*>(o);
      if (rtnl_addr_get_family(a) != AF_INET) continue;
      HostAddrRow row;
      if (!nl::Ipv4Of(rtnl_addr_get_local(a), &row.nAddr)) continue;
      row.nIndex = rtnl_addr_get_ifindex(a);
      row.nMask = PrefixToMask(rtnl_addr_get_prefixlen(a));
      addrs->push_back(row);
    }
    std::stable_sort(addrs->begin(), addrs->end(), [](const HostAddrRow& a, const HostAddrRow& b) {
      return ntohl(a.nAddr) < ntohl(b.nAddr);
    });
  }
  return true;
}

void BuildInterfaceTable(const std::vector<HostLinkRow>& links,
                         const std::vector<HostAddrRow>& addrs, std::vector<tIPNODE>& list) {
  ORV_TRACE("BuildInterfaceTable");
  for (const auto& l : links) {
    auto it = std::find_if(addrs.begin(), addrs.end(),
                           [&](const HostAddrRow& a) { return a.nIndex == l.nIndex; });
    if (it == addrs.end()) continue;
    tIPNODE node;
    node.szIP = IPToText(it->nAddr);
    node.nType = TypeOf(l);
    node.szDescr = l.szName + " (" + KindText(l, node.nType) + ")";
    node.nOperStatus = StatusOf(l.nFlags);
    list.push_back(std::move(node));
  }
}

void EnumHostInterfaces(std::vector<tIPNODE>& list) {
  ORV_TRACE("EnumHostInterfaces");
  std::vector<HostLinkRow> links;
  std::vector<HostAddrRow> addrs;
  if (!ReadHostTables(&links, &addrs)) return;
  BuildInterfaceTable(links, addrs, list);
}

std::string ChooseNicIP(const std::vector<tIPNODE>& list, const std::string& stored,
                        bool* keptStored) {
  std::string first;
  for (const auto& n : list) {
    if (!IsUsableInterface(n)) continue;
    if (first.empty()) first = n.szIP;
    if (n.szIP == stored) {
      if (keptStored) *keptStored = true;
      return stored;
    }
  }
  if (keptStored) *keptStored = false;
  return first;
}

std::string PeekNicIP() {
  std::vector<tIPNODE> list;
  EnumHostInterfaces(list);
  bool kept = false;
  return ChooseNicIP(list, ReadRegString(szRegKeySystem, "NIC_IP", ""), &kept);
}

std::string RefreshHostInterfaces() {
  ORV_TRACE("RefreshHostInterfaces");
  // Entries recorded since the last refresh would otherwise stay in the host
  // tables for good once their record is gone.
  RemoveAllDeviceRoutes();
  RouteNodeList.clear();

  IPNodeList.clear();
  EnumHostInterfaces(IPNodeList);

  const std::string stored = ReadRegString(szRegKeySystem, "NIC_IP", "");
  bool kept = false;
  szNicIP = ChooseNicIP(IPNodeList, stored, &kept);
  if (!kept) WriteRegString(szRegKeySystem, "NIC_IP", szNicIP);
  return szNicIP;
}

void ReleaseHostInterfaces() {
  ORV_TRACE("ReleaseHostInterfaces");
  IPNodeList.clear();
  RemoveAllDeviceRoutes();
  RouteNodeList.clear();
}

std::string MacToText(const uint8_t mac[6]) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return buf;
}

std::string IPToText(uint32_t addr) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = addr;
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

bool ParseIPv4(const std::string& text, uint32_t* addr) {
  // inet_pton takes exactly four decimal parts, no shorthand, no octal.
  if (text.empty() || text.size() >= INET_ADDRSTRLEN) return false;
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *addr = a.s_addr;
  return true;
}

NicChoiceList BuildNicChoices(const std::vector<tIPNODE>& list, const std::string& nicIP) {
  ORV_TRACE("TfmNIC::FormCreate");
  NicChoiceList c;
  for (const auto& n : list) {
    if (!IsUsableInterface(n)) continue;
    c.entries.push_back({n.szDescr, n.szIP});
    if (n.szIP == nicIP) c.nSelected = static_cast<int>(c.entries.size()) - 1;
  }
  if (c.nSelected < 0 && !c.entries.empty()) c.nSelected = 0;
  return c;
}

bool ApplyNicChoice(const NicChoiceList& choices, int index) {
  ORV_TRACE("TfmNIC::btnOKClick");
  if (index < 0 || static_cast<size_t>(index) >= choices.entries.size()) return false;
  const std::string& ip = choices.entries[static_cast<size_t>(index)].szIP;
  WriteRegString(szRegKeySystem, "NIC_IP", ip);
  szNicIP = ip;
  return true;
}

}  // namespace orv

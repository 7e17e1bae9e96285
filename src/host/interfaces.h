#pragma once
// Host network interfaces: the IPv4 interface table read through rtnetlink,
// the usable-interface rule, the choice of the search interface (szNicIP,
// kept in step with the "NIC_IP" setting) and the selection list offered to
// the user. Everything runs on one thread; nothing here is locked.
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

// Interface type numbers (the interface-MIB ifType values the rest of the
// program knows). Every Ethernet-framed link (NIC, bridge, bond, VLAN, veth,
// dummy) is Ethernet.
constexpr uint32_t IF_TYPE_OTHER = 1;
constexpr uint32_t IF_TYPE_ETHERNET_CSMACD = 6;
constexpr uint32_t IF_TYPE_PPP = 23;
constexpr uint32_t IF_TYPE_SOFTWARE_LOOPBACK = 24;
constexpr uint32_t IF_TYPE_IEEE80211 = 71;
constexpr uint32_t IF_TYPE_TUNNEL = 131;

// Operational status numbers; only 0 makes an interface unusable.
constexpr uint32_t IF_OPER_STATUS_NON_OPERATIONAL = 0;  // administratively down
constexpr uint32_t IF_OPER_STATUS_DISCONNECTED = 2;     // up, no carrier
constexpr uint32_t IF_OPER_STATUS_OPERATIONAL = 5;      // up and running

// One host interface with an IPv4 address.
struct tIPNODE {
  std::string szIP;      // lowest IPv4 address of the interface, dotted
  std::string szDescr;   // "name (kind)", e.g. "enp3s0 (Ethernet)", "br0 (bridge)"
  uint32_t nType = 0;    // IF_TYPE_*
  uint32_t nOperStatus = 0;  // IF_OPER_STATUS_*
};

// Rebuilt by RefreshHostInterfaces, emptied by ReleaseHostInterfaces.
extern std::vector<tIPNODE> IPNodeList;
// The chosen interface address (dotted, possibly empty).
extern std::string szNicIP;

// Usable: operational status not 0 and not the loopback.
bool IsUsableInterface(const tIPNODE& node);

// Raw rows as the kernel reports them. Kept apart from the table rules so the
// rules can be checked without a host.
struct HostLinkRow {
  int nIndex = 0;
  std::string szName;
  std::string szKind;      // rtnetlink link kind ("bridge", "veth", ...), empty for hardware
  unsigned nArpType = 0;   // ARPHRD_*
  unsigned nFlags = 0;     // IFF_*
  bool bWireless = false;
};
struct HostAddrRow {
  int nIndex = 0;
  uint32_t nAddr = 0;  // network byte order
  uint32_t nMask = 0;  // network byte order
};

// Reads the link table (by interface index) and the IPv4 address table
// (ascending by address). Either pointer may be null. False when a query
// failed; the vectors then hold what was read before the failure.
bool ReadHostTables(std::vector<HostLinkRow>* links, std::vector<HostAddrRow>* addrs);

// Appends one record per link that has an IPv4 address, in index order, with
// the lowest of its addresses.
void BuildInterfaceTable(const std::vector<HostLinkRow>& links,
                         const std::vector<HostAddrRow>& addrs, std::vector<tIPNODE>& list);

// Appends the host's interfaces to `list`; on a failing query the list is left
// as far as it got.
void EnumHostInterfaces(std::vector<tIPNODE>& list);

// The choice rule: the stored address when it names a usable interface
// (*keptStored = true), else the first usable interface's address (or "").
std::string ChooseNicIP(const std::vector<tIPNODE>& list, const std::string& stored,
                        bool* keptStored);

// The choice RefreshHostInterfaces would make, from a fresh enumeration,
// without storing it or touching IPNodeList (for the command line, which
// never writes the settings). Throws RegistryError like the refresh.
std::string PeekNicIP();

// Removes the device entries recorded so far and starts a new record, rebuilds
// IPNodeList and chooses szNicIP from "NIC_IP" (written back when the stored
// address was not kept). Returns szNicIP. Throws RegistryError when "NIC_IP"
// holds an integer.
std::string RefreshHostInterfaces();

// Exit-time clean-up: empties IPNodeList and removes every recorded device entry.
void ReleaseHostInterfaces();

// "%02X-%02X-%02X-%02X-%02X-%02X".
std::string MacToText(const uint8_t mac[6]);
// Network-byte-order address to dotted decimal.
std::string IPToText(uint32_t addr);
// Strict dotted quad ("a.b.c.d", each 0..255) to a network-byte-order address.
bool ParseIPv4(const std::string& text, uint32_t* addr);

// The interface selection list: one entry per usable interface, in table order.
struct NicEntry {
  std::string szDescr;
  std::string szIP;
};
struct NicChoiceList {
  std::vector<NicEntry> entries;
  int nSelected = -1;  // last entry whose address equals szNicIP, else 0; -1 when empty
};
NicChoiceList BuildNicChoices(const std::vector<tIPNODE>& list, const std::string& nicIP);
// OK in the selection dialog: stores the address of entry `index` in "NIC_IP"
// and szNicIP. With no valid entry (empty list) nothing changes and the result
// is false.
bool ApplyNicChoice(const NicChoiceList& choices, int index);

}  // namespace orv

#pragma once
// Static neighbour (ARP) entries and host routes that make a device directly
// reachable through a host interface, whatever subnet the device is on.
//
// A device route is an on-link /32 route (scope link, metric 20, preferred
// source = the interface address) on the interface that owns the host
// address, tagged with a route protocol number reserved for this program so
// its routes can be told from everybody else's. The static ARP entry is a
// permanent neighbour entry on that interface.
//
// Without CAP_NET_ADMIN every change is refused by the kernel; AddDeviceRoute
// then reports the refusal (CanChangeRoutes tells the caller up front,
// RouteRightsHint what to do about it).
//
// The host's tables are shared with the operator, the administrator and other
// runs of the program: a run removes only what the program made and no other
// live run still holds (see routes.cpp for the record of holders).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/interfaces.h"

namespace orv {

// Route protocol numbers owned by this program (outside the range the kernel
// and iproute2 assign). Routes of a running program carry the first; a run
// that died leaves them behind and the next start removes them. Routes an
// operator makes with `orvistarctl route add` carry the second and stay until
// removed by hand.
constexpr uint8_t RTPROT_ORVISTAR = 181;
constexpr uint8_t RTPROT_ORVISTAR_OPERATOR = 182;
constexpr uint32_t DEVICE_ROUTE_METRIC = 20;

// One recorded addition.
struct tROUTENODE {
  std::string szLocalIP;   // host interface address
  std::string szDeviceIP;  // device address
  std::string szMAC;       // "XX-XX-XX-XX-XX-XX", or empty when no ARP entry was asked for
};

// One record per successful AddDeviceRoute, in order.
extern std::vector<tROUTENODE> RouteNodeList;

// Makes the device reachable through the host interface localIP: a static ARP
// entry (unless macText is empty) and a /32 route, and records them. Entries
// that are already there are used as they are: somebody else's route or
// permanent entry with the same MAC is never changed and never removed; an
// entry the program made is shared with the other live runs that hold it.
// Fails (false, *error says why) when the tables refuse a change, when a
// permanent entry for the address names another MAC, or when another live
// run holds the address for another device and does not let go within waitMs.
// Within this run, a new MAC for a held address replaces the run's own entry.
bool AddDeviceRoute(const std::string& localIP, const std::string& deviceIP,
                    const std::string& macText, std::string* error = nullptr, int waitMs = 0);
// Drops the first record for `deviceIP`; the entries go with the last record
// of this run and only when no other live run holds them. False when there is
// no record.
bool RemoveDeviceRoute(const std::string& deviceIP);
// Drops every record, as above.
void RemoveAllDeviceRoutes();

// A flag that, once true, ends every wait of AddDeviceRoute (for the route
// lock or for an address another run holds): the call then fails at once.
void SetRouteWaitStop(const std::atomic<bool>* stop);

// Whether this process may change routes and neighbour entries (CAP_NET_ADMIN
// in its effective set).
bool CanChangeRoutes();
// What the user can do when CanChangeRoutes() is false.
std::string RouteRightsHint();

// Start-up clean-up: removes the entries that runs which ended without
// clean-up (killed, crashed) made and no live run still holds, and routes of
// RTPROT_ORVISTAR that no live run holds. Returns the number of routes removed.
int RemoveStaleDeviceRoutes();

// One route carrying one of this program's tags.
struct TaggedRoute {
  std::string szDeviceIP;
  std::string szInterface;  // interface name
  int nIfIndex = 0;
  std::string szSource;     // preferred source, may be empty
  uint8_t nProtocol = 0;
  uint32_t nMetric = 0;
  std::string szMAC;        // permanent neighbour entry on that interface, or empty
};
// False when the tables could not be read.
bool ListTaggedRoutes(std::vector<TaggedRoute>* out);

// Operator entries (`orvistarctl route add/remove`). Return 0 on success or a
// negative libnl error code (nl_geterror gives the text).
int AddOperatorRoute(const std::string& localIP, const std::string& deviceIP,
                     const std::string& macText);
// Removes every tagged /32 route to deviceIP with its permanent neighbour
// entry; *removed counts the routes. Returns 0 or a negative libnl code.
int RemoveTaggedRoutesTo(const std::string& deviceIP, int* removed);

// ---- lower-level operations (addresses in network byte order) ----

// Exactly "HH-HH-HH-HH-HH-HH", hexadecimal digits of either case.
bool ParseMacText(const std::string& text, uint8_t mac[6]);
// Interface index and subnet mask of the row holding `local`; false when the
// address is all ones or no row holds it.
bool FindInterfaceByAddress(const std::vector<HostAddrRow>& table, uint32_t local, int* index,
                            uint32_t* mask);
// Whether a device address may get entries at all: not 0.0.0.0/8, not the
// loopback net, not multicast, reserved or broadcast.
bool IsDeviceAddress(uint32_t addr);
// These return 0 or a negative libnl error code.
int AddStaticArpEntry(uint32_t device, uint32_t local, const std::string& macText);
int DeleteArpEntry(uint32_t device, uint32_t local, const std::string& macText);
int AddHostRoute(uint32_t dest, uint32_t mask, uint32_t nextHop, uint32_t ifAddr, uint32_t metric,
                 uint8_t protocol = RTPROT_ORVISTAR);
// Deletes the /32 routes to `dest` of RTPROT_ORVISTAR; routes of any other
// protocol and wider routes are never touched.
int DeleteRoutesTo(uint32_t dest);

}  // namespace orv

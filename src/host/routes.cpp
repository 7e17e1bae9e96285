#include "host/routes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netlink/route/link.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <cstdlib>

#include "common/trace.h"
#include "host/netlink_util.h"

namespace orv {

std::vector<tROUTENODE> RouteNodeList;

namespace {
// Batch runs add and remove device routes from their worker thread.
std::recursive_mutex& RouteListMutex() {
  static std::recursive_mutex m;
  return m;
}
}  // namespace

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// ---- liveness of the runs that own RTPROT_ORVISTAR routes ----
//
// Every run that adds device routes holds a shared flock on one lock file for
// its lifetime; the kernel drops it when the process dies, however it dies.
// The start-up clean-up only removes tagged routes when it can take the lock
// exclusively, i.e. when no other run is alive to own them.

int g_lockFd = -1;
pid_t g_lockPid = 0;
bool g_lockShared = false;

std::string LockPath() {
  if (const char* p = std::getenv("ORVISTAR_ROUTE_LOCK"); p && *p) return p;
  struct stat st;
  if (stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode)) return "/run/lock/orvistar-routes.lock";
  return "/tmp/orvistar-routes.lock";
}

// Whether the open lock file is still the one at LockPath() (it may have been
// deleted or replaced, and a new run would then lock a different file).
bool LockFileCurrent() {
  struct stat a, b;
  return fstat(g_lockFd, &a) == 0 && stat(LockPath().c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

int LockFd() {
  if (g_lockFd >= 0 && g_lockPid == getpid() && LockFileCurrent()) return g_lockFd;
  if (g_lockFd >= 0) {
    // Inherited through fork (the lock belongs to the parent's open file, so
    // this process needs its own) or no longer the file others lock.
    close(g_lockFd);
    g_lockFd = -1;
    g_lockShared = false;
  }
  g_lockPid = getpid();
  g_lockFd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (g_lockFd >= 0) (void)fchmod(g_lockFd, 0666);  // other users' runs share it
  return g_lockFd;
}

void HoldRunLock() {
  int fd = LockFd();
  if (fd < 0 || g_lockShared) return;
  if (flock(fd, LOCK_SH) == 0) g_lockShared = true;
}

// ---- netlink helpers ----

int PrefixOfMask(uint32_t mask) {
  uint32_t m = ntohl(mask);
  int n = __builtin_popcount(m);
  // Only contiguous masks are prefixes.
  uint32_t expect = n == 0 ? 0 : (n == 32 ? kAllOnes : ~((1u << (32 - n)) - 1u));
  return m == expect ? n : -1;
}

bool ReadAddrTable(std::vector<HostAddrRow>* rows) { return ReadHostTables(nullptr, rows); }

// Interface index that owns `local`, or a negative libnl code.
int InterfaceOf(uint32_t local, uint32_t* mask) {
  std::vector<HostAddrRow> table;
  if (!ReadAddrTable(&table)) return -NLE_FAILURE;
  int index = 0;
  uint32_t m = 0;
  if (!FindInterfaceByAddress(table, local, &index, &m)) return -NLE_NODEV;
  if (mask) *mask = m;
  return index;
}

int DeleteNeigh(nl_sock* sk, int ifindex, uint32_t dest) {
  nl::Neigh n(rtnl_neigh_alloc());
  nl::Addr dst = nl::Ipv4(dest);
  if (!n || !dst) return -NLE_NOMEM;
  rtnl_neigh_set_family(n.get(), AF_INET);
  rtnl_neigh_set_ifindex(n.get(), ifindex);
  rtnl_neigh_set_dst(n.get(), dst.get());
  return rtnl_neigh_delete(sk, n.get(), 0);
}

// A /32 IPv4 route and what it leads to.
struct RouteView {
  uint32_t dest = 0;
  int ifindex = 0;
  uint8_t protocol = 0;
};
bool ViewOf(rtnl_route* r, RouteView* v) {
  if (rtnl_route_get_family(r) != AF_INET) return false;
  nl_addr* d = rtnl_route_get_dst(r);
  if (!d || nl_addr_get_prefixlen(d) != 32 || !nl::Ipv4Of(d, &v->dest)) return false;
  v->protocol = rtnl_route_get_protocol(r);
  v->ifindex = 0;
  if (rtnl_route_get_nnexthops(r) > 0)
    if (rtnl_nexthop* nh = rtnl_route_nexthop_n(r, 0)) v->ifindex = rtnl_route_nh_get_ifindex(nh);
  return true;
}

// Collects the routes of `cache` that `pick` accepts (with an extra reference).
template <class Pick>
std::vector<nl::Route> PickRoutes(nl_cache* cache, Pick pick) {
  std::vector<nl::Route> out;
  for (nl_object* o = nl_cache_get_first(cache); o; o = nl_cache_get_next(o)) {
    auto* r = reinterpret_cast<rtnl_route*>(o);
    RouteView v;
    if (!ViewOf(r, &v) || !pick(r, v)) continue;
    nl_object_get(o);
    out.emplace_back(r);
  }
  return out;
}

int AllocRouteCache(nl_sock* sk, nl::Cache* out) {
  nl_cache* raw = nullptr;
  int rc = rtnl_route_alloc_cache(sk, AF_INET, 0, &raw);
  if (rc < 0) return rc;
  out->reset(raw);
  return 0;
}

bool IsPermanent(nl_cache* neighs, int ifindex, uint32_t dest, std::string* mac) {
  nl::Addr dst = nl::Ipv4(dest);
  if (!neighs || !dst) return false;
  nl::Neigh n(rtnl_neigh_get(neighs, ifindex, dst.get()));
  if (!n || !(rtnl_neigh_get_state(n.get()) & NUD_PERMANENT)) return false;
  if (mac) {
    mac->clear();
    nl_addr* ll = rtnl_neigh_get_lladdr(n.get());
    if (ll && nl_addr_get_len(ll) == 6)
      *mac = MacToText(static_cast<const uint8_t*>(nl_addr_get_binary_addr(ll)));
  }
  return true;
}

// Deletes the chosen routes and the permanent neighbour entries to the same
// address on the same interface. Returns 0 or the first error.
int DeleteRoutesAndNeighbours(nl_sock* sk, std::vector<nl::Route>& routes, int* removed) {
  nl_cache* rawNeigh = nullptr;
  nl::Cache neighs;
  if (rtnl_neigh_alloc_cache(sk, &rawNeigh) >= 0) neighs.reset(rawNeigh);
  int first = 0;
  for (auto& r : routes) {
    RouteView v;
    ViewOf(r.get(), &v);
    int rc = rtnl_route_delete(sk, r.get(), 0);
    if (rc < 0) {
      if (first == 0) first = rc;
      continue;
    }
    if (removed) ++*removed;
    if (v.ifindex > 0 && IsPermanent(neighs.get(), v.ifindex, v.dest, nullptr))
      DeleteNeigh(sk, v.ifindex, v.dest);
  }
  return first;
}

bool ParseOrNone(const std::string& text, uint32_t* addr) {
  if (ParseIPv4(text, addr)) return true;
  *addr = kAllOnes;  // what an unparsable text gave the original address parser
  return false;
}

}  // namespace

bool ParseMacText(const std::string& text, uint8_t mac[6]) {
  if (text.size() != 17) return false;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  uint8_t out[6];
  for (int i = 0; i < 6; ++i) {
    const size_t p = static_cast<size_t>(i) * 3;
    if (i > 0 && text[p - 1] != '-') return false;
    int hi = hex(text[p]), lo = hex(text[p + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  std::copy(out, out + 6, mac);
  return true;
}

bool FindInterfaceByAddress(const std::vector<HostAddrRow>& table, uint32_t local, int* index,
                            uint32_t* mask) {
  if (local == kAllOnes) return false;
  for (const auto& row : table) {
    if (row.nAddr == local) {
      *index = row.nIndex;
      *mask = row.nMask;
      return true;
    }
  }
  return false;
}

bool IsDeviceAddress(uint32_t addr) {
  const uint32_t h = ntohl(addr);
  const uint32_t first = h >> 24;
  // 0.0.0.0/8 (this network), 127/8 (loopback), 224/3 (multicast, reserved, broadcast).
  return first != 0 && first != 127 && first < 224;
}

int AddStaticArpEntry(uint32_t device, uint32_t local, const std::string& macText) {
  ORV_TRACE("AddStaticArpEntry");
  if (!IsDeviceAddress(device)) return -NLE_INVAL;
  uint8_t mac[6];
  // A MAC that does not parse would give the device a made-up link address.
  if (!ParseMacText(macText, mac)) return -NLE_INVAL;
  int index = InterfaceOf(local, nullptr);
  if (index < 0) return index;

  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return err;
  DeleteNeigh(sk.get(), index, device);  // replaces whatever entry the address had
  nl::Neigh n(rtnl_neigh_alloc());
  nl::Addr dst = nl::Ipv4(device);
  nl::Addr ll(nl_addr_build(AF_LLC, mac, sizeof mac));
  if (!n || !dst || !ll) return -NLE_NOMEM;
  rtnl_neigh_set_family(n.get(), AF_INET);
  rtnl_neigh_set_ifindex(n.get(), index);
  rtnl_neigh_set_dst(n.get(), dst.get());
  rtnl_neigh_set_lladdr(n.get(), ll.get());
  rtnl_neigh_set_state(n.get(), NUD_PERMANENT);
  return rtnl_neigh_add(sk.get(), n.get(), NLM_F_CREATE | NLM_F_REPLACE);
}

int DeleteArpEntry(uint32_t device, uint32_t local, const std::string& macText) {
  ORV_TRACE("DeleteArpEntry");
  // The entry is found by interface and address; the MAC is not needed, so a
  // dynamic entry learnt for the address goes as well.
  if (device == 0 || device == kAllOnes) return -NLE_INVAL;
  int index = InterfaceOf(local, nullptr);
  if (index < 0) return index;
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return err;
  return DeleteNeigh(sk.get(), index, device);
}

int AddHostRoute(uint32_t dest, uint32_t mask, uint32_t nextHop, uint32_t ifAddr, uint32_t metric,
                 uint8_t protocol) {
  ORV_TRACE("AddHostRoute");
  if (dest == kAllOnes || nextHop == 0 || nextHop == kAllOnes || (dest & ~mask) != 0 ||
      ifAddr == kAllOnes)
    return -NLE_INVAL;
  // Only host routes: DeleteRoutesTo never removes anything wider.
  if (PrefixOfMask(mask) != 32 || !IsDeviceAddress(dest)) return -NLE_INVAL;
  uint32_t ifMask = 0;
  int index = InterfaceOf(ifAddr, &ifMask);
  if (index < 0) return index;
  if ((nextHop & ifMask) != (ifAddr & ifMask)) return -NLE_INVAL;

  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return err;
  nl::Route r(rtnl_route_alloc());
  nl::Addr dst = nl::Ipv4(dest, 32);
  nl::Addr src = nl::Ipv4(ifAddr);
  rtnl_nexthop* nh = rtnl_route_nh_alloc();
  if (!r || !dst || !src || !nh) {
    if (nh) rtnl_route_nh_free(nh);
    return -NLE_NOMEM;
  }
  rtnl_route_set_family(r.get(), AF_INET);
  rtnl_route_set_table(r.get(), RT_TABLE_MAIN);
  rtnl_route_set_type(r.get(), RTN_UNICAST);
  rtnl_route_set_scope(r.get(), RT_SCOPE_LINK);
  rtnl_route_set_protocol(r.get(), protocol);
  rtnl_route_set_priority(r.get(), metric);
  int rc = rtnl_route_set_dst(r.get(), dst.get());
  if (rc == 0) rc = rtnl_route_set_pref_src(r.get(), src.get());
  if (rc < 0) {
    rtnl_route_nh_free(nh);
    return rc;
  }
  // Linux refuses the host's own address as a gateway; the on-link route on
  // the interface that owns it is the same path.
  rtnl_route_nh_set_ifindex(nh, index);
  rtnl_route_add_nexthop(r.get(), nh);  // the route owns it from here
  return rtnl_route_add(sk.get(), r.get(), NLM_F_CREATE | NLM_F_REPLACE);
}

int DeleteRoutesTo(uint32_t dest) {
  ORV_TRACE("DeleteRoutesTo");
  if (dest == kAllOnes) return -NLE_INVAL;
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return err;
  nl::Cache cache;
  if ((err = AllocRouteCache(sk.get(), &cache)) < 0) return err;
  auto routes = PickRoutes(cache.get(), [&](rtnl_route* r, const RouteView& v) {
    return v.dest == dest && v.protocol != RTPROT_KERNEL &&
           rtnl_route_get_table(r) != RT_TABLE_LOCAL;
  });
  int first = 0;
  for (auto& r : routes) {
    int rc = rtnl_route_delete(sk.get(), r.get(), 0);
    if (rc < 0 && first == 0) first = rc;
  }
  return first;
}

bool AddDeviceRoute(const std::string& localIP, const std::string& deviceIP,
                    const std::string& macText) {
  ORV_TRACE("AddDeviceRoute");
  uint32_t device = 0, local = 0;
  ParseOrNone(deviceIP, &device);
  ParseOrNone(localIP, &local);
  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  HoldRunLock();
  if (!macText.empty()) AddStaticArpEntry(device, local, macText);
  AddHostRoute(device, kAllOnes, local, local, DEVICE_ROUTE_METRIC);
  RouteNodeList.push_back({localIP, deviceIP, macText});
  return true;
}

bool RemoveDeviceRoute(const std::string& deviceIP) {
  ORV_TRACE("RemoveDeviceRoute");
  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  auto it = std::find_if(RouteNodeList.begin(), RouteNodeList.end(),
                         [&](const tROUTENODE& n) { return n.szDeviceIP == deviceIP; });
  if (it == RouteNodeList.end()) return false;
  uint32_t device = 0, local = 0;
  ParseOrNone(it->szDeviceIP, &device);
  ParseOrNone(it->szLocalIP, &local);
  DeleteRoutesTo(device);
  DeleteArpEntry(device, local, it->szMAC);
  RouteNodeList.erase(it);
  return true;
}

void RemoveAllDeviceRoutes() {
  ORV_TRACE("RemoveAllDeviceRoutes");
  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  for (const auto& n : RouteNodeList) {
    uint32_t device = 0, local = 0;
    ParseOrNone(n.szDeviceIP, &device);
    ParseOrNone(n.szLocalIP, &local);
    DeleteRoutesTo(device);
    DeleteArpEntry(device, local, n.szMAC);
  }
  RouteNodeList.clear();
}

bool CanChangeRoutes() {
  __user_cap_header_struct hdr{};
  hdr.version = _LINUX_CAPABILITY_VERSION_3;
  hdr.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &hdr, data) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_NET_ADMIN)].effective & CAP_TO_MASK(CAP_NET_ADMIN)) != 0;
}

std::string RouteRightsHint() {
  return "Changing routes and ARP entries needs the CAP_NET_ADMIN capability: run the program "
         "as root, or grant it once with \"sudo setcap cap_net_admin+ep <program>\". Devices "
         "outside the host's subnets stay unreachable until then.";
}

int RemoveStaleDeviceRoutes() {
  ORV_TRACE("RemoveStaleDeviceRoutes");
  int fd = LockFd();
  if (fd >= 0) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      // Another run is alive; the tagged routes may be its own.
      g_lockShared = false;  // a failed conversion may have dropped ours
      HoldRunLock();
      return 0;
    }
    g_lockShared = false;
  }
  int removed = 0;
  int err = 0;
  if (nl::Sock sk = nl::Connect(&err)) {
    nl::Cache cache;
    if (AllocRouteCache(sk.get(), &cache) == 0) {
      auto routes = PickRoutes(cache.get(), [](rtnl_route*, const RouteView& v) {
        return v.protocol == RTPROT_ORVISTAR;
      });
      DeleteRoutesAndNeighbours(sk.get(), routes, &removed);
    }
  }
  HoldRunLock();
  return removed;
}

bool ListTaggedRoutes(std::vector<TaggedRoute>* out) {
  ORV_TRACE("ListTaggedRoutes");
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return false;
  nl::Cache routes, links, neighs;
  if (AllocRouteCache(sk.get(), &routes) < 0) return false;
  nl_cache* raw = nullptr;
  if (rtnl_link_alloc_cache(sk.get(), AF_UNSPEC, &raw) >= 0) links.reset(raw);
  raw = nullptr;
  if (rtnl_neigh_alloc_cache(sk.get(), &raw) >= 0) neighs.reset(raw);

  for (nl_object* o = nl_cache_get_first(routes.get()); o; o = nl_cache_get_next(o)) {
    auto* r = reinterpret_cast<rtnl_route*>(o);
    RouteView v;
    if (!ViewOf(r, &v)) continue;
    if (v.protocol != RTPROT_ORVISTAR && v.protocol != RTPROT_ORVISTAR_OPERATOR) continue;
    TaggedRoute t;
    t.szDeviceIP = IPToText(v.dest);
    t.nIfIndex = v.ifindex;
    t.nProtocol = v.protocol;
    t.nMetric = rtnl_route_get_priority(r);
    uint32_t src = 0;
    if (nl::Ipv4Of(rtnl_route_get_pref_src(r), &src)) t.szSource = IPToText(src);
    char name[IFNAMSIZ + 1] = {};
    if (links && rtnl_link_i2name(links.get(), v.ifindex, name, sizeof name - 1)) t.szInterface = name;
    IsPermanent(neighs.get(), v.ifindex, v.dest, &t.szMAC);
    out->push_back(std::move(t));
  }
  return true;
}

int AddOperatorRoute(const std::string& localIP, const std::string& deviceIP,
                     const std::string& macText) {
  ORV_TRACE("AddOperatorRoute");
  uint32_t device = 0, local = 0;
  if (!ParseIPv4(deviceIP, &device) || !ParseIPv4(localIP, &local) || !IsDeviceAddress(device))
    return -NLE_INVAL;
  bool arp = false;
  if (!macText.empty()) {
    int rc = AddStaticArpEntry(device, local, macText);
    if (rc < 0) return rc;
    arp = true;
  }
  int rc = AddHostRoute(device, kAllOnes, local, local, DEVICE_ROUTE_METRIC,
                        RTPROT_ORVISTAR_OPERATOR);
  if (rc < 0 && arp) DeleteArpEntry(device, local, macText);
  return rc;
}

int RemoveTaggedRoutesTo(const std::string& deviceIP, int* removed) {
  ORV_TRACE("RemoveTaggedRoutesTo");
  *removed = 0;
  uint32_t device = 0;
  if (!ParseIPv4(deviceIP, &device)) return -NLE_INVAL;
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return err;
  nl::Cache cache;
  if ((err = AllocRouteCache(sk.get(), &cache)) < 0) return err;
  auto routes = PickRoutes(cache.get(), [&](rtnl_route*, const RouteView& v) {
    return v.dest == device &&
           (v.protocol == RTPROT_ORVISTAR || v.protocol == RTPROT_ORVISTAR_OPERATOR);
  });
  return DeleteRoutesAndNeighbours(sk.get(), routes, removed);
}

}  // namespace orv

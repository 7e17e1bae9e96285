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

#include <dirent.h>
#include <netlink/errno.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

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

// ---- who holds which device entries ----
//
// Every run that holds device entries keeps one file in RunDir(), named after
// its pid, listing what it holds, and keeps a shared flock on it for its
// lifetime: the kernel drops the lock when the process dies, however it dies,
// so a file nobody locks belongs to a dead run. Changes to the tables and to
// the files happen under an exclusive lock on RunDir()/tables.lock, so runs
// never decide on a stale view of each other. The directory belongs to root;
// other users can neither create these files nor take the lock to stall runs.

std::string RunBase() {
  if (const char* p = std::getenv("ORVISTAR_RUN_DIR"); p && *p) return p;
  return "/run/orvistar";
}

// The tables belong to a network namespace, so does the record of holders.
std::string RunDir() {
  struct stat st {};
  const std::string ns = ::stat("/proc/thread-self/ns/net", &st) == 0 ? std::to_string(st.st_ino) : "0";
  return RunBase() + "/net-" + ns;
}

// One device address this run holds entries for.
struct Hold {
  std::string local, mac;  // host interface address; device MAC ("" : no ARP entry)
  int ifindex = 0;
  bool ownRoute = false;   // the route is the program's (proto 181), not somebody else's
  bool ownNeigh = false;   // the permanent entry is the program's
  int count = 0;           // records in RouteNodeList for this address
};
std::map<uint32_t, Hold> g_holds;  // this process's, by device address
int g_holdFd = -1;
pid_t g_holdPid = 0;

std::string HoldPath(pid_t pid) { return RunDir() + "/run-" + std::to_string(pid) + ".holds"; }

bool EnsureRunDir() {
  if (::mkdir(RunBase().c_str(), 0755) != 0 && errno != EEXIST) return false;
  const std::string dir = RunDir();
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::atomic<const std::atomic<bool>*> g_waitStop{nullptr};
bool WaitStopped() {
  const std::atomic<bool>* f = g_waitStop.load();
  return f && f->load();
}

// Exclusive lock on the tables for one decision; waits at most 10 s, and not
// at all once the run is told to stop.
class TablesLock {
 public:
  // stoppable: a stop request ends the wait (taking entries); releasing them
  // always waits, so a stopped run still cleans up after itself.
  explicit TablesLock(bool stoppable = false) {
    if (!EnsureRunDir()) return;
    const std::string path = RunDir() + "/tables.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    for (int i = 0; i < 200 && !(stoppable && WaitStopped()); ++i) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        locked_ = true;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      if (i == 10) std::fprintf(stderr, "waiting up to 10 s for the route lock %s, held by another run\n", path.c_str());
      ::usleep(50 * 1000);
    }
  }
  ~TablesLock() {
    if (fd_ >= 0) ::close(fd_);  // drops the lock
  }
  bool Locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

std::string HoldLine(uint32_t ip, const Hold& h) {
  return IPToText(ip) + " " + (h.mac.empty() ? "-" : h.mac) + " " + std::to_string(h.ifindex) + " " +
         (h.ownRoute ? "1" : "0") + " " + (h.ownNeigh ? "1" : "0") + "\n";
}

// Rewrites this run's file from g_holds (or removes it when nothing is held).
void WriteHolds() {
  if (g_holdFd >= 0 && g_holdPid != getpid()) {  // inherited through fork: not ours
    ::close(g_holdFd);
    g_holdFd = -1;
  }
  const std::string path = HoldPath(getpid());
  if (g_holds.empty()) {
    if (g_holdFd >= 0) {
      ::unlink(path.c_str());
      ::close(g_holdFd);
      g_holdFd = -1;
    }
    return;
  }
  if (g_holdFd < 0) {
    if (!EnsureRunDir()) return;
    ::unlink(path.c_str());  // a dead run with the same pid left it
    g_holdFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (g_holdFd < 0) return;
    g_holdPid = getpid();
    ::flock(g_holdFd, LOCK_SH);
  }
  std::string text;
  for (const auto& [ip, h] : g_holds) text += HoldLine(ip, h);
  if (::ftruncate(g_holdFd, 0) != 0 || ::pwrite(g_holdFd, text.data(), text.size(), 0) !=
                                          static_cast<ssize_t>(text.size()))
    ORV_TRACE("cannot write the record of held device entries");
}

struct OtherHold {
  pid_t pid = 0;
  uint32_t ip = 0;
  Hold hold;
};

std::vector<OtherHold> ParseHolds(const std::string& text, pid_t pid) {
  std::vector<OtherHold> out;
  std::istringstream in(text);
  std::string ip, mac;
  int ifindex = 0, route = 0, neigh = 0;
  while (in >> ip >> mac >> ifindex >> route >> neigh) {
    OtherHold o;
    o.pid = pid;
    if (!ParseIPv4(ip, &o.ip)) continue;
    o.hold.mac = mac == "-" ? "" : mac;
    o.hold.ifindex = ifindex;
    o.hold.ownRoute = route == 1;
    o.hold.ownNeigh = neigh == 1;
    out.push_back(std::move(o));
  }
  return out;
}

// The holds of the other live runs; the files of dead runs are returned in
// *dead (and their files removed) so that the caller can clean up after them.
std::vector<OtherHold> OtherHolds(std::vector<OtherHold>* dead) {
  std::vector<OtherHold> live;
  DIR* d = ::opendir(RunDir().c_str());
  if (!d) return live;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind("run-", 0) != 0 || name.size() < 11 || name.substr(name.size() - 6) != ".holds") continue;
    const pid_t pid = static_cast<pid_t>(std::atol(name.substr(4, name.size() - 10).c_str()));
    if (pid == getpid() && g_holdFd >= 0 && g_holdPid == getpid()) continue;
    const std::string path = RunDir() + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 && text.size() < (1u << 20);) text.append(buf, n);
    const bool isDead = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    auto holds = ParseHolds(text, pid);
    if (isDead) {
      if (dead) dead->insert(dead->end(), holds.begin(), holds.end());
      ::unlink(path.c_str());
    } else {
      live.insert(live.end(), holds.begin(), holds.end());
    }
    ::close(fd);
  }
  ::closedir(d);
  return live;
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
    return v.dest == dest && v.protocol == RTPROT_ORVISTAR && rtnl_route_get_table(r) != RT_TABLE_LOCAL;
  });
  int first = 0;
  for (auto& r : routes) {
    int rc = rtnl_route_delete(sk.get(), r.get(), 0);
    if (rc < 0 && first == 0) first = rc;
  }
  return first;
}

namespace {

std::string NlText(int rc) { return nl_geterror(rc < 0 ? -rc : rc); }

// The permanent entry for dest on ifindex, if any: *mac gets its MAC text.
bool PermanentNeigh(nl_sock* sk, int ifindex, uint32_t dest, std::string* mac) {
  nl_cache* raw = nullptr;
  if (rtnl_neigh_alloc_cache(sk, &raw) < 0) return false;
  nl::Cache neighs(raw);
  return IsPermanent(neighs.get(), ifindex, dest, mac);
}

// Protocols of the /32 routes to dest in the main table; false when unreadable.
bool RouteProtocolsTo(nl_sock* sk, uint32_t dest, std::vector<uint8_t>* out) {
  nl::Cache cache;
  if (AllocRouteCache(sk, &cache) < 0) return false;
  for (auto& r : PickRoutes(cache.get(), [&](rtnl_route* x, const RouteView& v) {
         return v.dest == dest && rtnl_route_get_table(x) == RT_TABLE_MAIN;
       })) {
    out->push_back(rtnl_route_get_protocol(r.get()));
  }
  return true;
}

// Removes what the program made for dest, if nobody alive holds it any more.
int DropOwnEntries(nl_sock* sk, uint32_t dest, const Hold& h) {
  int removed = 0;
  if (h.ownRoute && DeleteRoutesTo(dest) == 0) ++removed;
  std::string mac;
  if (h.ownNeigh && h.ifindex > 0 && PermanentNeigh(sk, h.ifindex, dest, &mac) && mac == h.mac)
    DeleteNeigh(sk, h.ifindex, dest);
  return removed;
}

bool HeldBy(const std::vector<OtherHold>& others, uint32_t ip) {
  return std::any_of(others.begin(), others.end(), [&](const OtherHold& o) { return o.ip == ip; });
}

// Entries of dead runs go unless another live run (or this one) holds them.
int CleanUpDead(nl_sock* sk, const std::vector<OtherHold>& live, const std::vector<OtherHold>& dead) {
  int removed = 0;
  for (const auto& d : dead) {
    if (HeldBy(live, d.ip) || g_holds.count(d.ip)) continue;
    removed += DropOwnEntries(sk, d.ip, d.hold);
  }
  return removed;
}

// Gives up this run's hold on ip; the entries go when nobody else holds them.
void ReleaseHold(nl_sock* sk, const std::vector<OtherHold>& live, uint32_t ip) {
  auto it = g_holds.find(ip);
  if (it == g_holds.end()) return;
  const Hold h = it->second;
  g_holds.erase(it);
  if (sk && !HeldBy(live, ip)) DropOwnEntries(sk, ip, h);
}

// Whether addr is one of the host's own addresses or a gateway of its
// routing table (default routes included); *why names which.
bool IsHostOrGateway(uint32_t addr, std::string* why) {
  std::vector<HostAddrRow> table;
  if (ReadAddrTable(&table)) {
    for (const auto& row : table)
      if (row.nAddr == addr) {
        if (why) *why = IPToText(addr) + " is an address of this host, not a device's";
        return true;
      }
  }
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  nl::Cache cache;
  if (!sk || AllocRouteCache(sk.get(), &cache) < 0) return false;
  for (nl_object* o = nl_cache_get_first(cache.get()); o; o = nl_cache_get_next(o)) {
    auto* r = reinterpret_cast<rtnl_route*>(o);
    if (rtnl_route_get_family(r) != AF_INET) continue;
    for (int i = 0; i < rtnl_route_get_nnexthops(r); ++i) {
      uint32_t gw = 0;
      if (rtnl_nexthop* nh = rtnl_route_nexthop_n(r, i); nh && nl::Ipv4Of(rtnl_route_nh_get_gateway(nh), &gw) &&
                                                          gw == addr) {
        if (why) *why = IPToText(addr) + " is a gateway of this host, not a device's";
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool AddDeviceRoute(const std::string& localIP, const std::string& deviceIP, const std::string& macText,
                    std::string* error, int waitMs) {
  ORV_TRACE("AddDeviceRoute");
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    ORV_TRACE("AddDeviceRoute: " + why);
    return false;
  };
  uint32_t device = 0, local = 0;
  if (!ParseIPv4(deviceIP, &device)) return fail("'" + deviceIP + "' is not an IPv4 address");
  // A search answer can claim any address; these must never be redirected.
  if (!IsDeviceAddress(device))
    return fail(deviceIP + " is a multicast, loopback, broadcast or reserved address, not a device's");
  if (std::string why; IsHostOrGateway(device, &why)) return fail(why);
  if (!ParseIPv4(localIP, &local)) return fail("'" + localIP + "' is not a host interface address");
  if (!macText.empty() && !ParseMacText(macText, std::array<uint8_t, 6>().data()))
    return fail("'" + macText + "' is not a MAC address");
  uint32_t ifMask = 0;
  const int ifindex = InterfaceOf(local, &ifMask);
  if (ifindex < 0) return fail("no host interface has the address " + localIP);

  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  if (auto it = g_holds.find(device); it != g_holds.end() && it->second.mac == macText) {
    ++it->second.count;  // this run holds it already
    RouteNodeList.push_back({localIP, deviceIP, macText});
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
  bool said = false;
  for (;;) {
    std::optional<TablesLock> lock(std::in_place, true);
    if (!lock->Locked())
      return fail(WaitStopped() ? "stopped while waiting for the route lock"
                                : "the route lock " + RunDir() + "/tables.lock could not be taken");
    int err = 0;
    nl::Sock sk = nl::Connect(&err);
    if (!sk) return fail("netlink: " + NlText(err));
    std::vector<OtherHold> dead;
    const std::vector<OtherHold> live = OtherHolds(&dead);
    CleanUpDead(sk.get(), live, dead);
    // Another live run holds this address for another device: its ARP entry
    // decides which one answers, so it is never taken away under that run.
    const OtherHold* rival = nullptr;
    for (const auto& o : live)
      if (o.ip == device && o.hold.mac != macText) rival = &o;
    if (rival) {
      const std::string who = "another run of the program (pid " + std::to_string(rival->pid) + ") uses " +
                              deviceIP + " for the device " + (rival->hold.mac.empty() ? "-" : rival->hold.mac);
      if (std::chrono::steady_clock::now() >= deadline || WaitStopped()) return fail(who);
      if (!said) std::fprintf(stderr, "waiting: %s\n", who.c_str());
      said = true;
      lock.reset();
      ::usleep(200 * 1000);
      continue;
    }
    // This run switches the address to another device (the window's tree).
    if (g_holds.count(device)) {
      ReleaseHold(sk.get(), live, device);
      RouteNodeList.erase(std::remove_if(RouteNodeList.begin(), RouteNodeList.end(),
                                         [&](const tROUTENODE& n) { return n.szDeviceIP == deviceIP; }),
                          RouteNodeList.end());
    }
    Hold h;
    h.local = localIP;
    h.mac = macText;
    h.ifindex = ifindex;
    const bool shared = HeldBy(live, device);  // the same device, held by another live run
    bool addedNeigh = false;
    if (!macText.empty()) {
      std::string there;
      if (PermanentNeigh(sk.get(), ifindex, device, &there)) {
        if (there != macText)
          return fail(deviceIP + " already has a permanent ARP entry for " + there +
                      " that the program did not make; the device " + macText + " cannot be reached");
        // Kept as it is: the program's if a live run made it, else somebody else's.
        for (const auto& o : live)
          if (o.ip == device && o.hold.ownNeigh) h.ownNeigh = true;
      } else {
        const int rc = AddStaticArpEntry(device, local, macText);
        if (rc < 0) return fail("cannot add the ARP entry for " + deviceIP + ": " + NlText(rc));
        h.ownNeigh = addedNeigh = true;
      }
    }
    std::vector<uint8_t> protocols;
    if (!RouteProtocolsTo(sk.get(), device, &protocols)) return fail("cannot read the route table");
    const bool foreign = std::any_of(protocols.begin(), protocols.end(),
                                     [](uint8_t p) { return p != RTPROT_ORVISTAR; });
    if (foreign) {
      h.ownRoute = false;  // somebody else's route leads there: used as it is
    } else if (!protocols.empty()) {
      h.ownRoute = true;   // the program's: another live run's, or left by a dead one
    } else {
      const int rc = AddHostRoute(device, kAllOnes, local, local, DEVICE_ROUTE_METRIC);
      if (rc < 0) {
        if (addedNeigh && !shared) DeleteNeigh(sk.get(), ifindex, device);
        return fail("cannot add the route to " + deviceIP + ": " + NlText(rc));
      }
      h.ownRoute = true;
    }
    h.count = 1;
    g_holds[device] = h;
    WriteHolds();
    RouteNodeList.push_back({localIP, deviceIP, macText});
    return true;
  }
}

bool RemoveDeviceRoute(const std::string& deviceIP) {
  ORV_TRACE("RemoveDeviceRoute");
  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  auto it = std::find_if(RouteNodeList.begin(), RouteNodeList.end(),
                         [&](const tROUTENODE& n) { return n.szDeviceIP == deviceIP; });
  if (it == RouteNodeList.end()) return false;
  RouteNodeList.erase(it);
  uint32_t device = 0;
  auto h = ParseIPv4(deviceIP, &device) ? g_holds.find(device) : g_holds.end();
  if (h == g_holds.end()) return true;
  if (--h->second.count > 0) return true;  // still recorded by this run
  TablesLock lock;
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  const std::vector<OtherHold> live = OtherHolds(nullptr);
  ReleaseHold(sk.get(), live, device);  // also without the lock: never leave our entries behind
  WriteHolds();
  return true;
}

void RemoveAllDeviceRoutes() {
  ORV_TRACE("RemoveAllDeviceRoutes");
  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  RouteNodeList.clear();
  if (g_holds.empty()) return;
  TablesLock lock;
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  const std::vector<OtherHold> live = OtherHolds(nullptr);
  while (!g_holds.empty()) ReleaseHold(sk.get(), live, g_holds.begin()->first);
  WriteHolds();
}

void SetRouteWaitStop(const std::atomic<bool>* stop) { g_waitStop.store(stop); }

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
  std::lock_guard<std::recursive_mutex> guard(RouteListMutex());
  TablesLock lock(true);  // a clean-up a stopped run may skip
  if (!lock.Locked()) return 0;
  int err = 0;
  nl::Sock sk = nl::Connect(&err);
  if (!sk) return 0;
  std::vector<OtherHold> dead;
  const std::vector<OtherHold> live = OtherHolds(&dead);
  int removed = CleanUpDead(sk.get(), live, dead);
  // Routes of the program's own protocol that no live run holds have lost
  // their owner (a record that vanished); no neighbour entry goes without one.
  nl::Cache cache;
  if (AllocRouteCache(sk.get(), &cache) == 0) {
    for (auto& r : PickRoutes(cache.get(), [&](rtnl_route*, const RouteView& v) {
           return v.protocol == RTPROT_ORVISTAR && !HeldBy(live, v.dest) && !g_holds.count(v.dest);
         })) {
      if (rtnl_route_delete(sk.get(), r.get(), 0) == 0) ++removed;
    }
  }
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

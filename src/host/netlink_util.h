#pragma once
// Small owners for libnl objects, shared by the interface and route code.
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/neighbour.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>

#include <cstdint>
#include <memory>

namespace orv::nl {

struct SockFree {
  void operator()(nl_sock* s) const { nl_socket_free(s); }
};
struct CacheFree {
  void operator()(nl_cache* c) const { nl_cache_free(c); }
};
struct AddrPut {
  void operator()(nl_addr* a) const { nl_addr_put(a); }
};
struct RoutePut {
  void operator()(rtnl_route* r) const { rtnl_route_put(r); }
};
struct NeighPut {
  void operator()(rtnl_neigh* n) const { rtnl_neigh_put(n); }
};
using Sock = std::unique_ptr<nl_sock, SockFree>;
using Cache = std::unique_ptr<nl_cache, CacheFree>;
using Addr = std::unique_ptr<nl_addr, AddrPut>;
using Route = std::unique_ptr<rtnl_route, RoutePut>;
using Neigh = std::unique_ptr<rtnl_neigh, NeighPut>;

// A connected NETLINK_ROUTE socket, or null (the error code in *err).
inline Sock Connect(int* err) {
  Sock s(nl_socket_alloc());
  if (!s) {
    *err = -NLE_NOMEM;
    return nullptr;
  }
  int rc = nl_connect(s.get(), NETLINK_ROUTE);
  if (rc < 0) {
    *err = rc;
    return nullptr;
  }
  *err = 0;
  return s;
}

// An IPv4 address object (network-byte-order input) with the given prefix.
inline Addr Ipv4(uint32_t addr, unsigned prefixlen = 32) {
  Addr a(nl_addr_build(AF_INET, &addr, sizeof addr));
  if (a) nl_addr_set_prefixlen(a.get(), static_cast<int>(prefixlen));
  return a;
}

// The IPv4 address held by `a` (network byte order); false when it is not one.
inline bool Ipv4Of(nl_addr* a, uint32_t* out) {
  if (!a || nl_addr_get_family(a) != AF_INET || nl_addr_get_len(a) != 4) return false;
  const auto* p = static_cast<const uint8_t*>(nl_addr_get_binary_addr(a));
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  *out = v;
  return true;
}

}  // namespace orv::nl

// The interface table and the device entries on a real kernel, inside network
// namespaces built here: a workstation with a bridge and two devices that
// share the address 192.168.127.254 behind it.
#include <arpa/inet.h>
#include <linux/capability.h>
#include <netlink/errno.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include "host/interfaces.h"
#include "host/routes.h"
#include "host/settings.h"
#include "netns_lab.h"

namespace {

using namespace orv;
using tb::InNetns;
using tb::Out;
using tb::Sh;

const char* kDevIP = "192.168.127.254";
const char* kMac1 = "02-00-5E-10-00-01";
const char* kMac2 = "02-00-5E-10-00-02";
const char* kHostIP = "10.77.0.1";

std::string Ctl() {
  const char* bin = std::getenv("ORV_BIN");
  return std::string(bin ? bin : ".") + "/orvistarctl";
}

// ---------------------------------------------------------------------------
// Enumeration: one namespace with interfaces in every state.

class HostInterfacesLab : public ::testing::Test {
 protected:
  void SetUp() override {
    TB_REQUIRE_ROOT();
    tb::UsePrivateFiles();
    ns_ = spaces_.Add("en");
    ASSERT_FALSE(ns_.empty());
    const std::string n = "ip -n " + ns_ + " ";
    // Created in this order, so the interface indexes follow it. Each
    // interface is one end of a veth pair; its peer carries no address.
    for (const char* v : {"d0", "d1", "v0", "d2"})
      ASSERT_EQ(Sh(n + "link add " + v + " type veth peer name " + v + "p"), 0) << v;
    ASSERT_EQ(Sh(n + "addr add 10.31.0.20/24 dev d0"), 0);
    ASSERT_EQ(Sh(n + "addr add 10.31.0.3/24 dev d0"), 0);
    ASSERT_EQ(Sh(n + "addr add 10.32.0.1/24 dev d1"), 0);
    ASSERT_EQ(Sh(n + "addr add 10.33.0.1/24 dev v0"), 0);
    ASSERT_EQ(Sh(n + "addr add 10.34.0.1/24 dev d2"), 0);
    for (const char* v : {"d0", "d0p", "d1p", "v0", "d2", "d2p"})  // d1 down, v0p down
      ASSERT_EQ(Sh(n + "link set " + v + " up"), 0) << v;
  }
  void TearDown() override { tb::RemovePrivateFiles(); }

  const tIPNODE* Find(const std::vector<tIPNODE>& list, const std::string& prefix) {
    for (const auto& n : list)
      if (n.szDescr.rfind(prefix + " (", 0) == 0) return &n;
    return nullptr;
  }

  tb::Namespaces spaces_;
  std::string ns_;
};

TEST_F(HostInterfacesLab, TableShowsEveryAddressedInterfaceWithItsState) {
  std::vector<tIPNODE> list;
  InNetns(ns_, [&] { EnumHostInterfaces(list); });
  ASSERT_EQ(list.size(), 5u);  // lo, d0, d1, v0, d2 (the peers have no address)
  const tIPNODE* lo = Find(list, "lo");
  ASSERT_NE(lo, nullptr);
  EXPECT_EQ(lo->nType, IF_TYPE_SOFTWARE_LOOPBACK);
  EXPECT_FALSE(IsUsableInterface(*lo));

  EXPECT_EQ(list[1].szDescr, "d0 (veth)");
  EXPECT_EQ(list[1].szIP, "10.31.0.3");  // the lower of its two addresses
  EXPECT_EQ(list[1].nType, IF_TYPE_ETHERNET_CSMACD);
  EXPECT_TRUE(IsUsableInterface(list[1]));

  EXPECT_EQ(list[2].szDescr, "d1 (veth)");
  EXPECT_EQ(list[2].nOperStatus, IF_OPER_STATUS_NON_OPERATIONAL);
  EXPECT_FALSE(IsUsableInterface(list[2]));

  EXPECT_EQ(list[3].szDescr, "v0 (veth)");
  EXPECT_EQ(list[3].nOperStatus, IF_OPER_STATUS_DISCONNECTED);
  EXPECT_TRUE(IsUsableInterface(list[3]));

  EXPECT_EQ(list[4].szIP, "10.34.0.1");
  NicChoiceList c = BuildNicChoices(list, "10.33.0.1");
  ASSERT_EQ(c.entries.size(), 3u);  // d0, v0, d2: neither loopback nor the down d1
  EXPECT_EQ(c.entries[c.nSelected].szDescr, "v0 (veth)");
}

TEST_F(HostInterfacesLab, StoredUsableChoiceIsKeptWithoutWriting) {
  WriteRegString(szRegKeySystem, "NIC_IP", "10.34.0.1");  // usable, but not the first
  const std::string path = SettingsFilePath();
  struct stat before {}, after {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  std::string chosen;
  InNetns(ns_, [&] { chosen = RefreshHostInterfaces(); });
  EXPECT_EQ(chosen, "10.34.0.1");
  EXPECT_EQ(szNicIP, "10.34.0.1");
  EXPECT_EQ(IPNodeList.size(), 5u);
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(HostInterfacesLab, VanishedOrDownChoiceIsReplacedByTheFirstUsableAndStored) {
  for (const char* stored : {"10.99.0.1", "10.32.0.1", "127.0.0.1", ""}) {
    WriteRegString(szRegKeySystem, "NIC_IP", stored);
    InNetns(ns_, [&] { RefreshHostInterfaces(); });
    EXPECT_EQ(szNicIP, "10.31.0.3") << stored;
    EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", "?"), "10.31.0.3") << stored;
  }
  // Nothing usable any more: the choice becomes empty and is stored so.
  ASSERT_EQ(Sh("ip -n " + ns_ + " link set d0 down && ip -n " + ns_ + " link set v0 down && ip -n " +
               ns_ + " link set d2 down"),
            0);
  InNetns(ns_, [&] { RefreshHostInterfaces(); });
  EXPECT_EQ(szNicIP, "");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", "?"), "");
}

TEST_F(HostInterfacesLab, IntegerStoredUnderNicIpIsReported) {
  WriteRegInteger(szRegKeySystem, "NIC_IP", 5);
  try {
    InNetns(ns_, [&] { RefreshHostInterfaces(); });
    ADD_FAILURE() << "no error raised";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'NIC_IP'");
  }
}

TEST_F(HostInterfacesLab, CommandLineListsTheTableAndTheChoice) {
  WriteRegString(szRegKeySystem, "NIC_IP", "10.33.0.1");
  std::string out;
  ASSERT_EQ(tb::Run("ip netns exec " + ns_ + " " + Ctl() + " interfaces", &out), 0) << out;
  EXPECT_NE(out.find("10.31.0.3"), std::string::npos) << out;
  EXPECT_EQ(out.find("10.31.0.20"), std::string::npos) << out;
  // The chosen line is v0's, marked in the last column.
  size_t v0 = out.find("v0 (veth)");
  ASSERT_NE(v0, std::string::npos) << out;
  std::string line = out.substr(v0, out.find('\n', v0) - v0);
  EXPECT_NE(line.find("yes"), std::string::npos) << line;
  EXPECT_EQ(line.back(), '*') << line;
  size_t d1 = out.find("d1 (veth)");
  ASSERT_NE(d1, std::string::npos);
  line = out.substr(d1, out.find('\n', d1) - d1);
  EXPECT_NE(line.find(" no"), std::string::npos) << line;
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), "10.33.0.1") << "read-only command";
}

// ---------------------------------------------------------------------------
// Devices: workstation "ws" with br0 10.77.0.1/24; devices d1 and d2, both
// 192.168.127.254 with their own MAC, each answering on TCP 502 with its name.

class DeviceRoutesLab : public ::testing::Test {
 protected:
  void SetUp() override {
    TB_REQUIRE_ROOT();
    tb::UsePrivateFiles();
    ws_ = spaces_.Add("ws");
    ASSERT_FALSE(ws_.empty());
    const std::string w = "ip -n " + ws_ + " ";
    ASSERT_EQ(Sh(w + "link add br0 type bridge forward_delay 0"), 0);
    ASSERT_EQ(Sh(w + "addr add 10.77.0.1/24 dev br0"), 0);
    ASSERT_EQ(Sh(w + "link set br0 up"), 0);
    for (int i = 1; i <= 2; ++i) {
      const std::string d = spaces_.Add("d" + std::to_string(i));
      ASSERT_FALSE(d.empty());
      const std::string dn = "ip -n " + d + " ";
      const std::string port = "p" + std::to_string(i);
      ASSERT_EQ(Sh(w + "link add " + port + " type veth peer name eth0 netns " + d), 0);
      ASSERT_EQ(Sh(w + "link set " + port + " master br0 up"), 0);
      const std::string mac = i == 1 ? "02:00:5e:10:00:01" : "02:00:5e:10:00:02";
      ASSERT_EQ(Sh(dn + "link set eth0 address " + mac), 0);
      ASSERT_EQ(Sh(dn + "addr add 192.168.127.254/24 dev eth0"), 0);
      ASSERT_EQ(Sh(dn + "link set eth0 up"), 0);
      // A factory-fresh device answers whoever asks: reply on the link.
      ASSERT_EQ(Sh(dn + "route add default dev eth0"), 0);
      pid_t pid = tb::StartListener(d, kDevIP, 502, "dev" + std::to_string(i));
      ASSERT_GT(pid, 0) << "listener in " << d;
      listeners_.push_back(pid);
    }
    RouteNodeList.clear();
  }

  void TearDown() override {
    for (pid_t p : listeners_) tb::StopProcess(p);
    RouteNodeList.clear();
    tb::RemovePrivateFiles();
  }

  std::string Reach() {
    std::string got;
    InNetns(ws_, [&] { got = tb::ConnectAndRead(kDevIP, 502); });
    return got;
  }
  // IPv4 only: IPv6 link-local routes come and go on their own.
  std::string Routes() { return Out("ip -4 -n " + ws_ + " route show table all"); }
  std::string Tagged() { return Out("ip -4 -n " + ws_ + " route show proto 181"); }
  std::string Permanent() { return Out("ip -4 -n " + ws_ + " neigh show nud permanent"); }

  tb::Namespaces spaces_;
  std::string ws_;
  std::vector<pid_t> listeners_;
};

TEST_F(DeviceRoutesLab, DeviceIsReachedOnlyThroughItsEntriesAndTheMacPicksTheDevice) {
  EXPECT_EQ(Reach(), "") << "reachable before any route";

  InNetns(ws_, [&] { EXPECT_TRUE(AddDeviceRoute(kHostIP, kDevIP, kMac1)); });
  const std::string tagged = Tagged();
  EXPECT_NE(tagged.find("192.168.127.254 dev br0"), std::string::npos) << tagged;
  EXPECT_NE(tagged.find("scope link"), std::string::npos) << tagged;
  EXPECT_NE(tagged.find("src 10.77.0.1"), std::string::npos) << tagged;
  EXPECT_NE(tagged.find("metric 20"), std::string::npos) << tagged;
  EXPECT_NE(Permanent().find("02:00:5e:10:00:01"), std::string::npos) << Permanent();
  EXPECT_EQ(Reach(), "dev1");

  InNetns(ws_, [&] { AddDeviceRoute(kHostIP, kDevIP, kMac2); });
  EXPECT_EQ(Reach(), "dev2");
  const std::string perm = Permanent();
  EXPECT_EQ(perm.find("02:00:5e:10:00:01"), std::string::npos) << "entry not replaced: " << perm;
  EXPECT_EQ(RouteNodeList.size(), 1u);  // the address now leads to the second device only

  InNetns(ws_, [&] { RemoveAllDeviceRoutes(); });
  EXPECT_TRUE(RouteNodeList.empty());
  EXPECT_EQ(Tagged(), "");
  EXPECT_EQ(Permanent(), "");
  EXPECT_EQ(Reach(), "");
}

TEST_F(DeviceRoutesLab, EntriesStayUntilTheLastRecordOfTheAddressGoes) {
  InNetns(ws_, [&] {
    EXPECT_TRUE(AddDeviceRoute(kHostIP, kDevIP, kMac1));
    EXPECT_TRUE(AddDeviceRoute(kHostIP, "192.168.127.9", ""));
    EXPECT_TRUE(AddDeviceRoute(kHostIP, kDevIP, kMac1));
    EXPECT_FALSE(RemoveDeviceRoute("192.168.127.77"));
    EXPECT_TRUE(RemoveDeviceRoute(kDevIP));
  });
  ASSERT_EQ(RouteNodeList.size(), 2u);
  EXPECT_NE(Tagged().find("192.168.127.254"), std::string::npos) << "still recorded once";
  EXPECT_NE(Permanent().find("02:00:5e:10:00:01"), std::string::npos);
  InNetns(ws_, [&] { EXPECT_TRUE(RemoveDeviceRoute(kDevIP)); });
  EXPECT_EQ(Tagged().find("192.168.127.254"), std::string::npos) << Tagged();
  EXPECT_NE(Tagged().find("192.168.127.9"), std::string::npos) << Tagged();
  EXPECT_EQ(Permanent(), "");
  InNetns(ws_, [&] { RemoveAllDeviceRoutes(); });
  EXPECT_TRUE(RouteNodeList.empty());
  EXPECT_EQ(Tagged(), "");
}

TEST_F(DeviceRoutesLab, RefusedAdditionsSayWhyAndRecordNothing) {
  const std::string routes = Routes(), perm = Permanent();
  std::string why;
  InNetns(ws_, [&] {
    EXPECT_FALSE(AddDeviceRoute("10.99.0.1", kDevIP, kMac1, &why));
    EXPECT_NE(why.find("10.99.0.1"), std::string::npos) << why;
    EXPECT_FALSE(AddDeviceRoute(kHostIP, "192.168.127", kMac1, &why));
    EXPECT_FALSE(AddDeviceRoute(kHostIP, "224.0.0.1", kMac1, &why));
    EXPECT_FALSE(AddDeviceRoute(kHostIP, kDevIP, "02-00-5E-10-00", &why));
    EXPECT_NE(why.find("02-00-5E-10-00"), std::string::npos) << why;
    // A search answer may claim the host's own address or its gateway.
    EXPECT_FALSE(AddDeviceRoute(kHostIP, kHostIP, kMac1, &why));
    EXPECT_NE(why.find("address of this host"), std::string::npos) << why;
  });
  ASSERT_EQ(Sh("ip -n " + ws_ + " route add default via 10.77.0.254"), 0);
  const std::string withDefault = Routes();
  InNetns(ws_, [&] {
    EXPECT_FALSE(AddDeviceRoute(kHostIP, "10.77.0.254", kMac1, &why));
    EXPECT_NE(why.find("gateway"), std::string::npos) << why;
  });
  EXPECT_EQ(Routes(), withDefault);
  ASSERT_EQ(Sh("ip -n " + ws_ + " route del default"), 0);
  EXPECT_TRUE(RouteNodeList.empty());
  EXPECT_EQ(Routes(), routes);
  EXPECT_EQ(Permanent(), perm);
}

// What the administrator or another program made is used as it is, never
// removed, and a permanent entry naming another MAC is never overwritten.
TEST_F(DeviceRoutesLab, SomebodyElsesEntriesAreUsedAndLeftAlone) {
  const std::string w = "ip -n " + ws_ + " ";
  ASSERT_EQ(Sh(w + "route add 10.88.0.0/16 dev br0"), 0);
  ASSERT_EQ(Sh(w + "route add 10.88.0.0/32 dev br0 metric 50"), 0);
  ASSERT_EQ(Sh(w + "route add 192.168.127.254/32 dev br0 proto static"), 0);
  ASSERT_EQ(Sh(w + "neigh replace 192.168.127.254 lladdr 02:00:5e:10:00:01 nud permanent dev br0"), 0);
  std::string why;
  InNetns(ws_, [&] {
    EXPECT_TRUE(AddDeviceRoute(kHostIP, "10.77.0.0", ""));
    EXPECT_TRUE(AddDeviceRoute(kHostIP, "10.88.0.0", ""));
    EXPECT_TRUE(AddDeviceRoute(kHostIP, kDevIP, kMac1));
  });
  EXPECT_EQ(Reach(), "dev1");
  EXPECT_EQ(Tagged().find("192.168.127.254"), std::string::npos) << "a second route was added: " << Tagged();
  InNetns(ws_, [&] {
    EXPECT_FALSE(AddDeviceRoute(kHostIP, kDevIP, kMac2, &why));
    RemoveAllDeviceRoutes();
  });
  EXPECT_NE(why.find("02-00-5E-10-00-01"), std::string::npos) << why;
  EXPECT_NE(why.find("192.168.127.254"), std::string::npos) << why;
  const std::string routes = Out(w + "route show");
  EXPECT_NE(routes.find("10.77.0.0/24 dev br0 proto kernel"), std::string::npos) << routes;
  EXPECT_NE(routes.find("10.88.0.0/16 dev br0"), std::string::npos) << routes;
  EXPECT_NE(routes.find("10.88.0.0 dev br0 scope link metric 50"), std::string::npos) << routes;
  EXPECT_NE(routes.find("192.168.127.254 dev br0 proto static"), std::string::npos) << routes;
  EXPECT_NE(Permanent().find("192.168.127.254 dev br0 lladdr 02:00:5e:10:00:01 PERMANENT"), std::string::npos);
  EXPECT_EQ(Tagged(), "");
  EXPECT_EQ(Reach(), "dev1");
}

TEST_F(DeviceRoutesLab, RefreshRemovesWhatItRecordedAndChoosesTheBridge) {
  InNetns(ws_, [&] {
    AddDeviceRoute(kHostIP, kDevIP, kMac1);
    EXPECT_EQ(RefreshHostInterfaces(), kHostIP);
  });
  EXPECT_TRUE(RouteNodeList.empty());
  EXPECT_EQ(Tagged(), "");
  EXPECT_EQ(Permanent(), "");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), kHostIP);

  InNetns(ws_, [&] {
    AddDeviceRoute(kHostIP, kDevIP, kMac2);
    ReleaseHostInterfaces();
  });
  EXPECT_TRUE(IPNodeList.empty());
  EXPECT_TRUE(RouteNodeList.empty());
  EXPECT_EQ(Tagged(), "");
  EXPECT_EQ(Permanent(), "");
}

// A run killed without clean-up leaves its tagged routes; the next start
// removes them, but not while that run is alive and never the operator's.
TEST_F(DeviceRoutesLab, RoutesOfAKilledRunAreRemovedAtTheNextStart) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    close(ready[0]);
    if (!tb::EnterNetns(ws_)) _exit(1);
    AddDeviceRoute(kHostIP, kDevIP, kMac1);
    AddDeviceRoute(kHostIP, "192.168.127.253", kMac2);
    (void)!write(ready[1], "r", 1);
    for (;;) pause();
  }
  close(ready[1]);
  char b = 0;
  ASSERT_EQ(read(ready[0], &b, 1), 1);
  close(ready[0]);

  int rc = 1;
  InNetns(ws_, [&] { rc = AddOperatorRoute(kHostIP, "192.168.127.250", "02-00-5E-10-00-07"); });
  ASSERT_EQ(rc, 0);

  int removed = -1;
  InNetns(ws_, [&] { removed = RemoveStaleDeviceRoutes(); });
  EXPECT_EQ(removed, 0) << "the run that owns them is alive";
  EXPECT_NE(Tagged(), "");

  tb::StopProcess(child);
  const std::string before = Tagged();
  EXPECT_NE(before.find("192.168.127.254"), std::string::npos) << before;
  EXPECT_NE(before.find("192.168.127.253"), std::string::npos) << before;

  InNetns(ws_, [&] { removed = RemoveStaleDeviceRoutes(); });
  EXPECT_EQ(removed, 2);
  EXPECT_EQ(Tagged(), "");
  const std::string perm = Permanent();
  EXPECT_EQ(perm.find("192.168.127.254"), std::string::npos) << perm;
  EXPECT_EQ(perm.find("192.168.127.253"), std::string::npos) << perm;

  std::vector<TaggedRoute> left;
  bool listed = false;
  InNetns(ws_, [&] { listed = ListTaggedRoutes(&left); });
  ASSERT_TRUE(listed);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].szDeviceIP, "192.168.127.250");
  EXPECT_EQ(left[0].nProtocol, RTPROT_ORVISTAR_OPERATOR);
  EXPECT_EQ(left[0].szInterface, "br0");
  EXPECT_EQ(left[0].szSource, kHostIP);
  EXPECT_EQ(left[0].nMetric, 20u);
  EXPECT_EQ(left[0].szMAC, "02-00-5E-10-00-07");
}

// Without CAP_NET_ADMIN every change is refused quietly, nothing changes and
// the capability query says so.
TEST_F(DeviceRoutesLab, WithoutNetAdminEverythingIsRefusedQuietly) {
  InNetns(ws_, [&] { AddDeviceRoute(kHostIP, "192.168.127.251", kMac1); });
  const std::string routes = Routes(), perm = Permanent();
  ASSERT_NE(perm, "");

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!tb::EnterNetns(ws_)) _exit(100);
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &hdr, data) != 0) _exit(101);
    data[0].effective &= ~CAP_TO_MASK(CAP_NET_ADMIN);
    data[0].permitted &= ~CAP_TO_MASK(CAP_NET_ADMIN);
    if (syscall(SYS_capset, &hdr, data) != 0) _exit(102);
    int bad = 0;
    if (CanChangeRoutes()) bad |= 1;
    std::string why;
    if (AddDeviceRoute(kHostIP, kDevIP, kMac2, &why) || why.find("cannot add") == std::string::npos) bad |= 8;
    if (DeleteRoutesTo(htonl(0xC0A87FFB)) != -NLE_PERM) bad |= 2;  // 192.168.127.251
    RemoveDeviceRoute("192.168.127.251");
    RemoveAllDeviceRoutes();
    RemoveStaleDeviceRoutes();
    if (AddOperatorRoute(kHostIP, "192.168.127.249", "") == 0) bad |= 4;
    _exit(bad);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: query said yes, 2: delete not refused, 4: add accepted, 8: refusal not reported";
  EXPECT_EQ(Routes(), routes);
  EXPECT_EQ(Permanent(), perm);

  // The command line tells the user how to grant the right.
  std::string out;
  int rc = tb::Run("ip netns exec " + ws_ +
                       " setpriv --inh-caps=-all --bounding-set=-net_admin " + Ctl() +
                       " route add 192.168.127.248 --nic 10.77.0.1",
                   &out);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find("CAP_NET_ADMIN"), std::string::npos) << out;
  EXPECT_EQ(Routes(), routes);
  InNetns(ws_, [&] { EXPECT_TRUE(CanChangeRoutes()); });
}

TEST_F(DeviceRoutesLab, CommandLineAddsListsAndRemovesOperatorEntries) {
  const std::string ctl = "ip netns exec " + ws_ + " " + Ctl() + " route ";
  std::string out;
  ASSERT_EQ(tb::Run(ctl + "add 192.168.127.254 02-00-5e-10-00-02 --nic 10.77.0.1", &out), 0) << out;
  EXPECT_EQ(Reach(), "dev2");
  ASSERT_EQ(tb::Run(ctl + "list", &out), 0) << out;
  size_t at = out.find("192.168.127.254");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string line = out.substr(at, out.find('\n', at) - at);
  for (const char* part : {"br0", "10.77.0.1", "20", "operator", "02-00-5E-10-00-02"})
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;

  // The start-up clean-up of another run leaves operator entries alone.
  int removed = -1;
  InNetns(ws_, [&] { removed = RemoveStaleDeviceRoutes(); });
  EXPECT_EQ(removed, 0);
  EXPECT_EQ(Reach(), "dev2");

  ASSERT_EQ(tb::Run(ctl + "remove 192.168.127.254", &out), 0) << out;
  EXPECT_EQ(Reach(), "");
  EXPECT_EQ(Permanent(), "");
  EXPECT_EQ(tb::Run(ctl + "remove 192.168.127.254", &out), 1) << out;
  ASSERT_EQ(tb::Run(ctl + "list", &out), 0);
  EXPECT_EQ(out.find("192.168.127.254"), std::string::npos) << out;
}

}  // namespace

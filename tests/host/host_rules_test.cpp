// Rules of the host interface table, the interface choice and the address
// texts, checked without touching the host.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netlink/errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/interfaces.h"
#include "host/routes.h"
#include "host/settings.h"

namespace {

using namespace orv;

uint32_t A(const char* dotted) {
  uint32_t a = 0;
  EXPECT_TRUE(ParseIPv4(dotted, &a)) << dotted;
  return a;
}

TEST(AddressText, MacTextRoundTripsInUpperCase) {
  const uint8_t samples[][6] = {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E},
                                {0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A},
                                {0xFF, 0xFE, 0x00, 0x01, 0xA0, 0x0F}};
  EXPECT_EQ(MacToText(samples[0]), "00-1A-2B-3C-4D-5E");
  EXPECT_EQ(MacToText(samples[1]), "0A-0A-0A-0A-0A-0A");
  for (const auto& s : samples) {
    const std::string text = MacToText(s);
    ASSERT_EQ(text.size(), 17u);
    uint8_t back[6] = {};
    ASSERT_TRUE(ParseMacText(text, back)) << text;
    EXPECT_EQ(0, memcmp(back, s, 6)) << text;
  }
  uint8_t lower[6];
  ASSERT_TRUE(ParseMacText("0a-1b-2c-3d-4e-5f", lower));
  EXPECT_EQ(MacToText(lower), "0A-1B-2C-3D-4E-5F");
}

TEST(AddressText, MalformedMacTextsDoNotParseAndLeaveTheBytes) {
  const char* bad[] = {"",
                       "00-1A-2B-3C-4D-5",     // 16 characters
                       "00-1A-2B-3C-4D-5E-",   // 18 characters
                       "00:1A:2B:3C:4D:5E",    // other separator
                       "001A-2B-3C-4D-5E-6",   // dash in the wrong place
                       "00-1A-2B-3C-4D-5G",    // not hexadecimal
                       "00-1A-2B-3C-4D- E",    // blank
                       "+0-1A-2B-3C-4D-5E"};
  for (const char* t : bad) {
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(ParseMacText(t, mac)) << t;
    const uint8_t untouched[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, memcmp(mac, untouched, 6)) << t;
  }
  EXPECT_FALSE(ParseMacText(std::string("00-1A-2B-3C-4D-5E\0", 18), nullptr));
}

TEST(AddressText, Ipv4TextsAreStrictDottedQuads) {
  EXPECT_EQ(IPToText(htonl(0xC0A87FFE)), "192.168.127.254");
  EXPECT_EQ(IPToText(A("10.0.0.1")), "10.0.0.1");
  uint32_t a = 0;
  for (const char* t : {"", "10.1", "1.2.3.256", "1.2.3.4.5", "0x7f.0.0.1", "1.2.3.4 ", "a.b.c.d"})
    EXPECT_FALSE(ParseIPv4(t, &a)) << t;
  EXPECT_FALSE(ParseIPv4(std::string(4096, '1'), &a));
}

TEST(AddressText, OnlyUnicastAddressesCountAsDevices) {
  for (const char* ok : {"192.168.127.254", "10.0.0.0", "1.0.0.1", "223.255.255.254"})
    EXPECT_TRUE(IsDeviceAddress(A(ok))) << ok;
  for (const char* no : {"0.0.0.0", "0.1.2.3", "127.0.0.1", "224.0.0.1", "239.1.1.1",
                         "240.0.0.1", "255.255.255.255"})
    EXPECT_FALSE(IsDeviceAddress(A(no))) << no;
}

// ---- the interface table ----

HostLinkRow Link(int index, const char* name, const char* kind, unsigned arp, unsigned flags) {
  HostLinkRow l;
  l.nIndex = index;
  l.szName = name;
  l.szKind = kind;
  l.nArpType = arp;
  l.nFlags = flags;
  return l;
}

TEST(InterfaceTable, TypesStatusesAndDescriptionsFollowTheLinks) {
  const unsigned upRunning = IFF_UP | IFF_RUNNING;
  std::vector<HostLinkRow> links = {
      Link(1, "lo", "", ARPHRD_LOOPBACK, upRunning | IFF_LOOPBACK),
      Link(2, "enp3s0", "", ARPHRD_ETHER, upRunning),
      Link(3, "br0", "bridge", ARPHRD_ETHER, IFF_UP),  // up, no carrier
      Link(4, "eth9", "", ARPHRD_ETHER, 0),            // administratively down
      Link(5, "noaddr", "", ARPHRD_ETHER, upRunning),
      Link(6, "wg0", "wireguard", ARPHRD_NONE, upRunning),
      Link(7, "wlan0", "", ARPHRD_ETHER, upRunning)};
  links[6].bWireless = true;
  std::vector<HostAddrRow> addrs = {{2, A("10.0.0.2"), A("255.255.255.0")},
                                    {2, A("10.0.0.10"), A("255.255.255.0")},
                                    {1, A("127.0.0.1"), A("255.0.0.0")},
                                    {3, A("172.16.0.1"), A("255.255.0.0")},
                                    {4, A("192.168.1.5"), A("255.255.255.0")},
                                    {6, A("192.168.9.1"), A("255.255.255.0")},
                                    {7, A("192.168.50.3"), A("255.255.255.0")}};
  std::vector<tIPNODE> list;
  BuildInterfaceTable(links, addrs, list);
  ASSERT_EQ(list.size(), 6u);  // "noaddr" has no IPv4 address
  EXPECT_EQ(list[0].szDescr, "lo (loopback)");
  EXPECT_EQ(list[0].nType, IF_TYPE_SOFTWARE_LOOPBACK);
  EXPECT_FALSE(IsUsableInterface(list[0]));
  EXPECT_EQ(list[1].szDescr, "enp3s0 (Ethernet)");
  EXPECT_EQ(list[1].szIP, "10.0.0.2");  // first row of the sorted address table
  EXPECT_EQ(list[1].nType, IF_TYPE_ETHERNET_CSMACD);
  EXPECT_EQ(list[1].nOperStatus, IF_OPER_STATUS_OPERATIONAL);
  EXPECT_EQ(list[2].szDescr, "br0 (bridge)");
  EXPECT_EQ(list[2].nType, IF_TYPE_ETHERNET_CSMACD);
  EXPECT_EQ(list[2].nOperStatus, IF_OPER_STATUS_DISCONNECTED);
  EXPECT_TRUE(IsUsableInterface(list[2]));
  EXPECT_EQ(list[3].nOperStatus, IF_OPER_STATUS_NON_OPERATIONAL);
  EXPECT_FALSE(IsUsableInterface(list[3]));
  EXPECT_EQ(list[4].szDescr, "wg0 (wireguard)");
  EXPECT_EQ(list[4].nType, IF_TYPE_TUNNEL);
  EXPECT_EQ(list[5].szDescr, "wlan0 (wireless)");
  EXPECT_EQ(list[5].nType, IF_TYPE_IEEE80211);
}

std::vector<tIPNODE> SampleTable() {
  return {{"127.0.0.1", "lo (loopback)", IF_TYPE_SOFTWARE_LOOPBACK, IF_OPER_STATUS_OPERATIONAL},
          {"192.168.1.5", "eth9 (Ethernet)", IF_TYPE_ETHERNET_CSMACD, IF_OPER_STATUS_NON_OPERATIONAL},
          {"10.0.0.2", "enp3s0 (Ethernet)", IF_TYPE_ETHERNET_CSMACD, IF_OPER_STATUS_OPERATIONAL},
          {"172.16.0.1", "br0 (bridge)", IF_TYPE_ETHERNET_CSMACD, IF_OPER_STATUS_DISCONNECTED}};
}

TEST(InterfaceChoice, KeepsAUsableStoredAddressElseTakesTheFirstUsable) {
  const auto list = SampleTable();
  bool kept = false;
  EXPECT_EQ(ChooseNicIP(list, "172.16.0.1", &kept), "172.16.0.1");  // not the first, still kept
  EXPECT_TRUE(kept);
  EXPECT_EQ(ChooseNicIP(list, "10.9.9.9", &kept), "10.0.0.2");  // vanished
  EXPECT_FALSE(kept);
  EXPECT_EQ(ChooseNicIP(list, "192.168.1.5", &kept), "10.0.0.2");  // down
  EXPECT_FALSE(kept);
  EXPECT_EQ(ChooseNicIP(list, "127.0.0.1", &kept), "10.0.0.2");  // loopback
  EXPECT_FALSE(kept);
  EXPECT_EQ(ChooseNicIP({list[0], list[1]}, "", &kept), "");  // nothing usable
  EXPECT_FALSE(kept);
}

TEST(InterfaceChoice, SelectionListOffersUsableInterfacesAndSelectsTheLastMatch) {
  auto list = SampleTable();
  list.push_back({"10.0.0.2", "dup0 (dummy)", IF_TYPE_ETHERNET_CSMACD, IF_OPER_STATUS_OPERATIONAL});
  NicChoiceList c = BuildNicChoices(list, "10.0.0.2");
  ASSERT_EQ(c.entries.size(), 3u);
  EXPECT_EQ(c.entries[0].szDescr, "enp3s0 (Ethernet)");
  EXPECT_EQ(c.entries[1].szIP, "172.16.0.1");
  EXPECT_EQ(c.nSelected, 2);
  EXPECT_EQ(BuildNicChoices(list, "1.1.1.1").nSelected, 0);
  EXPECT_EQ(BuildNicChoices({list[0], list[1]}, "").nSelected, -1);
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "/tmp/tb" + std::to_string(getpid()) + "-rules.reg";
    setenv("ORVISTAR_SETTINGS", path_.c_str(), 1);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    std::remove((path_ + ".lock").c_str());
    unsetenv("ORVISTAR_SETTINGS");
  }
  std::string path_;
};

TEST_F(SettingsFile, OkStoresTheSelectedAddressAndAnEmptyListChangesNothing) {
  szNicIP = "10.0.0.2";
  NicChoiceList empty;
  EXPECT_FALSE(ApplyNicChoice(empty, 0));
  EXPECT_FALSE(ApplyNicChoice(empty, -1));
  EXPECT_EQ(szNicIP, "10.0.0.2");
  struct stat st;
  EXPECT_NE(stat(path_.c_str(), &st), 0) << "nothing may be written";

  NicChoiceList c = BuildNicChoices(SampleTable(), "10.0.0.2");
  EXPECT_FALSE(ApplyNicChoice(c, 5));
  ASSERT_TRUE(ApplyNicChoice(c, 1));
  EXPECT_EQ(szNicIP, "172.16.0.1");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", ""), "172.16.0.1");
}

// Malformed input is refused before anything reaches the kernel.
TEST(RouteInputs, ImpossibleEntriesAreRefused) {
  const uint32_t host = A("255.255.255.255");
  EXPECT_EQ(AddHostRoute(A("10.1.0.0"), A("255.255.0.0"), A("10.0.0.1"), A("10.0.0.1"), 20),
            -NLE_INVAL);  // not a host route
  EXPECT_EQ(AddHostRoute(A("10.1.0.0"), A("255.0.0.0"), A("10.0.0.1"), A("10.0.0.1"), 20),
            -NLE_INVAL);  // bits outside the mask
  EXPECT_EQ(AddHostRoute(A("224.0.0.5"), host, A("10.0.0.1"), A("10.0.0.1"), 20), -NLE_INVAL);
  EXPECT_EQ(AddHostRoute(A("10.1.0.9"), host, 0, A("10.0.0.1"), 20), -NLE_INVAL);
  EXPECT_EQ(AddHostRoute(A("10.1.0.9"), host, A("10.0.0.1"), host, 20), -NLE_INVAL);
  EXPECT_EQ(AddStaticArpEntry(A("10.1.0.9"), A("10.0.0.1"), "00-1A-2B-3C-4D"), -NLE_INVAL);
  EXPECT_EQ(AddStaticArpEntry(0, A("10.0.0.1"), "00-1A-2B-3C-4D-5E"), -NLE_INVAL);
  EXPECT_EQ(DeleteRoutesTo(host), -NLE_INVAL);
  int idx = 0;
  uint32_t mask = 0;
  std::vector<HostAddrRow> table = {{3, A("10.0.0.1"), A("255.255.255.0")}};
  EXPECT_FALSE(FindInterfaceByAddress(table, host, &idx, &mask));
  EXPECT_FALSE(FindInterfaceByAddress(table, A("10.0.0.2"), &idx, &mask));
  ASSERT_TRUE(FindInterfaceByAddress(table, A("10.0.0.1"), &idx, &mask));
  EXPECT_EQ(idx, 3);
  EXPECT_EQ(mask, A("255.255.255.0"));
}

// Bad command-line input ends with exit status 2 before anything is changed.
TEST(RouteCommandLine, BadAddressesAndMacsAreUsageErrors) {
  const char* bin = std::getenv("ORV_BIN");
  if (!bin) GTEST_SKIP() << "ORV_BIN not set";
  const std::string ctl = std::string(bin) + "/orvistarctl";
  auto status = [&](const std::string& args) {
    int rc = std::system((ctl + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  EXPECT_EQ(status("route add 192.168.127"), 2);
  EXPECT_EQ(status("route add 192.168.127.254 00-1A-2B-3C-4D"), 2);
  EXPECT_EQ(status("route add 192.168.127.254 00:1A:2B:3C:4D:5E"), 2);
  EXPECT_EQ(status("route add 224.0.0.1"), 2);
  EXPECT_EQ(status("route add 192.168.127.254 --nic 10.0"), 2);
  EXPECT_EQ(status("route add"), 2);
  EXPECT_EQ(status("route remove not-an-address"), 2);
  EXPECT_EQ(status("route frobnicate"), 2);
  EXPECT_EQ(status("interfaces extra"), 2);
}

}  // namespace

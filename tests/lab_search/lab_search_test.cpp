// The search end to end: orvistarctl against the simulated LAN of the lab.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "lab_env.h"

namespace orv::labtest {
namespace {

using nlohmann::json;

std::string DefaultFleet() { return SrcRoot() + "/tools/lab/fleets/default.json"; }

// What a search of the default fleet must list: every known model once, the
// brand-new devices at the factory address, nothing of the unknown model, the
// wrong APID or the malformed datagrams.
const char kExpected[] = R"([
 {"server_name":"Pumpstation-North","model":"K7710-GPRS-C","ip":"10.77.0.11","mac":"00-0A-1B-2C-3D-01","netmask":"255.255.255.0","gateway":"10.77.0.1","firmware":"1.2.1","lock":"Unlock"},
 {"server_name":"Reservoir-T","model":"K7710-HSDPA-IEC-T","ip":"10.77.0.12","mac":"00-0A-1B-2C-3D-02","netmask":"255.255.255.0","gateway":"10.77.0.1","firmware":"1.2","lock":"Unlock"},
 {"server_name":"Substation-1","model":"Tramix 4410-5-RJ45-C","ip":"10.77.0.21","mac":"00-0A-1B-2C-3D-03","netmask":"255.255.255.0","gateway":"10.77.0.1","firmware":"2.0","lock":"Unlock"},
 {"server_name":"Valve-Field-T","model":"Tramix 4410-9-M12-C-T","ip":"10.77.0.22","mac":"00-0A-1B-2C-3D-04","netmask":"255.255.255.0","gateway":"10.77.0.1","firmware":"1.3.5","lock":"Lock"},
 {"server_name":"","model":"K7710-HSDPA-C","ip":"192.168.127.254","mac":"00-0A-1B-2C-3D-05","netmask":"255.255.255.0","gateway":"0.0.0.0","firmware":"1.2.1","lock":"Unlock"},
 {"server_name":"","model":"Tramix 4410-9-RJ45-C","ip":"192.168.127.254","mac":"00-0A-1B-2C-3D-06","netmask":"255.255.255.0","gateway":"0.0.0.0","firmware":"1.2","lock":"Unlock"},
 {"server_name":"","model":"K7710-GPRS-C-T","ip":"192.168.127.254","mac":"00-0A-1B-2C-3D-07","netmask":"255.255.255.0","gateway":"0.0.0.0","firmware":"1.2.1","lock":"Unlock"},
 {"server_name":"Remote-Site","model":"Tramix 4410-5-M12-IEC","ip":"192.168.50.10","mac":"00-0A-1B-2C-3D-08","netmask":"255.255.255.0","gateway":"192.168.50.1","firmware":"1.2.1","lock":"Unlock"},
 {"server_name":"Chatty","model":"K7710-HSDPA-IEC","ip":"10.77.0.13","mac":"00-0A-1B-2C-3D-0A","netmask":"255.255.255.0","gateway":"10.77.0.1","firmware":"1.2.1","lock":"Unlock"},
 {"server_name":"Treatment-Plant-Main-Building-Basement-Level-2-Cabinet-07-AB","model":"Tramix 4410-9-RJ45-IEC","ip":"10.77.0.23","mac":"00-0A-1B-2C-3D-0B","netmask":"255.255.255.0","gateway":"10.77.0.1","firmware":"1.2.1","lock":"Lock"}
])";

const std::vector<std::string> kAllMacs = {
    "00-0A-1B-2C-3D-01", "00-0A-1B-2C-3D-02", "00-0A-1B-2C-3D-03", "00-0A-1B-2C-3D-04",
    "00-0A-1B-2C-3D-05", "00-0A-1B-2C-3D-06", "00-0A-1B-2C-3D-07", "00-0A-1B-2C-3D-08",
    "00-0A-1B-2C-3D-09", "00-0A-1B-2C-3D-0A", "00-0A-1B-2C-3D-0B", "00-0A-1B-2C-3D-0C"};

std::string MacOfEntry(const uint8_t* e) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", e[6], e[7], e[8], e[9], e[10], e[11]);
  return buf;
}

json ParseList(const ProcessResult& r) {
  json j = json::parse(r.out, nullptr, false);
  EXPECT_TRUE(j.is_array()) << "not a JSON array:\n" << r.out << "\nstderr:\n" << r.err;
  return j.is_array() ? j : json::array();
}

std::set<std::string> Macs(const json& list) {
  std::set<std::string> s;
  for (const auto& d : list) s.insert(d.value("mac", ""));
  return s;
}

class LabSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    ORV_REQUIRE_LAB();
    lab_ = std::make_unique<Lab>(DefaultFleet());
    std::string why;
    ASSERT_TRUE(lab_->Up(&why)) << why;
  }
  void TearDown() override { lab_.reset(); }

  json SearchJson(std::vector<std::string> args) {
    args.push_back("--json");
    ProcessResult r = lab_->Search(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ParseList(r);
  }

  std::unique_ptr<Lab> lab_;
};

TEST_F(LabSearch, DefaultFleetGivesExactlyTheExpectedList) {
  const json found = SearchJson({});
  const json expected = json::parse(kExpected);
  ASSERT_EQ(found.size(), expected.size()) << found.dump(1);
  // The order follows the random answer delays; every row must match exactly once.
  std::multiset<std::string> got, want;
  for (const auto& d : found) got.insert(d.dump());
  for (const auto& d : expected) want.insert(d.dump());
  EXPECT_EQ(got, want) << found.dump(1);
}

TEST_F(LabSearch, RequestLogShowsTheRequestGrowingWithAcceptedDevices) {
  const json found = SearchJson({});  // default T = 3: two requests
  ASSERT_EQ(found.size(), 10u);

  // Every device heard the same two broadcasts.
  const auto first = lab_->Requests(kAllMacs[0]);
  ASSERT_EQ(first.size(), 2u) << lab_->LogText(kAllMacs[0]);
  for (const auto& mac : kAllMacs) EXPECT_EQ(lab_->Requests(mac), first) << mac;

  const std::vector<uint8_t> header = {0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(first[0], header);

  // The second carries the ten listed devices plus the wrong-APID one, which
  // passes the filters but has no model; not the unknown model, not the
  // malformed datagrams.
  const auto& req = first[1];
  ASSERT_EQ(req.size(), 8u + 12u * 11u);
  EXPECT_EQ(req[0], 0x01);
  EXPECT_EQ(req[1], 0x00);
  EXPECT_EQ(size_t(req[2]) << 8 | req[3], req.size());
  std::vector<std::string> listedOrder;
  bool sawWrongApid = false;
  for (size_t off = 8; off < req.size(); off += 12) {
    const uint8_t* e = &req[off];
    const std::string mac = MacOfEntry(e);
    const uint32_t apid = e[0] | e[1] << 8 | e[2] << 16 | uint32_t(e[3]) << 24;
    const uint16_t hwid = static_cast<uint16_t>(e[4] | e[5] << 8);
    if (mac == "00-0A-1B-2C-3D-0C") {
      EXPECT_EQ(apid, 0x00000117u);
      EXPECT_EQ(hwid, 0x0117);
      sawWrongApid = true;
      continue;
    }
    EXPECT_EQ(apid, 0x80000000u + hwid) << mac;
    listedOrder.push_back(mac);
  }
  EXPECT_TRUE(sawWrongApid);
  // Entries are in the order of acceptance, which is the order of the list.
  std::vector<std::string> listOrder;
  for (const auto& d : found) listOrder.push_back(d["mac"]);
  EXPECT_EQ(listedOrder, listOrder);
}

TEST_F(LabSearch, FiltersNarrowTheListAndTheRequest) {
  // Start-and-end range: only the three devices reporting .11 to .13.
  json r = SearchJson({"--range", "10.77.0.11-10.77.0.13"});
  EXPECT_EQ(Macs(r), (std::set<std::string>{"00-0A-1B-2C-3D-01", "00-0A-1B-2C-3D-02", "00-0A-1B-2C-3D-0A"}));
  EXPECT_EQ(r.size(), 3u);
  const auto reqs = lab_->Requests(kAllMacs[0]);
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[1].size(), 8u + 12u * 3u) << "only accepted devices enter the request";

  // Network mode judges the reported address: the devices reporting 0.0.0.0
  // are not in 192.168.127.0/24 although they are listed at .254.
  r = SearchJson({"--subnet", "192.168.127.1/255.255.255.0"});
  EXPECT_EQ(Macs(r), (std::set<std::string>{"00-0A-1B-2C-3D-07"}));
  EXPECT_EQ(r.size(), 1u);

  r = SearchJson({"--family", "k7710"});
  EXPECT_EQ(Macs(r), (std::set<std::string>{"00-0A-1B-2C-3D-01", "00-0A-1B-2C-3D-02", "00-0A-1B-2C-3D-05",
                                            "00-0A-1B-2C-3D-07", "00-0A-1B-2C-3D-0A"}));
  r = SearchJson({"--family", "4410"});
  EXPECT_EQ(Macs(r), (std::set<std::string>{"00-0A-1B-2C-3D-03", "00-0A-1B-2C-3D-04", "00-0A-1B-2C-3D-06",
                                            "00-0A-1B-2C-3D-08", "00-0A-1B-2C-3D-0B"}));
  r = SearchJson({"--family", "4410", "--family", "k7710", "--subnet", "10.77.0.1/255.255.255.0"});
  EXPECT_EQ(r.size(), 6u);

  // A reversed range is a usage error, and nothing goes on the wire.
  const size_t before = lab_->Requests(kAllMacs[0]).size();
  ProcessResult bad = lab_->Search({"--range", "10.77.0.20-10.77.0.10"});
  EXPECT_EQ(bad.exitCode, 2) << bad.err;
  EXPECT_FALSE(bad.err.empty());
  EXPECT_EQ(lab_->Requests(kAllMacs[0]).size(), before);
}

TEST_F(LabSearch, LongerSearchRepeatsTheGrownRequestAndListsTheChattyDeviceOnce) {
  // T = 5 makes three requests; the device that answers every request is
  // accepted once although it answers all three.
  const json found = SearchJson({"--cycles", "5"});
  EXPECT_EQ(found.size(), 10u);
  int chatty = 0;
  for (const auto& d : found) chatty += d["mac"] == "00-0A-1B-2C-3D-0A";
  EXPECT_EQ(chatty, 1);
  const auto reqs = lab_->Requests("00-0A-1B-2C-3D-0A");
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(reqs[1].size(), 8u + 12u * 11u);
  EXPECT_EQ(reqs[2], reqs[1]) << "nothing new was accepted after the first round";
}

TEST_F(LabSearch, NicThatIsNotLocalEndsWithTheReason) {
  ProcessResult r = lab_->Search({"--json", "--nic", "10.77.0.99"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("10.77.0.99"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("00-0A-1B"), std::string::npos) << r.out;
  for (const auto& mac : kAllMacs) EXPECT_TRUE(lab_->Requests(mac).empty()) << mac;
}

// The lab script itself: leftovers of a crashed run go away with `lab down`.
TEST(LabScript, DownRemovesWhatACrashedRunLeft) {
  ORV_REQUIRE_LAB();
  Lab lab(DefaultFleet());
  std::string why;
  ASSERT_TRUE(lab.Up(&why)) << why;
  const std::string state = "/run/orvistar-lab/" + lab.name();
  std::ifstream pidFile(state + "/devsim.pid");
  pid_t pid = 0;
  ASSERT_TRUE(pidFile >> pid);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  // A namespace from an even earlier, bigger run of the same name.
  ASSERT_EQ(RunProcess({"ip", "netns", "add", lab.name() + "-d99"}).exitCode, 0);
  // And one of a different lab whose name merely starts the same way.
  const std::string other = lab.name() + "0-d1";
  ASSERT_EQ(RunProcess({"ip", "netns", "add", other}).exitCode, 0);

  ProcessResult down = RunProcess({lab.LabScript(), "down", "--name", lab.name()});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  const std::string list = RunProcess({"ip", "netns", "list"}).out;
  EXPECT_EQ(list.find(lab.name() + "-"), std::string::npos) << list;
  EXPECT_NE(list.find(other), std::string::npos) << "another lab's namespace was removed";
  RunProcess({"ip", "netns", "del", other});
  struct stat st;
  EXPECT_NE(stat(state.c_str(), &st), 0) << state << " still exists";
}

TEST(LabScript, RejectedFleetLeavesNothingBehind) {
  ORV_REQUIRE_LAB();
  char path[] = "/tmp/tc-fleet-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string bad = R"({"devices":[{"hwid":"0x0115","mac":"00-0A-1B-2C-3D-01","ip":"10.77.0.300"}]})";
  ASSERT_EQ(write(fd, bad.data(), bad.size()), static_cast<ssize_t>(bad.size()));
  close(fd);
  Lab lab(path);
  std::string why;
  EXPECT_FALSE(lab.Up(&why));
  EXPECT_NE(why.find("10.77.0.300"), std::string::npos) << why;
  const std::string list = RunProcess({"ip", "netns", "list"}).out;
  EXPECT_EQ(list.find(lab.name() + "-"), std::string::npos) << list;
  unlink(path);
}

// A generated fleet on a foreign subnet: every device answers through its
// on-link route and is found in one default search.
TEST(LabScale, GeneratedFleetIsFoundCompletely) {
  ORV_REQUIRE_LAB();
  ProcessResult gen = RunProcess({SrcRoot() + "/tools/lab/genfleet", "120"});
  ASSERT_EQ(gen.exitCode, 0) << gen.err;
  char path[] = "/tmp/tc-fleet-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, gen.out.data(), gen.out.size()), static_cast<ssize_t>(gen.out.size()));
  close(fd);
  {
    Lab lab(path);
    std::string why;
    ASSERT_TRUE(lab.Up(&why)) << why;
    ProcessResult r = lab.Search({"--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json found = ParseList(r);
    EXPECT_EQ(found.size(), 120u);
    std::set<std::string> macs = Macs(found);
    EXPECT_EQ(macs.size(), 120u);
    EXPECT_EQ(macs.count("00-0A-1B-00-00-01"), 1u);
    EXPECT_EQ(macs.count("00-0A-1B-00-00-78"), 1u);
    for (const auto& d : found) EXPECT_EQ(d["ip"].get<std::string>().rfind("10.78.", 0), 0u) << d.dump();
  }
  unlink(path);
}

}  // namespace
}  // namespace orv::labtest

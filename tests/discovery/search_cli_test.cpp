// orvistarctl search arguments and early ends. Binds only to addresses that are
// not on this host, or searches inside a private namespace, so nothing leaves.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct CtlRun {
  int status = -1;
  std::string out;
  std::string err;
};

class SearchCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("ORV_BIN");
    if (!bin) GTEST_SKIP() << "ORV_BIN not set (run through ctest)";
    exe_ = fs::path(bin) / "orvistarctl";
    dir_ = fs::temp_directory_path() / ("orv-search-cli-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    settings_ = dir_ / "system.reg";
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  CtlRun Ctl(const std::string& args) { return CtlGlobal("", args); }
  CtlRun CtlGlobal(const std::string& globals, const std::string& args) {
    CtlRun r;
    const fs::path out = dir_ / "out", err = dir_ / "err";
    const std::string cmd = prefix_ + "env ORVISTAR_SETTINGS='" + settings_.string() + "' '" + exe_.string() + "' " +
                            globals + " search " + args +
                            " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int w = std::system(cmd.c_str());
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path exe_, dir_, settings_;
  std::string prefix_;  // e.g. "ip netns exec NS "
};

TEST_F(SearchCli, BadArgumentsExitWithUsageStatus) {
  const std::pair<const char*, const char*> cases[] = {
      {"--range 1.2.3-1.2.3.9", "Invalid Start IP address"},
      {"--range 10.0.0.1-10.0.0.256", "Invalid End IP address"},
      {"--range 0.0.0.0-10.0.0.1", "Illegal Start IP address"},
      {"--range 10.0.0.9-10.0.0.1", "Start IP address must be less than end IP address"},
      {"--range 10.0.0.1", "START-END"},
      {"--range 10.0..1-10.0.0.9", "Invalid Start IP address"},
      {"--subnet 10.0.0.1/255.255.0.255", "Illegal network mask"},
      {"--subnet 10.0.0.1/255.255.0", "Invalid network mask"},
      {"--subnet 10.0.0.1", "START/MASK"},
      {"--range 10.0.0.1-10.0.0.9 --subnet 10.0.0.1/255.0.0.0", "once"},
      {"--family k7711", "k7710 or 4410"},
      {"--cycles 0", "--cycles"},
      {"--cycles x3", "--cycles"},
      {"--nic", "needs a value"},
      {"--nic 10.1", "not an IPv4 address"},
      {"--bogus", "unknown option"},
  };
  for (auto [args, message] : cases) {
    const CtlRun r = Ctl(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(message), std::string::npos) << args << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << args;
  }
}

TEST_F(SearchCli, EarlyEndsAreReportedAndSettingsNeverWritten) {
  // 192.0.2.1 (documentation range) is not on this host: bind fails, nothing sent.
  CtlRun r = Ctl("--nic 192.0.2.1 --cycles 2 --json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("192.0.2.1:13000"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not an address of this host"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(fs::exists(settings_));
}

// Without --nic the interface is chosen as the window chooses it, without
// storing the choice. Runs in a namespace of its own so the search it starts
// reaches nothing outside it.
TEST_F(SearchCli, DefaultInterfaceFollowsTheChoiceRuleWithoutWritingSettings) {
  if (::geteuid() != 0) {
    if (std::getenv("CI")) FAIL() << "needs root for a private network namespace";
    GTEST_SKIP() << "needs root for a private network namespace";
  }
  const std::string ns = "tdisc" + std::to_string(::getpid());
  auto sh = [](const std::string& cmd) { return std::system(cmd.c_str()); };
  ASSERT_EQ(sh("ip netns add " + ns), 0);
  struct Cleanup {
    std::string ns;
    ~Cleanup() { std::system(("ip netns del " + ns + " 2>/dev/null").c_str()); }
  } cleanup{ns};
  ASSERT_EQ(sh("ip -n " + ns + " link set lo up"), 0);

  // Only the loopback: nothing usable, a clear error.
  prefix_ = "ip netns exec " + ns + " ";
  CtlRun r = Ctl("--cycles 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no usable network interface"), std::string::npos) << r.err;

  // A veth pair with both ends inside the namespace: the broadcast stays there.
  ASSERT_EQ(sh("ip -n " + ns + " link add d0 type veth peer name d1 && ip -n " + ns +
               " addr add 10.99.0.1/24 dev d0 && ip -n " + ns + " link set d1 up && ip -n " + ns +
               " link set d0 up"),
            0);
  // A stored address that names no interface gives way to the first usable one.
  {
    std::ofstream s(settings_);
    s << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VORN\\Orvistar\\System]\r\n"
         "\"NIC_IP\"=\"192.0.2.7\"\r\n\"Search_Timeout\"=dword:00000002\r\n";
  }
  const std::string content = Slurp(settings_);
  const auto before = fs::last_write_time(settings_);
  prefix_ = "ip netns exec " + ns + " ";
  r = CtlGlobal("--trace", "--json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[]\n");
  EXPECT_NE(r.err.find("10.99.0.1"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(settings_), content);
  EXPECT_EQ(fs::last_write_time(settings_), before);
}

TEST_F(SearchCli, HelpNamesEveryOption) {
  const CtlRun r = Ctl("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* opt : {"--nic", "--cycles", "--range", "--subnet", "--family", "--json", "--default-rcvbuf"}) {
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  }
}

}  // namespace

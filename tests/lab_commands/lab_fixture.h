#pragma once
// A simulated lab per test: brings up the namespaces and devsim with the
// test's fleet, runs orvistarctl in the workstation namespace and reads the
// devices' request logs. Needs root; skips without it (fails under CI).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace orv::labtest {

struct Proc {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

inline std::string Env(const char* name, const char* def = "") {
  const char* v = std::getenv(name);
  return v ? v : def;
}

// Callback with the child's pid and its output so far, after each read.
using OutputHook = std::function<void(pid_t, const std::string& out, const std::string& err)>;

// Runs argv with stdin from /dev/null; onOutput may act on the child (e.g.
// send a signal) while its output is collected.
inline Proc RunProc(const std::vector<std::string>& argv, const OutputHook& onOutput = nullptr) {
  int po[2], pe[2];
  if (pipe2(po, O_CLOEXEC) != 0 || pipe2(pe, O_CLOEXEC) != 0) return {};  // no leak into daemons
  pid_t pid = fork();
  if (pid == 0) {
    int nul = open("/dev/null", O_RDONLY);
    dup2(nul, 0);
    dup2(po[1], 1);
    dup2(pe[1], 2);
    close(po[0]);
    close(pe[0]);
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execvp(a[0], a.data());
    _exit(127);
  }
  close(po[1]);
  close(pe[1]);
  Proc r;
  pollfd fds[2] = {{po[0], POLLIN, 0}, {pe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, 200) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      if (onOutput) onOutput(pid, r.out, r.err);
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

inline std::string HexOf(const std::vector<uint8_t>& b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t x : b) {
    s.push_back(d[x >> 4]);
    s.push_back(d[x & 15]);
  }
  return s;
}

// One frame of a request log.
struct LoggedFrame {
  std::string hex;
  uint16_t tid() const { return static_cast<uint16_t>(std::stoul(hex.substr(0, 4), nullptr, 16)); }
  std::string fc() const { return hex.substr(14, 2); }
  std::string addr() const { return hex.substr(16, 4); }
  std::string count() const { return hex.substr(20, 4); }
  // Byte count and data of the multiple writes; "" for the 12-byte requests.
  std::string data() const { return hex.size() > 24 ? hex.substr(24) : ""; }
};

class LabTest : public ::testing::Test {
 protected:
  std::string name_;
  std::filesystem::path dir_;
  bool up_ = false;

  static std::string LabScript() { return Env("ORV_SRC", ".") + "/tools/lab/lab"; }
  static std::string Ctl() { return Env("ORV_BIN", "build/bin") + "/orvistarctl"; }

  // Brings up a lab whose devices are the given fleet entries. Call first.
  void Up(const nlohmann::json& devices) {
    if (geteuid() != 0) {
      if (!Env("CI").empty()) FAIL() << "lab tests need root (CI is set, so this is a failure)";
      GTEST_SKIP() << "lab tests need root for network namespaces";
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = "td2" + std::to_string(getpid());
    dir_ = std::filesystem::temp_directory_path() / ("td2lab-" + std::to_string(getpid()) + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "logs");
    std::ofstream(dir_ / "fleet.json") << nlohmann::json{{"devices", devices}}.dump(1);
    setenv("ORVISTAR_SETTINGS", (dir_ / "settings.reg").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
    Proc p = RunProc({LabScript(), "up", "--name", name_, "--fleet", (dir_ / "fleet.json").string(), "--logdir",
                      (dir_ / "logs").string()});
    ASSERT_EQ(p.status, 0) << p.err << p.out;
    up_ = true;
  }

  void TearDown() override {
    if (up_) RunProc({LabScript(), "down", "--name", name_});
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // orvistarctl inside the workstation namespace.
  Proc Ctl(std::vector<std::string> args, const OutputHook& onOutput = nullptr) {
    std::vector<std::string> argv = {LabScript(), "exec", "--name", name_, "--", Ctl()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProc(argv, onOutput);
  }
  // A device command on the lab's interface with a short search.
  Proc Device(std::vector<std::string> args) {
    args.insert(args.end(), {"--nic", "10.77.0.1", "--cycles", "2", "--json"});
    return Ctl(args);
  }
  Proc Exec(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {LabScript(), "exec", "--name", name_, "--"});
    return RunProc(argv);
  }

  static nlohmann::json Results(const Proc& p) {
    try {
      return nlohmann::json::parse(p.out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not JSON: " << p.out << "\nstderr: " << p.err;
      return nlohmann::json::object();
    }
  }
  // Result of the device with this MAC in a JSON report (-100 when absent).
  static int ResultOf(const nlohmann::json& j, const std::string& mac) {
    if (!j.contains("devices")) return -100;
    for (const auto& d : j["devices"])
      if (d["mac"] == mac) return d["result"].get<int>();
    return -100;
  }
  static nlohmann::json EntryOf(const nlohmann::json& j, const std::string& mac) {
    for (const auto& d : j.value("devices", nlohmann::json::array()))
      if (d["mac"] == mac) return d;
    return nlohmann::json::object();
  }

  // TCP frames the device with this MAC received, in order.
  std::vector<LoggedFrame> Frames(const std::string& mac) {
    std::vector<LoggedFrame> out;
    std::ifstream in(dir_ / "logs" / (mac + ".log"));
    std::string line;
    while (std::getline(in, line)) {
      auto p = line.find(" tcp ");
      if (p != std::string::npos) out.push_back({line.substr(p + 5)});
    }
    return out;
  }
  std::string Log(const std::string& mac) {
    std::ifstream in(dir_ / "logs" / (mac + ".log"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The search as JSON (list of devices).
  nlohmann::json Search() {
    Proc p = Ctl({"search", "--nic", "10.77.0.1", "--cycles", "2", "--json"});
    EXPECT_EQ(p.status, 0) << p.err;
    try {
      return nlohmann::json::parse(p.out);
    } catch (...) {
      return nlohmann::json::array();
    }
  }
  static nlohmann::json Found(const nlohmann::json& list, const std::string& mac) {
    for (const auto& d : list)
      if (d["mac"] == mac) return d;
    return nlohmann::json::object();
  }
  std::filesystem::path Dir() const { return dir_; }
};

// Fleet entry helper: a K7710-GPRS-C at 10.77.0.<host> with quick search answers.
inline nlohmann::json Dev(const std::string& mac, int host, nlohmann::json extra = nlohmann::json::object()) {
  nlohmann::json d = {{"hwid", "0x0115"},
                      {"mac", mac},
                      {"ip", "10.77.0." + std::to_string(host)},
                      {"netmask", "255.255.255.0"},
                      {"gateway", "10.77.0.1"},
                      {"server_name", "rtu-" + std::to_string(host)}};
  nlohmann::json faults = {{"delay_ms", nlohmann::json::array({0, 20})}, {"restart_offline_ms", 500}};
  if (extra.contains("faults")) faults.update(extra["faults"]);
  extra.erase("faults");
  d.update(extra);
  d["faults"] = faults;
  return d;
}

}  // namespace orv::labtest

#include "lab_env.h"

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <sstream>

namespace orv::labtest {

std::string SrcRoot() {
  const char* s = std::getenv("ORV_SRC");
  return s ? s : ".";
}

std::string BinDir() {
  const char* s = std::getenv("ORV_BIN");
  return s ? s : "build/bin";
}

std::string LabUnavailableReason() {
  if (geteuid() != 0) return "needs root for network namespaces (run ctest as root, e.g. with sudo)";
  if (access("/usr/sbin/ip", X_OK) != 0 && access("/sbin/ip", X_OK) != 0 && access("/usr/bin/ip", X_OK) != 0)
    return "iproute2 (ip) is not installed";
  for (const char* b : {"devsim", "orvistarctl"})
    if (access((BinDir() + "/" + b).c_str(), X_OK) != 0) return BinDir() + "/" + b + " is not built";
  return "";
}

Lab::Lab(std::string fleetPath) : fleet_(std::move(fleetPath)) {
  static std::atomic<int> counter{0};
  name_ = "tc" + std::to_string(getpid()) + "x" + std::to_string(counter++);
  char tmpl[] = "/tmp/tc-lab-XXXXXX";
  if (char* d = mkdtemp(tmpl)) tmpDir_ = d;
  logDir_ = tmpDir_ + "/logs";
  mkdir(logDir_.c_str(), 0755);
}

Lab::~Lab() {
  RunProcess({LabScript(), "down", "--name", name_}, 120000);
  if (!tmpDir_.empty() && tmpDir_.rfind("/tmp/tc-lab-", 0) == 0) RunProcess({"rm", "-rf", tmpDir_});
}

bool Lab::Up(std::string* why) {
  ProcessResult r = RunProcess({LabScript(), "up", "--name", name_, "--fleet", fleet_, "--logdir", logDir_}, 300000,
                               {"ORV_BIN=" + BinDir()});
  up_ = r.exitCode == 0;
  if (!up_ && why) *why = "lab up failed (" + std::to_string(r.exitCode) + "): " + r.out + r.err;
  return up_;
}

ProcessResult Lab::Exec(const std::vector<std::string>& cmd, int timeoutMs) {
  std::vector<std::string> argv = {LabScript(), "exec", "--name", name_, "--"};
  argv.insert(argv.end(), cmd.begin(), cmd.end());
  return RunProcess(argv, timeoutMs, {"ORVISTAR_SETTINGS=" + tmpDir_ + "/system.reg"});
}

ProcessResult Lab::Search(const std::vector<std::string>& args) {
  std::vector<std::string> cmd = {BinDir() + "/orvistarctl", "search", "--nic", "10.77.0.1"};
  cmd.insert(cmd.end(), args.begin(), args.end());
  return Exec(cmd);
}

std::string Lab::LogText(const std::string& mac) const {
  std::ifstream in(logDir_ + "/" + mac + ".log");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::vector<uint8_t>> Lab::Requests(const std::string& mac) const {
  std::vector<std::vector<uint8_t>> out;
  std::istringstream in(LogText(mac));
  std::string line;
  while (std::getline(in, line)) {
    // "<time> <MAC> udp <hex>"
    std::istringstream f(line);
    std::string time, m, tag, hex;
    if (!(f >> time >> m >> tag) || tag != "udp") continue;
    f >> hex;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    out.push_back(std::move(bytes));
  }
  return out;
}

}  // namespace orv::labtest

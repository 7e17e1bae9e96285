#include "batch/operations_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace orv {
namespace {

std::string TimeText(const char* format) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

// Creates every missing folder of path's parent.
bool MakeParents(const std::string& path) {
  for (std::size_t p = path.find('/', 1); p != std::string::npos; p = path.find('/', p + 1)) {
    const std::string dir = path.substr(0, p);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string UserName() {
  if (const char* u = std::getenv("SUDO_USER"); u && *u) return u;
  if (passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
  if (const char* u = std::getenv("USER")) return u;
  return std::to_string(::getuid());
}

}  // namespace

std::string NowIso8601() {
  std::string s = TimeText("%Y-%m-%dT%H:%M:%S%z");
  if (s.size() >= 5) s.insert(s.size() - 2, ":");  // +0100 -> +01:00
  return s;
}

std::string NowLocalText() { return TimeText("%Y-%m-%d %H:%M:%S"); }

nlohmann::json ToJson(const OperationRecord& r) {
  nlohmann::json j = {{"time", r.time.empty() ? NowIso8601() : r.time},
                      {"user", r.user.empty() ? UserName() : r.user},
                      {"nic", r.nic},
                      {"operation", r.operation},
                      {"mac", r.mac},
                      {"address", r.address},
                      {"model", r.model},
                      {"result", r.result},
                      {"text", r.text},
                      {"seconds", r.seconds}};
  if (r.imageSize >= 0) j["image_size"] = r.imageSize;
  if (r.imageCrc >= 0) {
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(r.imageCrc & 0xFFFF));
    j["image_crc"] = crc;
  }
  return j;
}

OperationsLog::OperationsLog(std::string path) : path_(path.empty() ? DefaultPath() : std::move(path)) {
  onWarning = [](const std::string& s) { std::fprintf(stderr, "warning: %s\n", s.c_str()); };
}

std::string OperationsLog::DefaultPath() {
  std::string base;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/') {
    base = x;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      passwd* pw = ::getpwuid(::getuid());
      home = pw ? pw->pw_dir : "/tmp";
    }
    base = std::string(home) + "/.local/state";
  }
  return base + "/orvistar/operations.jsonl";
}

bool OperationsLog::Append(const OperationRecord& record) {
  const std::string line = ToJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> guard(mutex_);
  std::string failure;
  int fd = -1;
  if (!MakeParents(path_)) {
    failure = std::strerror(errno);
  } else if ((fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)) < 0) {
    failure = std::strerror(errno);
  } else {
    // One write of the whole line under the lock: readers and other writers
    // see whole lines only.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    const ssize_t n = ::write(fd, line.data(), line.size());
    if (n < 0) failure = std::strerror(errno);
    else if (static_cast<std::size_t>(n) != line.size()) failure = "short write";
    ::flock(fd, LOCK_UN);
    if (::close(fd) != 0 && failure.empty()) failure = std::strerror(errno);
  }
  if (failure.empty()) return true;
  if (!warned_) {
    warned_ = true;
    if (onWarning) onWarning("cannot write the operations log " + path_ + ": " + failure);
  }
  return false;
}

std::vector<nlohmann::json> OperationsLog::Read(const std::string& path) {
  std::vector<nlohmann::json> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_object()) out.push_back(std::move(j));
  }
  return out;
}

}  // namespace orv

#pragma once
// The operations log: one JSON line per device operation, appended by every
// run of the window and of orvistarctl to
// ${XDG_STATE_HOME:-$HOME/.local/state}/orvistar/operations.jsonl.
// Lines are written whole with O_APPEND under an exclusive lock, so concurrent
// runs never interleave; a log that cannot be written warns once and never
// fails the operation it records.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orv {

struct OperationRecord {
  std::string time;          // local time, ISO 8601 with offset
  std::string user;
  std::string nic;           // host interface address
  std::string operation;     // "restart", "upgrade", ...
  std::string mac, address, model;
  int32_t result = -1;
  std::string text;
  double seconds = 0;
  int64_t imageSize = -1;    // upgrades only
  int32_t imageCrc = -1;     // upgrades only
};

nlohmann::json ToJson(const OperationRecord& r);

class OperationsLog {
 public:
  // Empty path: the default place.
  explicit OperationsLog(std::string path = std::string());
  static std::string DefaultPath();

  // Appends one line; false when it could not be written (warned once).
  bool Append(const OperationRecord& record);
  const std::string& Path() const { return path_; }

  // Where the one warning goes (default: stderr).
  std::function<void(const std::string&)> onWarning;

  // Every record of a log file (lines that are not JSON objects are skipped).
  static std::vector<nlohmann::json> Read(const std::string& path);

 private:
  std::string path_;
  std::mutex mutex_;
  bool warned_ = false;
};

// Current local time as "YYYY-MM-DDTHH:MM:SS+HH:MM" and "YYYY-MM-DD HH:MM:SS".
std::string NowIso8601();
std::string NowLocalText();

}  // namespace orv

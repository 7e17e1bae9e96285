#pragma once
// The device loop shared by every batch front end (the window's dialogs and
// orvistarctl): devices in inventory order, one operation, a stop token, the
// device's route before its turn, and reports per device through hooks. The
// runner itself is synchronous; the caller chooses the thread it runs on. With
// one job the hooks are called on that thread; with several, devices run on
// worker threads and each hook is called on the thread serving its device,
// never two hooks at once.
#include <atomic>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/firmware_file.h"
#include "devices/io_mod_remote_e.h"

namespace orv {

constexpr int kMaxBatchJobs = 64;
constexpr int kRouteWaitMs = 30000;

enum class BatchOp { Restart, Reset, Locate, Unlock, SetIp, Upgrade, Export, Import };

// "Restart", "Reset", "Locate", "Unlock", "IP Change", "Upgrade", "Export", "Import".
const char* BatchOpName(BatchOp op);
// The short name the log and the reports use: "restart", ..., "set-ip", ...
const char* BatchOpKey(BatchOp op);

// Stop request of one run. Once the last device's turn has begun the token is
// closed: a later request is refused, since that device cannot be stopped.
class StopToken {
 public:
  // True when this call asked for the stop (not already asked, not closed).
  bool Request() {
    int open = kOpen;
    return state_.compare_exchange_strong(open, kRequested);
  }
  bool Requested() const { return state_.load() == kRequested; }
  // Refuses further requests; returns whether a stop was asked before.
  bool Close() {
    int open = kOpen;
    if (state_.compare_exchange_strong(open, kClosed)) return false;
    return state_.load() == kRequested;
  }
  bool Closed() const { return state_.load() == kClosed; }

 private:
  static constexpr int kOpen = 0, kRequested = 1, kClosed = 2;
  std::atomic<int> state_{kOpen};
};

// One device of a run, copied from the inventory when the run is set up so
// that nobody needs to read the module while the run is under way.
struct BatchDevice {
  TIOModRemoteE* module = nullptr;  // not owned
  std::string mac, ip, model, serverName, firmware, lockStatus, password;
  std::string newAddress;  // IP change
  std::string exportPath;  // export: the final file name
};

// A device of the inventory as a run needs it.
BatchDevice BatchDeviceOf(TIOMod& module, const std::string& model);

struct BatchResult {
  bool ran = false;
  int32_t code = -1;
  std::string text;        // "Success", "Fail", or an address-mode text of the IP change
  std::string finishedAt;  // local time, "YYYY-MM-DD HH:MM:SS"
  double seconds = 0;
  int32_t blocks = -1;     // upgrade: progress steps made
  std::string note;        // why it failed, where the file went, ...
};

// "Success" for 0, "Fail" otherwise; the IP change names the address modes
// (51 "DHCP", 52 "DHCPBOOTP", 53 "BOOTP", 54 "PPPOE", other codes from 50 up: "").
std::string BatchResultText(BatchOp op, int32_t code);

// The four bytes (first octet first) a device receives for an address text,
// read the one way the address checks read it: four decimal parts, a leading
// zero staying decimal ("010.1.1.1" is 10.1.1.1). False for anything else.
bool DeviceAddressBytes(const std::string& text, uint8_t out[4]);

// The host's route table as the runner uses it (tests replace it).
struct BatchRoutes {
  // False (with *error) when the device cannot be given its entries; the
  // device then fails without being contacted.
  std::function<bool(const std::string& localIP, const std::string& deviceIP,
                     const std::string& mac, std::string* error)> add;
  std::function<void(const std::string& deviceIP)> remove;
  // AddDeviceRoute / RemoveDeviceRoute; an address another run holds for
  // another device is waited for up to kRouteWaitMs.
  static BatchRoutes Host();
};

// How a pause passes (tests inject one that only records).
class BatchClock {
 public:
  virtual ~BatchClock() = default;
  virtual void SleepMs(int32_t ms);
};

class OperationsLog;

struct BatchJob {
  BatchOp op = BatchOp::Restart;
  std::string localIP;  // host interface for the device routes
  std::shared_ptr<const FirmwareImage> firmware;        // upgrade
  std::shared_ptr<const std::vector<uint8_t>> config;   // import
  uint16_t locateValue = 0x0100;
  bool unlockWithGiven = false;
  int32_t pauseAfterMs = 0;          // after each device, also after a failure
  bool removeRouteAfterEach = false; // else the routes stay recorded for the caller
  // The stop token closes when device i begins with i + 1 >= this count
  // (0: the number of devices).
  std::size_t stopCloseCount = 0;
  // Devices served at once (1 to kMaxBatchJobs). Devices that share an address
  // are never served together: their static ARP entry decides which answers.
  // With more than one job each device's route goes when its turn ends.
  int jobs = 1;
  // The device operation; empty: the module's own command for `op`. An
  // export always goes through the file rule of ExportToFile; exportTransfer
  // replaces only the device's part of it (empty: the module's muExportDev).
  std::function<int32_t(BatchDevice& device, TProgressBar* progress)> operation;
  std::function<int32_t(BatchDevice& device, std::FILE* file)> exportTransfer;
};

struct BatchHooks {
  std::function<void(std::size_t index, bool last)> started;
  std::function<void(std::size_t index, int32_t blocks)> progress;
  std::function<void(std::size_t index, const BatchResult& result)> finished;
};

struct BatchSummary {
  bool stopped = false;   // a stop request ended the run early
  bool aborted = false;   // the run could not go on (abortMessage says why)
  std::string abortMessage;
  std::size_t ran = 0;
  std::vector<BatchResult> results;  // one per device, in device order
};

// Runs job over devices, one after the other or job.jobs at a time; a stop
// request starts no further device and waits for those under way. log may be
// null; clock null: real sleeping (shared by the workers, so it must be
// thread-safe when jobs > 1).
BatchSummary RunBatch(const BatchJob& job, std::vector<BatchDevice>& devices, StopToken& stop,
                      const BatchHooks& hooks, const BatchRoutes& routes,
                      BatchClock* clock = nullptr, OperationsLog* log = nullptr);

// Export into `path` through a temporary file in the same folder that replaces
// the final name only when the transfer and every write succeeded. Returns the
// device result, or -1 with *error set when the temporary file cannot be made.
// transfer is the device's part (muExportDev).
int32_t ExportToFile(const std::function<int32_t(std::FILE*)>& transfer, const std::string& path,
                     std::string* error);

// One CSV field: quoted (quotes doubled) when it holds a comma, quote or line break.
std::string CsvField(const std::string& s);

// The results of a run as CSV: a header line, then per device
// #, Server Name, Model, IP Address, MAC Address, Firmware Ver., Status,
// the operation's result column, and the time the device finished.
std::string BatchResultsCsv(const std::string& operationColumn,
                            const std::vector<BatchDevice>& devices,
                            const std::vector<BatchResult>& results);

}  // namespace orv

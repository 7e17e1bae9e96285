#include "batch/batch_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <cstdio>
#include <cstring>
#include <thread>

#include "batch/operations_log.h"
#include "common/trace.h"
#include "discovery/ip_check.h"
#include "host/interfaces.h"
#include "host/routes.h"

namespace orv {

const char* BatchOpName(BatchOp op) {
  switch (op) {
    case BatchOp::Restart: return "Restart";
    case BatchOp::Reset: return "Reset";
    case BatchOp::Locate: return "Locate";
    case BatchOp::Unlock: return "Unlock";
    case BatchOp::SetIp: return "IP Change";
    case BatchOp::Upgrade: return "Upgrade";
    case BatchOp::Export: return "Export";
    case BatchOp::Import: return "Import";
  }
  return "";
}

const char* BatchOpKey(BatchOp op) {
  switch (op) {
    case BatchOp::Restart: return "restart";
    case BatchOp::Reset: return "reset";
    case BatchOp::Locate: return "locate";
    case BatchOp::Unlock: return "unlock";
    case BatchOp::SetIp: return "set-ip";
    case BatchOp::Upgrade: return "upgrade";
    case BatchOp::Export: return "export";
    case BatchOp::Import: return "import";
  }
  return "";
}

std::string BatchResultText(BatchOp op, int32_t code) {
  if (code == 0) return "Success";
  if (op == BatchOp::SetIp) {
    switch (code) {
      case 51: return "DHCP";
      case 52: return "DHCPBOOTP";
      case 53: return "BOOTP";
      case 54: return "PPPOE";
    }
    if (code >= 50) return "";
  }
  return "Fail";
}

bool DeviceAddressBytes(const std::string& text, uint8_t out[4]) {
  const std::optional<uint32_t> n = ParseIPText(text);
  if (!n) return false;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(*n >> (24 - 8 * i));
  return true;
}

BatchDevice BatchDeviceOf(TIOMod& m, const std::string& model) {
  BatchDevice d;
  d.module = dynamic_cast<TIOModRemoteE*>(&m);
  d.mac = m.szMacAddress;
  d.ip = m.szConnection;
  d.model = model;
  d.serverName = m.szServerName;
  d.firmware = m.szFirmwareVersion;
  d.lockStatus = m.szLockStatus;
  d.password = m.szPassword;
  return d;
}

BatchRoutes BatchRoutes::Host() {
  return {[](const std::string& l, const std::string& d, const std::string& m, std::string* error) {
            return AddDeviceRoute(l, d, m, error, kRouteWaitMs);
          },
          [](const std::string& d) { RemoveDeviceRoute(d); }};
}

void BatchClock::SleepMs(int32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

// The module's progress bar interface, reported through the hooks.
class HookProgress : public TProgressBar {
 public:
  HookProgress(const BatchHooks& hooks, std::size_t index) : hooks_(hooks), index_(index) {}
  int32_t Position() const override { return pos_; }
  void SetPosition(int32_t p) override {
    pos_ = p;
    if (hooks_.progress) hooks_.progress(index_, p);
  }

 private:
  const BatchHooks& hooks_;
  std::size_t index_;
  int32_t pos_ = 0;
};

std::string Dirname(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int32_t RunOperation(const BatchJob& job, BatchDevice& d, TProgressBar* progress,
                     BatchResult& r, std::string* abort) {
  if (job.op == BatchOp::Export) {
    // Always through the file rule; a test may replace only the device's part.
    std::string error;
    const int32_t code = ExportToFile(
        [&](std::FILE* f) {
          if (job.exportTransfer) return job.exportTransfer(d, f);
          return d.module ? d.module->muExportDev(f, d.password.c_str()) : RESULT_EXPORT_FAILED;
        },
        d.exportPath, &error);
    if (code < 0) *abort = "Open 'Export' file failed.\n(" + d.exportPath + ": " + error + ")";
    else r.note = d.exportPath;
    return code;
  }
  // A device already at its new address needs no traffic.
  if (job.op == BatchOp::SetIp && d.newAddress == d.ip) {
    r.note = "already at " + d.ip + ", nothing sent";
    return RESULT_OK;
  }
  if (job.operation) return job.operation(d, progress);
  if (!d.module) return -1;
  TIOModRemoteE& m = *d.module;
  const char* pw = d.password.c_str();
  switch (job.op) {
    case BatchOp::Restart: return m.muRestart(pw);
    case BatchOp::Reset: return m.muReset(pw);
    case BatchOp::Unlock: return m.muUnlockDev(job.unlockWithGiven, pw);
    case BatchOp::Locate: {
      const uint8_t v[2] = {static_cast<uint8_t>(job.locateValue >> 8),
                            static_cast<uint8_t>(job.locateValue)};
      return m.muLocateDev(v, pw);
    }
    case BatchOp::SetIp: {
      uint8_t bytes[4];
      if (!DeviceAddressBytes(d.newAddress, bytes)) {
        r.note = "'" + d.newAddress + "' is not a dotted decimal address";
        return RESULT_STEP_FAILED;
      }
      return m.muChangeIP(bytes, pw);
    }
    case BatchOp::Upgrade: {
      if (!job.firmware) return RESULT_FW_FAILED;
      const auto& img = job.firmware->image;
      return m.muUgdFW(progress, job.firmware->crc, static_cast<uint32_t>(img.size()), img.data(), pw);
    }
    case BatchOp::Import: {
      if (!job.config) return RESULT_STEP_FAILED;
      return m.muImportDev(static_cast<uint32_t>(job.config->size()), job.config->data(), pw);
    }
    case BatchOp::Export: break;  // above
  }
  return -1;
}

}  // namespace

int32_t ExportToFile(const std::function<int32_t(std::FILE*)>& transfer, const std::string& path,
                     std::string* error) {
  // Something that is not a regular file (a terminal, a pipe, /dev/null) is
  // written directly; it cannot be replaced by renaming.
  struct stat st {};
  const bool direct = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
  std::string tmp = direct ? path : Dirname(path) + "/.orvistar-export-XXXXXX";
  int fd = direct ? ::open(path.c_str(), O_WRONLY | O_CLOEXEC) : ::mkstemp(tmp.data());
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return -1;
  }
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    if (error) *error = std::strerror(errno);
    ::close(fd);
    if (!direct) ::unlink(tmp.c_str());
    return -1;
  }
  int32_t code = transfer(f);
  // A write the disk refused reads as a failed export, never as success.
  bool written = std::ferror(f) == 0 && std::fflush(f) == 0;
  if (!direct) written = written && ::fsync(fd) == 0;
  written = (std::fclose(f) == 0) && written;
  if (code == 0 && !written) code = RESULT_EXPORT_FAILED;
  if (direct) return code;
  if (code == 0) {
    // mkstemp makes the file 0600; an export is an ordinary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(tmp.c_str(), 0666 & ~mask);
    if (::rename(tmp.c_str(), path.c_str()) != 0) code = RESULT_EXPORT_FAILED;
  }
  if (code != 0) ::unlink(tmp.c_str());
  return code;
}

BatchSummary RunBatch(const BatchJob& job, std::vector<BatchDevice>& devices, StopToken& stop,
                      const BatchHooks& hooks, const BatchRoutes& routes, BatchClock* clock,
                      OperationsLog* log) {
  ORV_TRACE("RunBatch");
  BatchClock realClock;
  if (!clock) clock = &realClock;
  BatchSummary s;
  s.results.resize(devices.size());
  const std::size_t closeAt = job.stopCloseCount ? job.stopCloseCount : devices.size();
  const bool parallel = job.jobs > 1 && devices.size() > 1;

  // With several workers the hooks are serialised here, so front ends need no
  // locking of their own.
  std::mutex hookMutex;
  BatchHooks serial = hooks;
  if (parallel) {
    if (hooks.started)
      serial.started = [&](std::size_t i, bool last) {
        std::lock_guard<std::mutex> g(hookMutex);
        hooks.started(i, last);
      };
    if (hooks.progress)
      serial.progress = [&](std::size_t i, int32_t b) {
        std::lock_guard<std::mutex> g(hookMutex);
        hooks.progress(i, b);
      };
    if (hooks.finished)
      serial.finished = [&](std::size_t i, const BatchResult& r) {
        std::lock_guard<std::mutex> g(hookMutex);
        hooks.finished(i, r);
      };
  }

  // One device's turn; false when the run cannot go on (abort set).
  auto serve = [&](std::size_t i, bool last, std::string* abort) {
    BatchDevice& d = devices[i];
    BatchResult& r = s.results[i];
    if (serial.started) serial.started(i, last);
    const auto t0 = std::chrono::steady_clock::now();
    std::string routeError;
    const bool routed = !routes.add || routes.add(job.localIP, d.ip, d.mac, &routeError);
    HookProgress progress(serial, i);
    if (job.op == BatchOp::Upgrade) progress.SetPosition(0);
    if (routed) {
      r.code = RunOperation(job, d, &progress, r, abort);
    } else {
      r.code = -1;  // not contacted: it could not be reached safely
      r.note = routeError;
    }
    if (job.op == BatchOp::Upgrade) r.blocks = progress.Position();
    // The IP change moves the device: its old route is of no more use.
    if (routed && routes.remove && (parallel || job.removeRouteAfterEach || job.op == BatchOp::SetIp))
      routes.remove(d.ip);
    if (!abort->empty()) return false;
    r.ran = true;
    r.text = BatchResultText(job.op, r.code);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.finishedAt = NowLocalText();
    if (log) {
      OperationRecord rec;
      rec.nic = job.localIP;
      rec.operation = BatchOpKey(job.op);
      rec.mac = d.mac;
      rec.address = d.ip;
      rec.model = d.model;
      rec.result = r.code;
      rec.text = r.text.empty() ? "address mode not changeable" : r.text;
      rec.seconds = r.seconds;
      if (job.op == BatchOp::Upgrade && job.firmware) {
        rec.imageSize = static_cast<int64_t>(job.firmware->image.size());
        rec.imageCrc = job.firmware->crc;
      }
      log->Append(rec);
    }
    if (serial.finished) serial.finished(i, r);
    clock->SleepMs(job.pauseAfterMs);
    return true;
  };

  if (!parallel) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
      // The last device cannot be stopped: close the token as its turn begins.
      if (i + 1 >= closeAt && stop.Close()) {
        s.stopped = true;
        break;
      }
      if (stop.Requested()) {
        s.stopped = true;
        break;
      }
      std::string abort;
      const bool ok = serve(i, i + 1 >= closeAt, &abort);
      if (!ok) {
        s.aborted = true;
        s.abortMessage = abort;
        break;
      }
      ++s.ran;
    }
    return s;
  }

  // Parallel: each worker takes the first device in inventory order whose
  // address no other worker is serving; a device waits while its address is
  // busy, so devices at one address go one after the other in order.
  std::mutex mu;
  std::condition_variable cv;
  std::vector<bool> taken(devices.size(), false);
  std::set<std::string> busy;
  std::size_t startedCount = 0;
  bool halt = false;
  auto worker = [&] {
    std::unique_lock<std::mutex> lk(mu);
    for (;;) {
      std::size_t pick = devices.size();
      for (;;) {
        if (halt || startedCount == devices.size()) return;
        for (std::size_t i = 0; i < devices.size(); ++i) {
          if (!taken[i] && !busy.count(devices[i].ip)) {
            pick = i;
            break;
          }
        }
        if (pick < devices.size()) break;
        cv.wait(lk);
      }
      const bool last = startedCount + 1 >= closeAt;
      if ((last && stop.Close()) || stop.Requested()) {
        s.stopped = true;
        halt = true;
        cv.notify_all();
        return;
      }
      taken[pick] = true;
      busy.insert(devices[pick].ip);
      ++startedCount;
      lk.unlock();
      std::string abort;
      const bool ok = serve(pick, last, &abort);
      lk.lock();
      busy.erase(devices[pick].ip);
      if (ok) {
        ++s.ran;
      } else if (!s.aborted) {
        s.aborted = true;
        s.abortMessage = abort;
        halt = true;
      }
      cv.notify_all();
    }
  };
  const int n = std::min<int>(std::min(job.jobs, kMaxBatchJobs), static_cast<int>(devices.size()));
  std::vector<std::thread> pool;
  for (int k = 0; k < n; ++k) pool.emplace_back(worker);
  for (auto& t : pool) t.join();
  return s;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string BatchResultsCsv(const std::string& operationColumn, const std::vector<BatchDevice>& devices,
                            const std::vector<BatchResult>& results) {
  std::string out = "#,Server Name,Model,IP Address,MAC Address,Firmware Ver.,Status," +
                    CsvField(operationColumn) + ",Finished\r\n";
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const BatchDevice& d = devices[i];
    const BatchResult* r = i < results.size() ? &results[i] : nullptr;
    const bool ran = r && r->ran;
    out += std::to_string(i + 1) + "," + CsvField(d.serverName) + "," + CsvField(d.model) + "," +
           CsvField(d.ip) + "," + CsvField(d.mac) + "," + CsvField(d.firmware) + "," +
           CsvField(d.lockStatus) + "," + CsvField(ran ? r->text : "") + "," +
           CsvField(ran ? r->finishedAt : "") + "\r\n";
  }
  return out;
}

}  // namespace orv

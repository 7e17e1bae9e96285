// The device loop both front ends share, the restart countdown, the export
// file rule and the operations log.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/operations_log.h"
#include "devices/wait_dialog.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

struct RecordingClock : BatchClock {
  std::vector<int32_t> sleeps;
  void SleepMs(int32_t ms) override { sleeps.push_back(ms); }
};

std::vector<BatchDevice> Devices(int n) {
  std::vector<BatchDevice> d(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    d[i].mac = "00-0A-1B-2C-3D-0" + std::to_string(i + 1);
    d[i].ip = "10.0.0." + std::to_string(i + 1);
    d[i].model = "K7710-GPRS-C";
  }
  return d;
}

fs::path TempDir(const char* tag) {
  fs::path p = fs::temp_directory_path() / (std::string("orv-batch-") + tag + "-" + std::to_string(getpid()));
  fs::remove_all(p);
  fs::create_directories(p);
  return p;
}

TEST(BatchRunner, RunsInOrderWithRoutesPausesResultsAndLog) {
  const fs::path dir = TempDir("run");
  OperationsLog log((dir / "ops.jsonl").string());
  auto devices = Devices(3);
  std::vector<std::string> events;
  BatchRoutes routes{[&](const std::string& l, const std::string& d, const std::string& m, std::string*) {
                       events.push_back("add " + l + " " + d + " " + m);
                       return true;
                     },
                     [&](const std::string& d) { events.push_back("remove " + d); }};
  BatchJob job;
  job.op = BatchOp::Restart;
  job.localIP = "10.0.0.254";
  job.pauseAfterMs = 2000;
  job.removeRouteAfterEach = true;
  const int32_t codes[] = {0, 4, 2};
  job.operation = [&](BatchDevice& d, TProgressBar*) {
    events.push_back("op " + d.ip);
    return codes[events.size() / 3];
  };
  BatchHooks hooks;
  std::vector<bool> lastFlags;
  hooks.started = [&](std::size_t, bool last) { lastFlags.push_back(last); };
  StopToken stop;
  RecordingClock clock;
  BatchSummary s = RunBatch(job, devices, stop, hooks, routes, &clock, &log);

  EXPECT_FALSE(s.stopped);
  EXPECT_EQ(s.ran, 3u);
  EXPECT_EQ(events, (std::vector<std::string>{
                        "add 10.0.0.254 10.0.0.1 00-0A-1B-2C-3D-01", "op 10.0.0.1", "remove 10.0.0.1",
                        "add 10.0.0.254 10.0.0.2 00-0A-1B-2C-3D-02", "op 10.0.0.2", "remove 10.0.0.2",
                        "add 10.0.0.254 10.0.0.3 00-0A-1B-2C-3D-03", "op 10.0.0.3", "remove 10.0.0.3"}));
  EXPECT_EQ(s.results[0].text, "Success");
  EXPECT_EQ(s.results[1].text, "Fail");  // every non-zero code
  EXPECT_EQ(s.results[2].text, "Fail");
  EXPECT_EQ(clock.sleeps, (std::vector<int32_t>{2000, 2000, 2000}));  // also after failures
  EXPECT_EQ(lastFlags, (std::vector<bool>{false, false, true}));

  auto lines = OperationsLog::Read(log.Path());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1]["operation"], "restart");
  EXPECT_EQ(lines[1]["mac"], "00-0A-1B-2C-3D-02");
  EXPECT_EQ(lines[1]["address"], "10.0.0.2");
  EXPECT_EQ(lines[1]["nic"], "10.0.0.254");
  EXPECT_EQ(lines[1]["result"], 4);
  EXPECT_EQ(lines[1]["text"], "Fail");
  EXPECT_FALSE(lines[1]["user"].get<std::string>().empty());
  fs::remove_all(dir);
}

TEST(BatchRunner, StopRules) {
  BatchRoutes none{};
  RecordingClock clock;
  // A stop during the second of three: the third never starts.
  {
    auto devices = Devices(3);
    StopToken stop;
    BatchJob job;
    int calls = 0;
    job.operation = [&](BatchDevice&, TProgressBar*) {
      if (++calls == 2) {
        EXPECT_TRUE(stop.Request());
      }
      return 0;
    };
    BatchSummary s = RunBatch(job, devices, stop, {}, none, &clock);
    EXPECT_TRUE(s.stopped);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(s.results[2].ran);
  }
  // Once the last device has begun, a stop is refused and the run ends normally.
  {
    auto devices = Devices(2);
    StopToken stop;
    BatchJob job;
    bool refused = false;
    job.operation = [&](BatchDevice& d, TProgressBar*) {
      if (d.ip == "10.0.0.2") refused = !stop.Request();
      return 0;
    };
    BatchSummary s = RunBatch(job, devices, stop, {}, none, &clock);
    EXPECT_TRUE(refused);
    EXPECT_FALSE(s.stopped);
    EXPECT_EQ(s.ran, 2u);
  }
  // The IP change names the address modes.
  EXPECT_EQ(BatchResultText(BatchOp::SetIp, 53), "BOOTP");
  EXPECT_EQ(BatchResultText(BatchOp::SetIp, 50), "");
  EXPECT_EQ(BatchResultText(BatchOp::Restart, 53), "Fail");
}

TEST(BatchRunner, ParallelJobsOverlapButNeverTwoDevicesAtOneAddress) {
  // Twelve devices, four of them at one factory address; four jobs.
  auto devices = Devices(12);
  for (int i : {1, 4, 7, 10}) devices[i].ip = "192.168.127.254";
  std::mutex mu;
  int active = 0, maxActive = 0, sharedActive = 0;
  bool sharedOverlap = false;
  std::vector<std::string> sharedOrder, routeLog;
  BatchRoutes routes{[&](const std::string&, const std::string& d, const std::string& m, std::string*) {
                       std::lock_guard<std::mutex> g(mu);
                       routeLog.push_back("add " + d + " " + m);
                       return true;
                     },
                     [&](const std::string& d) {
                       std::lock_guard<std::mutex> g(mu);
                       routeLog.push_back("remove " + d);
                     }};
  BatchJob job;
  job.jobs = 4;
  StopToken stop;
  job.operation = [&](BatchDevice& d, TProgressBar*) {
    const bool shared = d.ip == "192.168.127.254";
    {
      std::lock_guard<std::mutex> g(mu);
      maxActive = std::max(maxActive, ++active);
      if (shared) {
        sharedOverlap = sharedOverlap || sharedActive > 0;
        ++sharedActive;
        sharedOrder.push_back(d.mac);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::lock_guard<std::mutex> g(mu);
    --active;
    if (shared) --sharedActive;
    return d.mac.back() == '3' ? 4 : 0;  // a mix of results
  };
  std::vector<std::size_t> finished;
  bool hookOverlap = false;
  std::atomic<int> inHook{0};
  BatchHooks hooks;
  hooks.finished = [&](std::size_t i, const BatchResult&) {
    hookOverlap = hookOverlap || inHook.fetch_add(1) > 0;
    finished.push_back(i);
    inHook.fetch_sub(1);
  };
  struct QuietClock : BatchClock {
    void SleepMs(int32_t) override {}
  } clock;
  BatchSummary s = RunBatch(job, devices, stop, hooks, routes, &clock);
  EXPECT_EQ(s.ran, 12u);
  EXPECT_GT(maxActive, 1);
  EXPECT_LE(maxActive, 4);
  EXPECT_FALSE(sharedOverlap);
  EXPECT_FALSE(hookOverlap);
  EXPECT_EQ(sharedOrder, (std::vector<std::string>{devices[1].mac, devices[4].mac, devices[7].mac,
                                                   devices[10].mac}));
  EXPECT_EQ(finished.size(), 12u);
  // Results stay in device order, whatever order devices finished in.
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_TRUE(s.results[i].ran);
    EXPECT_EQ(s.results[i].code, devices[i].mac.back() == '3' ? 4 : 0) << i;
  }
  // Every device's route went at the end of its own turn.
  EXPECT_EQ(std::count_if(routeLog.begin(), routeLog.end(), [](auto& e) { return e[0] == 'a'; }), 12);
  EXPECT_EQ(std::count_if(routeLog.begin(), routeLog.end(), [](auto& e) { return e[0] == 'r'; }), 12);

  // A stop under way: no further device starts, those under way finish.
  auto more = Devices(12);
  StopToken stop2;
  std::atomic<int> calls{0};
  job.operation = [&](BatchDevice&, TProgressBar*) {
    if (++calls == 2) stop2.Request();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return 0;
  };
  BatchSummary t = RunBatch(job, more, stop2, {}, {}, &clock);
  EXPECT_TRUE(t.stopped);
  EXPECT_EQ(t.ran, static_cast<std::size_t>(calls.load()));
  EXPECT_LE(calls.load(), 4);
  int ran = 0;
  for (auto& r : t.results) ran += r.ran;
  EXPECT_EQ(ran, calls.load());
}

TEST(BatchRunner, RestartCountdownRunsInFullForEveryDevice) {
  struct Display : TWaitDisplay {
    std::vector<int32_t> shown;
    void ShowCount(int32_t n) override { shown.push_back(n); }
  } display;
  struct NoClock : TWaitClock {
    int waits = 0;
    void WaitMs(int32_t) override { ++waits; }
  } clock;
  TfmWait wait(&display, &clock);  // one object serves a whole run
  for (int device = 0; device < 3; ++device) wait.ShowModal();
  EXPECT_EQ(clock.waits, 18);
  EXPECT_EQ(display.shown.size(), 21u);
  EXPECT_EQ(display.shown[14], 6);
}

// A module whose export writes a prepared text and returns a chosen result.
struct ExportingModule : TIOModRemoteE {
  ExportingModule() : TIOModRemoteE(1, 0, 16, 8) {}
  std::string text;
  int32_t result = 0;
  int32_t muExportDev(std::FILE* f, const char*) override {
    std::fwrite(text.data(), 1, text.size(), f);
    return result;
  }
};

std::function<int32_t(std::FILE*)> Transfer(ExportingModule& m) {
  return [&m](std::FILE* f) { return m.muExportDev(f, ""); };
}

TEST(BatchRunner, ExportReplacesTheFileOnlyWhenItSucceeded) {
  const fs::path dir = TempDir("export");
  const std::string path = (dir / "qx7710.txt").string();
  std::ofstream(path) << "MOD_TYPE=K7710\ngood\n";
  ExportingModule m;
  m.text = "partial";
  m.result = 6;  // the device broke off
  std::string error;
  EXPECT_EQ(ExportToFile(Transfer(m), path, &error), 6);
  std::stringstream kept;
  kept << std::ifstream(path).rdbuf();
  EXPECT_EQ(kept.str(), "MOD_TYPE=K7710\ngood\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no leftovers

  m.text = "MOD_TYPE=K7710\nnew\n";
  m.result = 0;
  EXPECT_EQ(ExportToFile(Transfer(m), path, &error), 0);
  std::stringstream now;
  now << std::ifstream(path).rdbuf();
  EXPECT_EQ(now.str(), m.text);
  // A folder that cannot be written ends with an error, not a result.
  EXPECT_EQ(ExportToFile(Transfer(m), (dir / "missing" / "x.txt").string(), &error), -1);
  EXPECT_FALSE(error.empty());
  // A full device reads as a failed export.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(ExportToFile(Transfer(m), "/dev/full", &error), RESULT_EXPORT_FAILED);
  }
  // A disk that fills up half way (a file size limit in a child): "Fail", and
  // the earlier file stays whole under its name.
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{64, 64};
    setrlimit(RLIMIT_FSIZE, &lim);
    ExportingModule big;
    big.text = std::string(100000, 'x');
    big.result = 0;
    std::string e;
    _exit(ExportToFile(Transfer(big), path, &e) == RESULT_EXPORT_FAILED ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a short write read as success";
  std::stringstream still;
  still << std::ifstream(path).rdbuf();
  EXPECT_EQ(still.str(), m.text);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

TEST(OperationsLogTest, ConcurrentWritersLeaveWholeLinesAndAFailureWarnsOnce) {
  const fs::path dir = TempDir("log");
  const std::string path = (dir / "state" / "orvistar" / "operations.jsonl").string();
  constexpr int kProcs = 4, kLines = 200;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      OperationsLog log(path);
      OperationRecord r;
      r.operation = "upgrade";
      r.mac = std::string(300, 'A' + p);  // long lines make interleaving visible
      for (int i = 0; i < kLines; ++i) log.Append(r);
      _exit(0);
    }
    kids.push_back(pid);
  }
  for (pid_t k : kids) waitpid(k, nullptr, 0);
  std::ifstream in(path);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    auto j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line.substr(0, 80);
    const std::string mac = j["mac"];
    EXPECT_EQ(mac, std::string(300, mac[0]));
  }
  EXPECT_EQ(count, kProcs * kLines);

  // Unwritable: the append fails, one warning for many lines.
  std::ofstream(dir / "file") << "x";
  OperationsLog bad((dir / "file" / "operations.jsonl").string());
  std::vector<std::string> warnings;
  bad.onWarning = [&](const std::string& w) { warnings.push_back(w); };
  EXPECT_FALSE(bad.Append({}));
  EXPECT_FALSE(bad.Append({}));
  EXPECT_EQ(warnings.size(), 1u);
  fs::remove_all(dir);
}

TEST(BatchRunner, ResultsCsv) {
  auto devices = Devices(2);
  devices[0].serverName = "Pump, North";
  std::vector<BatchResult> results(2);
  results[0].ran = true;
  results[0].text = "Success";
  results[0].finishedAt = "2026-12-10 10:00:00";
  const std::string csv = BatchResultsCsv("Restart", devices, results);
  EXPECT_EQ(csv,
            "#,Server Name,Model,IP Address,MAC Address,Firmware Ver.,Status,Restart,Finished\r\n"
            "1,\"Pump, North\",K7710-GPRS-C,10.0.0.1,00-0A-1B-2C-3D-01,,,Success,2026-12-10 10:00:00\r\n"
            "2,,K7710-GPRS-C,10.0.0.2,00-0A-1B-2C-3D-02,,,,\r\n");
}

}  // namespace
}  // namespace orv

// Fills the main window (inventory, device list, tree, one hidden console
// frame per device) with made-up search results and reports, per size: the
// elapsed time of the whole import, the longest stretch without a repaint of
// the status bar, and the resident memory added per device.
//
//   QT_QPA_PLATFORM=offscreen build/bench/inventory/bench_inventory [sizes...]
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/frm_main.h"
#include "app/ui_support.h"
#include "discovery/search_engine.h"
#include "host/interfaces.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this thread: the machine is shared, so wall time alone says
// more about the neighbours than about the program.
double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

long ResidentKb() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::vector<orv::IONODE> MadeUp(int n) {
  static const int models[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                               20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
  std::vector<orv::IONODE> out;
  for (int i = 0; i < n; ++i) {
    orv::IONODE r;
    r.nModelIndex = models[i % 24];
    r.szIP = "10.78." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    char mac[32];
    std::snprintf(mac, sizeof mac, "00-0A-1B-%02X-%02X-%02X", (i >> 16) & 0xFF, (i >> 8) & 0xFF,
                  i & 0xFF);
    r.szMac = mac;
    r.szNetmask = "255.255.0.0";
    r.szGateway = "10.78.0.1";
    r.szRevision = "1.2." + std::to_string(i % 7);
    r.szLockMode = (i % 5) ? "Unlock" : "Lock";
    r.szServerName = "Station-" + std::to_string(i);
    out.push_back(r);
  }
  return out;
}

struct Result {
  double seconds = 0;
  double cpuSeconds = 0;
  double maxStallMs = 0;
  double maxStallCpuMs = 0;
  double kbPerDevice = 0;
};

Result Run(int n) {
  using namespace orv::ui;
  std::vector<orv::IONODE> records = MadeUp(n);
  bool empty = true;
  TfmMain w;
  w.nCloseWaitMs = 0;
  w.RunSearchDialog = [&](std::vector<orv::IONODE>& found) {
    if (!empty) found = records;
    orv::SearchStopped = true;
    return 1;
  };
  w.show();
  w.Timer1Timer();  // the product and its list view, with an empty first search
  QApplication::processEvents();

  std::vector<Clock::time_point> paints;
  std::vector<double> paintsCpu;
  auto original = w.mScoutix->OnRepaint;
  w.mScoutix->OnRepaint = [&](void* p) {
    original(p);
    paints.push_back(Clock::now());
    paintsCpu.push_back(ThreadCpuSeconds());
  };
  const long before = ResidentKb();
  empty = false;
  const auto t0 = Clock::now();
  const double c0 = ThreadCpuSeconds();
  w.muRescanClick();
  const auto t1 = Clock::now();
  const double c1 = ThreadCpuSeconds();
  QApplication::processEvents();
  const long after = ResidentKb();

  Result r;
  r.seconds = std::chrono::duration<double>(t1 - t0).count();
  Clock::time_point last = t0;
  for (const auto& p : paints) {
    r.maxStallMs = std::max(r.maxStallMs, std::chrono::duration<double, std::milli>(p - last).count());
    last = p;
  }
  // The list refill, sorting and the tree come after the last device.
  r.maxStallMs = std::max(r.maxStallMs, std::chrono::duration<double, std::milli>(t1 - last).count());
  r.cpuSeconds = c1 - c0;
  double lastCpu = c0;
  for (double p : paintsCpu) {
    r.maxStallCpuMs = std::max(r.maxStallCpuMs, (p - lastCpu) * 1000);
    lastCpu = p;
  }
  r.maxStallCpuMs = std::max(r.maxStallCpuMs, (c1 - lastCpu) * 1000);
  r.kbPerDevice = static_cast<double>(after - before) / n;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir dir;
  qputenv("ORVISTAR_SETTINGS", dir.filePath("system.reg").toUtf8());
  QApplication app(argc, argv);
  orv::ui::MessageScript::Enable();
  // No host tables are read or changed.
  orv::ui::HostOps& h = orv::ui::MainHostOps();
  h.RemoveStaleRoutes = [] { return 0; };
  h.RefreshInterfaces = [] { return orv::szNicIP = "10.78.0.100"; };
  h.AddRoute = [](const std::string&, const std::string&, const std::string&, std::string*) { return true; };
  h.ReleaseInterfaces = [] {};
  h.CanChangeRoutes = [] { return true; };

  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {1000, 2000};
  std::printf("%8s %10s %8s %14s %14s %14s\n", "devices", "elapsed_s", "cpu_s", "max_stall_ms",
              "stall_cpu_ms", "rss_kb/device");
  std::vector<Result> results;
  for (int n : sizes) {
    if (n <= 0) continue;
    Result r = Run(n);
    results.push_back(r);
    std::printf("%8d %10.3f %8.3f %14.1f %14.1f %14.1f\n", n, r.seconds, r.cpuSeconds, r.maxStallMs,
                r.maxStallCpuMs, r.kbPerDevice);
  }
  if (results.size() >= 2 && results[0].seconds > 0 && results[0].cpuSeconds > 0)
    std::printf("ratio %d/%d: elapsed %.2f, cpu %.2f\n", sizes[1], sizes[0],
                results[1].seconds / results[0].seconds, results[1].cpuSeconds / results[0].cpuSeconds);
  return 0;
}

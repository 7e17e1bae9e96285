// A firmware upgrade of the same devices from the window's dialog and from
// `orvistarctl upgrade`, side by side, rounds alternating: wall time of each
// (the command line from "device(s) found" to its exit, so its search is not
// counted; the dialog from the start of its run to its finished state) and
// the longest stall of the window's event loop during the dialog's run.
// Runs inside the lab's workstation namespace (bench/window_upgrade/run.sh).
//
//   bench_window_upgrade NIC IMAGE ROUNDS MAC...
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/frm_wait.h"
#include "app/ui_support.h"
#include "batch/ui/frm_batch.h"
#include "devices/mod_nx9000.h"
#include "inventory/name_tables.h"
#include "inventory/pd_scoutix.h"

namespace {

std::string Ctl() { return qEnvironmentVariable("ORV_BIN", "build/bin").toStdString() + "/orvistarctl"; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Seconds from the command's "device(s) found" line to its exit.
double RunCli(const QString& nic, const QString& image, const QStringList& macs) {
  QProcess p;
  QStringList args{"upgrade", image, "--nic", nic, "--cycles", "2"};
  for (const QString& m : macs) args << "--mac" << m;
  QElapsedTimer sinceFound;
  QByteArray err;
  QObject::connect(&p, &QProcess::readyReadStandardError, [&] {
    err += p.readAllStandardError();
    if (!sinceFound.isValid() && err.contains("device(s) found")) sinceFound.start();
  });
  p.start(QString::fromStdString(Ctl()), args);
  if (!p.waitForStarted(5000)) return -1;
  while (p.state() != QProcess::NotRunning) QTest::qWait(5);
  const double s = sinceFound.isValid() ? sinceFound.nsecsElapsed() / 1e9 : -1;
  if (p.exitCode() != 0) std::fprintf(stderr, "orvistarctl upgrade failed: %s\n", err.constData());
  return s;
}

struct WindowRun {
  double seconds = -1;
  double maxStallMs = 0;
};

WindowRun RunWindow(orv::TScoutix& product, const QString& image) {
  using namespace orv::ui;
  WindowRun r;
  FileScript::Answer(image);
  TfmUpgradeFirmware d(&product);
  QElapsedTimer run, tick;
  bool started = false;
  // A 2 ms timer: the longest gap between two of its ticks is the longest
  // the event loop was kept from running.
  QTimer probe;
  probe.setInterval(2);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (started && tick.isValid()) r.maxStallMs = std::max(r.maxStallMs, tick.nsecsElapsed() / 1e6);
    tick.start();
  });
  QObject::connect(d.Timer1, &QTimer::timeout, [&] {
    started = true;
    run.start();
  });
  probe.start();
  d.show();
  while (!d.Finished()) QTest::qWait(5);
  r.seconds = run.nsecsElapsed() / 1e9;
  bool ok = true;
  for (const auto& res : d.Summary().results) ok = ok && res.code == 0;
  if (!ok) std::fprintf(stderr, "window upgrade: a device failed\n");
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s NIC IMAGE ROUNDS MAC...\n", argv[0]);
    return 2;
  }
  const QString nic = argv[1], image = argv[2];
  const int rounds = std::atoi(argv[3]);
  QStringList macs;
  for (int i = 4; i < argc; ++i) macs << argv[i];

  // The devices, as a search finds them.
  QProcess search;
  search.start(QString::fromStdString(Ctl()), {"search", "--nic", nic, "--cycles", "2", "--json"});
  search.waitForFinished(60000);
  const auto found = nlohmann::json::parse(search.readAllStandardOutput().toStdString(), nullptr, false);
  std::vector<orv::IONODE> nodes;
  for (const auto& j : found) {
    if (!j.is_object() || !macs.contains(QString::fromStdString(j.value("mac", "")))) continue;
    orv::IONODE n;
    for (std::size_t m = 0; m < orv::kModelNameCount; ++m)
      if (j.value("model", "") == orv::NAME_MOD[m]) n.nModelIndex = static_cast<int32_t>(m);
    n.szIP = j.value("ip", "");
    n.szMac = j.value("mac", "");
    n.szNetmask = j.value("netmask", "");
    n.szGateway = j.value("gateway", "");
    n.szRevision = j.value("firmware", "");
    n.szLockMode = j.value("lock", "");
    n.szServerName = j.value("server_name", "");
    nodes.push_back(n);
  }
  if (nodes.size() != static_cast<std::size_t>(macs.size())) {
    std::fprintf(stderr, "found %zu of %lld devices\n", nodes.size(), static_cast<long long>(macs.size()));
    return 1;
  }
  orv::TScoutix product;
  product.Init(nullptr, nullptr, nullptr);
  product.AddScanIO(nullptr, nullptr, nodes);
  product.szHostIP = nic.toStdString();
  for (const QString& m : macs) product.SelectedList.push_back(m.toStdString());
  orv::ui::QtRestartWait wait;
  orv::SetRestartWait(&wait);
  orv::ui::MessageScript::Enable();
  orv::ui::FileScript::Enable();

  std::vector<double> cli, win, stall;
  for (int i = 0; i < rounds; ++i) {
    cli.push_back(RunCli(nic, image, macs));
    WindowRun w = RunWindow(product, image);
    win.push_back(w.seconds);
    stall.push_back(w.maxStallMs);
    std::printf("round %d: orvistarctl %.2f s, window %.2f s, ratio %.3f, longest stall %.1f ms\n", i + 1,
                cli.back(), win.back(), win.back() / cli.back(), w.maxStallMs);
    std::fflush(stdout);
  }
  std::printf("median: orvistarctl %.2f s, window %.2f s, ratio %.3f; longest stall over all rounds %.1f ms\n",
              Median(cli), Median(win), Median(win) / Median(cli), *std::max_element(stall.begin(), stall.end()));
  orv::SetRestartWait(nullptr);
  product.Quit();
  return 0;
}

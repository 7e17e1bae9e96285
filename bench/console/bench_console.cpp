// The console frame of two lab devices in one panel, selected in turn as the
// tree does (hide the one, show the other): per selection the time until the
// device logs the terminal's telnet connection (its banner goes out at once,
// into a window already in the box) and until the frame reads "Telnet" (after
// the fixed 500 ms settle); then 20 quick switches, after which no terminal
// process and no terminal window may be left.
//
//   bench_console LOGDIR SELECTIONS IP MAC IP MAC
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console/ui/console_client.h"
#include "console/ui/frm_nx9000.h"
#include "console/x11_windows.h"
#include "devices/mod_nx9000.h"

namespace {

int Connections(const std::string& log) {
  std::ifstream in(log);
  std::stringstream s;
  s << in.rdbuf();
  const std::string text = s.str();
  int n = 0;
  for (size_t p = text.find("telnet connection"); p != std::string::npos; p = text.find("telnet connection", p + 1)) ++n;
  return n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int XTermWindows(orv::console::XConnection& x, orv::console::XWindow w, int depth = 0) {
  int n = x.ClassName(w) == "XTerm" ? 1 : 0;
  if (depth < 12)
    for (auto kid : x.Children(w)) n += XTermWindows(x, kid, depth + 1);
  return n;
}

int Terminals() {
  FILE* p = popen("pgrep -c -f '[x]term -into'", "r");
  int n = 0;
  if (p && std::fscanf(p, "%d", &n) != 1) n = 0;
  if (p) pclose(p);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: bench_console LOGDIR SELECTIONS IP MAC IP MAC\n");
    return 2;
  }
  QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
  QApplication app(argc, argv);
  orv::ui::InstallXConsole();
  const std::string logs = argv[1];
  const int selections = std::max(1, std::atoi(argv[2]));
  QWidget panel;
  new QVBoxLayout(&panel);
  panel.resize(900, 600);
  panel.show();
  orv::TModNx9000 modules[2] = {orv::TModNx9000(0), orv::TModNx9000(0)};
  orv::ui::TfmNx9000* frames[2];
  std::string macs[2];
  for (int i = 0; i < 2; ++i) {
    modules[i].szConnection = argv[3 + 2 * i];
    macs[i] = argv[4 + 2 * i];
    frames[i] = new orv::ui::TfmNx9000(&modules[i]);
    modules[i].Init(frames[i], &panel, nullptr);
  }
  QTest::qWait(300);

  std::vector<double> banner, telnet;
  int current = -1;
  for (int s = 0; s < selections; ++s) {
    const int next = s % 2;
    const std::string log = logs + "/" + macs[next] + ".log";
    const int before = Connections(log);
    QElapsedTimer t;
    t.start();
    if (current >= 0) modules[current].Hide();
    modules[next].Show();
    current = next;
    double b = -1, up = -1;
    while (t.elapsed() < 10000 && (b < 0 || up < 0)) {
      QTest::qWait(5);
      if (b < 0 && Connections(log) > before) b = t.elapsed();
      if (up < 0 && frames[next]->StatusText() == "Telnet") up = t.elapsed();
    }
    if (b < 0 || up < 0) {
      std::fprintf(stderr, "selection %d: no console within 10 s\n", s + 1);
      return 1;
    }
    banner.push_back(b);
    telnet.push_back(up);
  }
  std::printf("selections: %d\n", selections);
  std::printf("selection -> device banner sent: median %.0f ms (min %.0f, max %.0f)\n", Median(banner),
              *std::min_element(banner.begin(), banner.end()), *std::max_element(banner.begin(), banner.end()));
  std::printf("selection -> status \"Telnet\":   median %.0f ms (min %.0f, max %.0f); of which the fixed settle 500 ms\n",
              Median(telnet), *std::min_element(telnet.begin(), telnet.end()),
              *std::max_element(telnet.begin(), telnet.end()));

  // 20 switches as fast as a user clicks through the tree (50 ms apart).
  QElapsedTimer sw;
  sw.start();
  for (int s = 0; s < 20; ++s) {
    modules[current].Hide();
    current = 1 - current;
    modules[current].Show();
    QTest::qWait(50);
  }
  const double switchMs = sw.elapsed();
  modules[current].Hide();
  QTest::qWait(500);
  orv::console::XConnection x;
  const int procs = Terminals();
  const int windows = XTermWindows(x, x.Root());
  std::printf("20 switches in %.0f ms; afterwards: %d terminal process(es), %d terminal window(s)\n", switchMs, procs,
              windows);
  for (auto& m : modules) m.Quit();
  return procs == 0 && windows == 0 ? 0 : 1;
}

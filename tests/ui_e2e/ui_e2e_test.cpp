// The window's walk against the simulated LAN: the outer test brings up a lab
// of its own (namespaces named te1<pid>...) and runs this same program again
// inside the lab's workstation namespace on a virtual X server, where the
// inner test drives the main window, the search dialog and the host tables.
#include <unistd.h>

#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frm_main.h"
#include "app/frm_q6000.h"
#include "app/single_instance.h"
#include "app/ui_support.h"
#include "discovery/ui/frm_search.h"
#include "host/settings.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Runs a shell command, returns its exit status and puts stdout+stderr in *out.
int Shell(const std::string& cmd, std::string* out = nullptr) {
  std::string text;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) text.append(buf.data(), n);
  const int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SelfPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool InnerRun() { return !Env("ORV_E2E_INNER").empty(); }

// ---- outer: the lab and the virtual display --------------------------------

TEST(WindowInLab, WalkAgainstDefaultFleet) {
  if (InnerRun()) GTEST_SKIP() << "inner run";
  std::string why;
  if (geteuid() != 0) why = "needs root (network namespaces)";
  else if (Shell("command -v xvfb-run >/dev/null && command -v xauth >/dev/null") != 0)
    why = "xvfb-run or xauth missing (scripts/install-deps.sh)";
  else if (Env("ORV_BIN").empty() || access((Env("ORV_BIN") + "/orvistar").c_str(), X_OK) != 0)
    why = "no orvistar program in $ORV_BIN";
  if (!why.empty()) {
    if (!Env("CI").empty()) FAIL() << "lab test cannot run under CI: " << why;
    GTEST_SKIP() << "lab test skipped: " << why;
  }
  const std::string src = Env("ORV_SRC");
  const std::string lab = src + "/tools/lab/lab";
  const std::string name = "te1e" + std::to_string(getpid());
  struct Down {
    std::string cmd;
    ~Down() { Shell(cmd); }
  } down{lab + " down --name " + name + " >/dev/null"};
  std::string out;
  ASSERT_EQ(Shell(lab + " up --name " + name + " --fleet " + src + "/tools/lab/fleets/default.json", &out), 0)
      << out;

  QTemporaryDir dir("/tmp/te1-e2e-XXXXXX");
  ASSERT_TRUE(dir.isValid());
  const std::string settings = dir.filePath("system.reg").toStdString();
  const std::string shots = src + "/docs/screenshots";
  const std::string cmd =
      lab + " exec --name " + name + " -- env ORV_E2E_INNER=1 QT_QPA_PLATFORM=xcb" +
      " ORVISTAR_SETTINGS=" + settings + " ORV_SCREENSHOTS=" + shots +
      " LSAN_OPTIONS=suppressions=" + src + "/tests/lsan.supp" +
      " xvfb-run -a -s '-screen 0 1280x800x24' " + SelfPath() +
      " --gtest_filter=WindowInLab.Inner*";
  const int rc = Shell(cmd, &out);
  std::printf("%s\n", out.c_str());
  EXPECT_EQ(rc, 0) << "inner run failed";
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos);
}

// ---- inner: inside the workstation namespace -------------------------------

std::vector<std::string> ChildTexts(QTreeWidgetItem* item) {
  std::vector<std::string> out;
  for (int i = 0; item && i < item->childCount(); ++i) out.push_back(item->child(i)->text(0).toStdString());
  return out;
}

QTreeWidgetItem* Find(QTreeWidget* tree, const char* text) {
  auto items = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  return items.isEmpty() ? nullptr : items.front();
}

TEST(WindowInLab, InnerWalk) {
  ASSERT_TRUE(InnerRun()) << "runs inside the lab, started by WalkAgainstDefaultFleet";
  using namespace orv;
  using namespace orv::ui;
  const QString shots = QString::fromStdString(Env("ORV_SCREENSHOTS"));
  WriteRegString(szRegKeySystem, "NIC_IP", "10.77.0.1");
  MessageScript::Enable();

  // The running instance, as main() sets it up.
  TSingleInstance instance("Orvistar");
  ASSERT_TRUE(instance.BecomeFirst());
  auto* w = new TfmMain();
  fmMain = w;
  QObject::connect(&instance, &TSingleInstance::RaiseRequested, w, &TfmMain::RaiseFromOtherInstance);
  int raises = 0;
  QObject::connect(&instance, &TSingleInstance::RaiseRequested, [&] { ++raises; });

  // Drive the search dialog when it comes up: start, photograph, let it end.
  QElapsedTimer sinceActivation;
  qint64 dialogAfterMs = -1;
  QPointer<TfmSearch> dialog;
  bool dialogShot = false;  // the dialog was still searching 700 ms after Start
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!sinceActivation.isValid() && w->findChild<QTimer*>("Timer1")->isActive()) sinceActivation.start();
    auto* d = qobject_cast<TfmSearch*>(QApplication::activeModalWidget());
    if (!d || d == dialog) return;
    dialog = d;
    dialogAfterMs = sinceActivation.isValid() ? sinceActivation.elapsed() : -1;
    QTimer::singleShot(50, d, [d] { d->findChild<QPushButton*>("btnStartSearch")->click(); });
    QTimer::singleShot(700, d, [d, shots, &dialogShot] {
      dialogShot = true;
      if (!shots.isEmpty()) d->grab().save(shots + "/search_dialog.png");
    });
  });
  poll.start();
  w->show();
  w->activateWindow();
  // Without a window manager activation may not come: then activate by hand.
  if (!QTest::qWaitFor([&] { return !w->bFirstActivate; }, 1000)) w->FormActivate();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->bReady && w->mScoutix; }, 60000));
  poll.stop();
  EXPECT_TRUE(dialogShot);
  EXPECT_GE(dialogAfterMs, 400);
  EXPECT_LE(dialogAfterMs, 1500);

  // The default fleet: ten devices listed, grouped by address.
  QTableWidget* list = w->DeviceList()->List();
  EXPECT_EQ(list->rowCount(), 10);
  QTreeWidget* tree = w->Tree();
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "Host:10.77.0.1");
  QTreeWidgetItem* product = Find(tree, "Orvistar");
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(ChildTexts(product),
            (std::vector<std::string>{"10.77.0.11", "10.77.0.12", "10.77.0.13", "10.77.0.21",
                                      "10.77.0.22", "10.77.0.23", "192.168.127.254",
                                      "192.168.50.10"}));
  EXPECT_EQ(ChildTexts(Find(tree, "192.168.127.254")),
            (std::vector<std::string>{"K7710-GPRS-C-T", "K7710-HSDPA-C", "Tramix 4410-9-RJ45-C"}));
  EXPECT_TRUE(w->DeviceList()->isVisible());
  QTest::qWait(300);
  if (!shots.isEmpty()) w->grab().save(shots + "/main_window.png");

  // Selecting the device on the foreign subnet gives it a host route and a
  // static ARP entry in this namespace.
  QTreeWidgetItem* remote = Find(tree, "Tramix 4410-5-M12-IEC");
  ASSERT_NE(remote, nullptr);
  tree->setCurrentItem(remote);
  std::string out;
  Shell("ip -4 route show 192.168.50.10/32", &out);
  EXPECT_NE(out.find("metric 20"), std::string::npos) << out;
  Shell("ip neigh show 192.168.50.10", &out);
  EXPECT_NE(out.find("00:0a:1b:2c:3d:08"), std::string::npos) << out;
  EXPECT_NE(out.find("PERMANENT"), std::string::npos) << out;

  // "By RTU" regroups under the model names.
  w->muByModuleClick();
  product = Find(tree, "Orvistar");
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(product->childCount(), 10);
  EXPECT_EQ(ChildTexts(Find(tree, "Tramix 4410-5-M12-IEC")), std::vector<std::string>{"192.168.50.10"});

  // A second start hands over to this one and ends.
  ASSERT_TRUE(instance.Listen());
  QProcess second;
  second.start(QString::fromStdString(Env("ORV_BIN") + "/orvistar"), {});
  ASSERT_TRUE(second.waitForFinished(15000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return raises == 1; }, 3000));

  // Confirmed exit removes every route and ARP entry the program added.
  MessageScript::Answer(MB_YES);
  EXPECT_TRUE(w->close());
  Shell("ip -4 route show 192.168.50.10/32", &out);
  EXPECT_EQ(out, "") << out;
  Shell("ip -4 route show proto 181", &out);
  EXPECT_EQ(out, "") << out;
  Shell("ip neigh show 192.168.50.10 nud permanent", &out);
  EXPECT_EQ(out, "") << out;
  delete w;
}

}  // namespace

int main(int argc, char** argv) {
  if (!InnerRun()) qputenv("QT_QPA_PLATFORM", "offscreen");
  orv::ui::TApplication app(argc, argv);
  // The inner half is started by the outer test with a filter of its own; it
  // is no test of its own in the listing.
  if (!InnerRun()) ::testing::GTEST_FLAG(filter) = "-WindowInLab.Inner*";
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The window's walk against the simulated LAN: the outer test brings up a lab
// of its own (namespaces named te1<pid>...) and runs this same program again
// inside the lab's workstation namespace on a virtual X server, where the
// inner test drives the main window, the search dialog and the host tables.
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QToolButton>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frm_main.h"
#include "app/frm_q6000.h"
#include "app/single_instance.h"
#include "app/ui_support.h"
#include "batch/ui/frm_batch.h"
#include "batch/ui/frm_ip_change.h"
#include "discovery/ui/frm_search.h"
#include "host/settings.h"
#include "console/ui/console_client.h"
#include "console/ui/frm_nx9000.h"
#include "console/x11_windows.h"

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

// Brings up a lab with `fleet`, runs the inner tests named by `filter` inside
// it on a virtual X server, and checks that they passed.
void RunInsideLab(const std::string& tag, const std::string& fleet, const std::string& filter) {
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
  const std::string name = "te1" + tag + std::to_string(getpid());
  QTemporaryDir dir("/tmp/te1-e2e-XXXXXX");
  ASSERT_TRUE(dir.isValid());
  struct Down {
    std::string cmd;
    ~Down() { Shell(cmd); }
  } down{lab + " down --name " + name + " >/dev/null"};
  std::string out;
  const std::string logs = dir.filePath("logs").toStdString();
  ASSERT_EQ(Shell(lab + " up --name " + name + " --fleet " + fleet + " --logdir " + logs, &out), 0) << out;

  const std::string settings = dir.filePath("system.reg").toStdString();
  const std::string shots = src + "/docs/screenshots";
  const std::string cmd =
      lab + " exec --name " + name + " -- env ORV_E2E_INNER=1 QT_QPA_PLATFORM=xcb" +
      " ORVISTAR_SETTINGS=" + settings + " ORV_SCREENSHOTS=" + shots + " ORV_LAB_LOGS=" + logs +
      " XDG_STATE_HOME=" + dir.path().toStdString() + " ORV_WORK=" + dir.path().toStdString() +
      " LSAN_OPTIONS=suppressions=" + src + "/tests/lsan.supp" +
      " xvfb-run -a -s '-screen 0 1280x800x24' " + SelfPath() + " --gtest_filter=" + filter;
  const int rc = Shell(cmd, &out);
  std::printf("%s\n", out.c_str());
  EXPECT_EQ(rc, 0) << "inner run failed";
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos);
}

TEST(WindowInLab, WalkAgainstDefaultFleet) {
  if (InnerRun()) GTEST_SKIP() << "inner run";
  RunInsideLab("e", Env("ORV_SRC") + "/tools/lab/fleets/default.json", "WindowInLab.InnerWalk");
}

TEST(WindowInLab, BatchCommandsFromTheWindow) {
  if (InnerRun()) GTEST_SKIP() << "inner run";
  RunInsideLab("b", Env("ORV_SRC") + "/tools/lab/fleets/batch.json", "WindowInLab.InnerBatch");
}

TEST(WindowInLab, ConsoleOfTheSelectedDevice) {
  if (InnerRun()) GTEST_SKIP() << "inner run";
  if (!Env("CI").empty() || geteuid() == 0) {
    ASSERT_EQ(Shell("command -v xterm >/dev/null && command -v telnet >/dev/null && command -v xdotool >/dev/null"), 0)
        << "xterm, telnet or xdotool missing (scripts/install-deps.sh)";
  }
  RunInsideLab("c", Env("ORV_SRC") + "/tools/lab/fleets/default.json", "WindowInLab.InnerConsole");
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
  w->show();  // never activated: the first search starts all the same
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

// ---- inner: the batch commands from the window ----------------------------------

std::string DeviceLog(const std::string& mac) {
  std::string out;
  Shell("cat " + Env("ORV_LAB_LOGS") + "/" + mac + ".log", &out);
  return out;
}
int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Starts every search dialog that comes up and leaves it to end by itself.
class SearchStarter {
 public:
  SearchStarter() {
    poll_.setInterval(20);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* d = qobject_cast<orv::ui::TfmSearch*>(QApplication::activeModalWidget());
      if (!d || d == search_) return;
      search_ = d;
      QTimer::singleShot(50, d, [d] { d->findChild<QPushButton*>("btnStartSearch")->click(); });
    });
    poll_.start();
  }
  void Stop() { poll_.stop(); }

 private:
  QTimer poll_;
  QPointer<orv::ui::TfmSearch> search_;
};

// Shows the main window and waits until its first search has filled it.
bool ShowAndSearch(orv::ui::TfmMain* w) {
  w->show();  // never activated: the first search starts all the same
  return QTest::qWaitFor([&] { return w->bReady && w->mScoutix; }, 60000);
}

TEST(WindowInLab, InnerBatch) {
  ASSERT_TRUE(InnerRun()) << "runs inside the lab, started by BatchCommandsFromTheWindow";
  using namespace orv;
  using namespace orv::ui;
  const QString shots = QString::fromStdString(Env("ORV_SCREENSHOTS"));
  WriteRegString(szRegKeySystem, "NIC_IP", "10.77.0.1");
  WriteRegInteger(szRegKeySystem, "Search_Timeout", 2);
  MessageScript::Enable();
  FileScript::Enable();

  auto* w = new TfmMain();
  fmMain = w;
  SearchStarter poll;
  ASSERT_TRUE(ShowAndSearch(w));
  QTableWidget* list = w->DeviceList()->List();
  ASSERT_EQ(list->rowCount(), 6);
  auto rowOf = [&](const char* mac) {
    for (int r = 0; r < list->rowCount(); ++r)
      if (list->item(r, 4)->text() == mac) return r;
    return -1;
  };
  // Clicks go through the window system's path, as a real mouse's do (a
  // right button press there also makes the context menu event).
  auto click = [&](const char* mac, Qt::MouseButton b, Qt::KeyboardModifiers m) {
    const int r = rowOf(mac);
    EXPECT_GE(r, 0) << mac;
    const QPoint at = list->viewport()->mapTo(w, list->visualRect(list->model()->index(r, 1)).center());
    QTest::mouseClick(w->windowHandle(), b, m, at);
  };
  auto action = [&](const char* name) { return w->findChild<QAction*>(name); };

  // Runs `trigger`, which opens a batch dialog modally; when the dialog has
  // finished, photographs it (if asked) and presses Exit. Returns the results.
  auto runDialog = [&](const std::function<void()>& trigger, const QString& shot) {
    std::vector<std::string> results;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      auto* d = qobject_cast<TBatchListDialog*>(QApplication::activeModalWidget());
      if (!d || !d->Finished()) return;
      watch.stop();
      for (int r = 0; r < d->lvVexil->rowCount(); ++r)
        results.push_back(d->lvVexil->item(r, 4)->text().toStdString() + " " +
                          d->lvVexil->item(r, 7)->text().toStdString());
      if (!shot.isEmpty() && !shots.isEmpty()) d->grab().save(shots + "/" + shot);
      QTest::mouseClick(d->btnExit, Qt::LeftButton);
    });
    // Rows follow the inventory, i.e. the order the answers came in.
    watch.start();
    trigger();
    std::sort(results.begin(), results.end());
    return results;
  };

  // Three of one model with Ctrl-click, one of them with its own password.
  click("00-0A-1B-2C-4D-01", Qt::LeftButton, {});
  click("00-0A-1B-2C-4D-02", Qt::LeftButton, Qt::ControlModifier);
  click("00-0A-1B-2C-4D-03", Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(w->mScoutix->SelectedList.size(), 3u);
  EXPECT_TRUE(w->findChild<QToolButton*>("btnUpgrade")->isEnabled());
  // Right-click in the selection opens the device menu for all three.
  click("00-0A-1B-2C-4D-02", Qt::RightButton, {});
  QMenu* menu = w->DeviceMenu();
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
  EXPECT_EQ(w->mScoutix->SelectedList.size(), 3u);
  EXPECT_TRUE(action("FirmwareUpgrade1")->isEnabled());
  QTest::qWait(200);
  if (!shots.isEmpty()) {
    // The whole screen: the menu is a window of its own.
    QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const QRect area = w->frameGeometry().united(menu->geometry()).intersected(screen.rect());
    screen.copy(area).save(shots + "/device_menu.png");
  }
  auto restart = runDialog(
      [&] {
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action("muRemoteERestartModule")).center());
      },
      "");
  EXPECT_EQ(restart, (std::vector<std::string>{"00-0A-1B-2C-4D-01 Success", "00-0A-1B-2C-4D-02 Success",
                                               "00-0A-1B-2C-4D-03 Fail"}));
  EXPECT_EQ(MessageScript::Shown().back().text, "'Restart' function has finished.");
  EXPECT_EQ(Count(DeviceLog("00-0A-1B-2C-4D-01"), "note restart, offline"), 1);
  EXPECT_EQ(Count(DeviceLog("00-0A-1B-2C-4D-02"), "note restart, offline"), 1);
  EXPECT_EQ(Count(DeviceLog("00-0A-1B-2C-4D-03"), "note restart, offline"), 0);  // refused the default password

  // Mixed models: no firmware upgrade.
  click("00-0A-1B-2C-4D-04", Qt::LeftButton, Qt::ControlModifier);
  EXPECT_FALSE(w->findChild<QToolButton*>("btnUpgrade")->isEnabled());
  menu->popup(QPoint(100, 100));
  EXPECT_FALSE(action("FirmwareUpgrade1")->isEnabled());
  EXPECT_TRUE(action("muRemoteERestartModule")->isEnabled());
  menu->close();

  // Two of one model: upgrade to an image that carries revision 3.1.4.
  click("00-0A-1B-2C-4D-01", Qt::LeftButton, {});
  click("00-0A-1B-2C-4D-02", Qt::LeftButton, Qt::ControlModifier);
  std::vector<unsigned char> image(32 + 5000, 0x11);
  std::memcpy(image.data(), "DAC!", 4);
  image[4] = 0x14;  // minor 1, patch 4
  image[5] = 3;     // major
  std::memset(image.data() + 6, 0, 26);
  image[12] = 15;
  image[16] = 5000 & 0xFF;
  image[17] = 5000 >> 8;
  const uint16_t sum = static_cast<uint16_t>(5000 * 0x11);
  image[20] = static_cast<unsigned char>(sum);
  image[21] = static_cast<unsigned char>(sum >> 8);
  const QString fw = QString::fromStdString(Env("ORV_WORK")) + "/new.q6p";
  QFile f(fw);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
  f.close();
  FileScript::Answer(fw);
  auto upgrade = runDialog([&] { QTest::mouseClick(w->findChild<QToolButton*>("btnUpgrade"), Qt::LeftButton); },
                           "upgrade_dialog.png");
  EXPECT_EQ(upgrade, (std::vector<std::string>{"00-0A-1B-2C-4D-01 Success", "00-0A-1B-2C-4D-02 Success"}));
  EXPECT_EQ(MessageScript::Shown().back().text, "'Upgrade' function has finished.");
  EXPECT_NE(DeviceLog("00-0A-1B-2C-4D-01").find("revision 3.1.4"), std::string::npos);

  // After a new search (F5 in the list) the list shows the new firmware.
  QTest::qWait(800);  // the devices come back from their restart
  list->setFocus();
  QTest::keyClick(list, Qt::Key_F5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->bReady; }, 60000));
  ASSERT_EQ(list->rowCount(), 6);
  EXPECT_EQ(list->item(rowOf("00-0A-1B-2C-4D-01"), 7)->text(), "3.1.4");
  EXPECT_EQ(list->item(rowOf("00-0A-1B-2C-4D-02"), 7)->text(), "3.1.4");
  EXPECT_EQ(list->item(rowOf("00-0A-1B-2C-4D-03"), 7)->text(), "1.2.1");
  // Export two devices into a folder, then import one of the files into one
  // device, declining the network settings.
  const QString work = QString::fromStdString(Env("ORV_WORK"));
  QDir().mkpath(work + "/export");
  click("00-0A-1B-2C-4D-01", Qt::LeftButton, {});
  click("00-0A-1B-2C-4D-02", Qt::LeftButton, Qt::ControlModifier);
  FileScript::Answer(work + "/export");
  auto exported = runDialog([&] { QTest::mouseClick(w->findChild<QToolButton*>("btnExport"), Qt::LeftButton); }, "");
  EXPECT_EQ(exported, (std::vector<std::string>{"00-0A-1B-2C-4D-01 Success", "00-0A-1B-2C-4D-02 Success"}));
  const QString file2 = work + "/export/qx7710_00-0A-1B-2C-4D-02.txt";
  ASSERT_TRUE(QFile::exists(work + "/export/qx7710_00-0A-1B-2C-4D-01.txt"));
  ASSERT_TRUE(QFile::exists(file2));
  click("00-0A-1B-2C-4D-01", Qt::LeftButton, {});
  MessageScript::Answer(MB_YES);  // settings will be overwritten
  MessageScript::Answer(MB_NO);   // update network settings, too?
  FileScript::Answer(file2);
  auto imported = runDialog([&] { QTest::mouseClick(w->findChild<QToolButton*>("btnImport"), Qt::LeftButton); }, "");
  EXPECT_EQ(imported, std::vector<std::string>{"00-0A-1B-2C-4D-01 Success"});
  {
    // The blocks the device received (function 116 into the import register).
    std::string text;
    std::istringstream lines(DeviceLog("00-0A-1B-2C-4D-01"));
    for (std::string line; std::getline(lines, line);) {
      const auto at = line.find(" tcp ");
      if (at == std::string::npos) continue;
      const std::string hex = line.substr(at + 5);
      if (hex.size() > 26 && hex.substr(14, 6) == "74800c")
        text += QByteArray::fromHex(QByteArray::fromStdString(hex.substr(26))).toStdString();
    }
    EXPECT_NE(text.find("NET_CONFIG_OVERWRITE=0\r\nIP_MODE=0\r\nIP_ADDRESS=10.77.0.42"), std::string::npos) << text;
    const std::string log1 = DeviceLog("00-0A-1B-2C-4D-01");
    EXPECT_NE(log1.find("configuration imported"), std::string::npos);
    EXPECT_EQ(log1.find("network settings pending"), std::string::npos);
  }

  // The two brand-new devices at the factory address get their own
  // addresses in one grid, from a free lab address on.
  QTest::qWait(800);
  click("00-0A-1B-2C-4D-05", Qt::LeftButton, {});
  click("00-0A-1B-2C-4D-06", Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(w->mScoutix->SelectedList.size(), 2u);
  bool filled = false;
  QTimer grid;
  grid.setInterval(50);
  QObject::connect(&grid, &QTimer::timeout, [&] {
    auto* d = qobject_cast<TfmIPChange*>(QApplication::activeModalWidget());
    if (!d) return;
    if (!filled) {
      filled = true;
      FileScript::Answer("10.77.0.61");
      QTest::mouseClick(d->btnFill, Qt::LeftButton);
      QTest::qWait(100);
      if (!shots.isEmpty()) d->grab().save(shots + "/ip_grid.png");
      EXPECT_EQ(d->xgIP->item(0, 0)->text(), "*1");
      QTest::mouseClick(d->BitBtn_Sumit, Qt::LeftButton);  // confirmation: Yes
    } else if (d->Finished()) {
      grid.stop();
      QTest::mouseClick(d->btnExit, Qt::LeftButton);  // a new search: Yes
    }
  });
  grid.start();
  QTest::mouseClick(w->findChild<QToolButton*>("btnChangeIP"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->bReady; }, 60000));
  ASSERT_EQ(list->rowCount(), 6);
  std::vector<std::string> moved = {list->item(rowOf("00-0A-1B-2C-4D-05"), 3)->text().toStdString(),
                                    list->item(rowOf("00-0A-1B-2C-4D-06"), 3)->text().toStdString()};
  std::sort(moved.begin(), moved.end());
  EXPECT_EQ(moved, (std::vector<std::string>{"10.77.0.61", "10.77.0.62"}));

  // Each device operation left one line in the operations log.
  std::string log;
  Shell("cat " + Env("ORV_WORK") + "/orvistar/operations.jsonl", &log);
  EXPECT_EQ(Count(log, "\"operation\":\"restart\""), 3);
  EXPECT_EQ(Count(log, "\"operation\":\"upgrade\""), 2);

  poll.Stop();
  MessageScript::Answer(MB_YES);
  EXPECT_TRUE(w->close());
  delete w;
}


// ---- inner: the console of the selected device -----------------------------

bool XAncestor(orv::console::XConnection& x, orv::console::XWindow w, orv::console::XWindow ancestor) {
  for (int i = 0; w && i < 16; ++i, w = x.Parent(w))
    if (w == ancestor) return true;
  return false;
}

TEST(WindowInLab, InnerConsole) {
  ASSERT_TRUE(InnerRun()) << "runs inside the lab, started by ConsoleOfTheSelectedDevice";
  using namespace orv;
  using namespace orv::ui;
  const QString shots = QString::fromStdString(Env("ORV_SCREENSHOTS"));
  WriteRegString(szRegKeySystem, "NIC_IP", "10.77.0.1");
  WriteRegInteger(szRegKeySystem, "Search_Timeout", 2);
  MessageScript::Enable();
  InstallXConsole();
  auto* w = new TfmMain();
  fmMain = w;
  SearchStarter poll;
  w->resize(1100, 700);
  ASSERT_TRUE(ShowAndSearch(w));
  poll.Stop();
  ASSERT_TRUE(ConsoleDisplayAvailable());

  QTreeWidget* tree = w->Tree();
  auto frameShown = [&]() -> TfmNx9000* {
    for (auto* f : w->findChildren<TfmNx9000*>())
      if (f->isVisible()) return f;
    return nullptr;
  };
  auto select = [&](const char* node, const char* under) {
    QTreeWidgetItem* parent = Find(tree, under);
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; parent && i < parent->childCount(); ++i)
      if (parent->child(i)->text(0) == node) item = parent->child(i);
    EXPECT_NE(item, nullptr) << node;
    if (item) tree->setCurrentItem(item);
  };
  auto telnetUp = [&](TfmNx9000* f) { return f && f->StatusText() == "Telnet" && f->Console() && f->Console()->Window(); };

  // Selecting a device embeds a terminal as a child of the frame's box.
  QElapsedTimer clock;
  clock.start();
  select("K7710-GPRS-C", "10.77.0.11");
  TfmNx9000* frame = frameShown();
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return telnetUp(frame); }, 8000)) << frame->StatusText().toStdString();
  std::printf("console embedded %lld ms after the selection\n", static_cast<long long>(clock.elapsed()));
  console::XConnection x;
  const auto client = static_cast<console::XWindow>(frame->Console()->Window());
  EXPECT_TRUE(XAncestor(x, client, static_cast<console::XWindow>(frame->ConsoleBox()->winId())));
  EXPECT_EQ(x.ClassName(client), "XTerm");
  EXPECT_EQ(x.Title(client), "Telnet 10.77.0.11");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Count(DeviceLog("00-0A-1B-2C-3D-01"), "telnet connection") == 1; }, 5000));

  // The terminal fills the box and follows it when the window is resized.
  auto fills = [&] {
    auto g = x.Geometry(client);
    QWidget* box = frame->ConsoleBox();
    return g && g->width == box->width() && g->height == box->height();
  };
  EXPECT_TRUE(QTest::qWaitFor(fills, 2000));
  w->resize(1000, 640);
  EXPECT_TRUE(QTest::qWaitFor(fills, 2000));
  w->resize(1100, 700);
  EXPECT_TRUE(QTest::qWaitFor(fills, 2000));

  // Log in through the embedded terminal and photograph it.
  const std::string win = std::to_string(client);
  auto type = [&](const std::string& text) {
    EXPECT_EQ(Shell("xdotool mousemove --window " + win + " 200 150 && xdotool type --delay 15 '" + text +
                    "' && xdotool key Return"),
              0);
    QTest::qWait(400);
  };
  type("TIRVacua");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Count(DeviceLog("00-0A-1B-2C-3D-01"), "telnet login") == 1; }, 3000));
  type("show");
  if (!shots.isEmpty()) w->screen()->grabWindow(w->winId()).save(shots + "/console.png");

  // exit ends the client; half a second later a new one is embedded.
  const long firstPid = frame->Console()->Pid();
  type("exit");
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame->StatusText() == "Terminated"; }, 3000));
  clock.restart();
  ASSERT_TRUE(QTest::qWaitFor([&] { return telnetUp(frame) && frame->Console()->Pid() != firstPid; }, 5000));
  EXPECT_LE(clock.elapsed(), 2500);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Count(DeviceLog("00-0A-1B-2C-3D-01"), "telnet connection") == 2; }, 5000));

  // Another device: the first client ends; of the two devices at the factory
  // address, the console reaches the one selected.
  const long secondPid = frame->Console()->Pid();
  select("K7710-HSDPA-C", "192.168.127.254");
  TfmNx9000* factory = frameShown();
  ASSERT_NE(factory, frame);
  EXPECT_EQ(kill(static_cast<pid_t>(secondPid), 0), -1);  // reaped: no such process
  ASSERT_TRUE(QTest::qWaitFor([&] { return telnetUp(factory); }, 8000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Count(DeviceLog("00-0A-1B-2C-3D-05"), "telnet connection") == 1; }, 5000));
  EXPECT_EQ(Count(DeviceLog("00-0A-1B-2C-3D-07"), "telnet connection"), 0);
  select("K7710-GPRS-C-T", "192.168.127.254");
  ASSERT_TRUE(QTest::qWaitFor([&] { return telnetUp(frameShown()); }, 8000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Count(DeviceLog("00-0A-1B-2C-3D-07"), "telnet connection") == 1; }, 5000));
  EXPECT_EQ(Count(DeviceLog("00-0A-1B-2C-3D-05"), "telnet connection"), 1);
  EXPECT_FALSE(frame->ConsoleRunning());  // the first frame was hidden: no restart

  // A client program that is not there: the launch error, then the frame's message.
  WriteRegString(szRegKeySystem, "Console Command", "orvistar-no-such-telnet %a");
  MessageScript::Clear();
  TfmNx9000* last = frameShown();
  last->btnReconnectTelnetClick();
  const auto& shown = MessageScript::Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Error is 2");
  EXPECT_EQ(shown[0].caption, "Error");
  EXPECT_EQ(shown[1].text, "Make sure the telnet client is enabled");
  EXPECT_EQ(last->StatusText(), "Terminated");

  MessageScript::Answer(MB_YES);
  EXPECT_TRUE(w->close());
  delete w;
  std::string left;
  Shell("pgrep -af '[x]term -into' || true", &left);
  EXPECT_EQ(left, "") << left;
}

}  // namespace

int main(int argc, char** argv) {
  if (!InnerRun()) qputenv("QT_QPA_PLATFORM", "offscreen");
  orv::ui::TApplication app(argc, argv);
  // The inner half is started by the outer test with a filter of its own; it
  // is no test of its own in the listing.
  if (!InnerRun()) ::testing::GTEST_FLAG(filter) = "-*.Inner*";
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

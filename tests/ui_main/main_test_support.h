#pragma once
// A main window wired for tests: host tables replaced by recorders, the search
// dialog replaced by a script that "finds" prepared records, messages scripted.
#include <QApplication>
#include <QFile>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "app/frm_main.h"
#include "app/frm_q6000.h"
#include "app/ui_support.h"
#include "batch/ui/frm_batch.h"
#include "comm/transaction.h"
#include "discovery/search_engine.h"
#include "host/interfaces.h"

namespace orv::maintest {

std::string SettingsFile();

inline IONODE Device(int model, const std::string& ip, const std::string& mac,
                     const std::string& name = "rtu", const std::string& fw = "1.2.3") {
  IONODE n;
  n.nModelIndex = model;
  n.szIP = ip;
  n.szMac = mac;
  n.szNetmask = "255.255.255.0";
  n.szGateway = "192.168.127.1";
  n.szRevision = fw;
  n.szLockMode = "Unlock";
  n.szServerName = name;
  return n;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(QString::fromStdString(SettingsFile()));
    ui::MessageScript::Enable();
    ui::TfmQ6000::ResetSorted();
    savedNic_ = szNicIP;
    ui::HostOps& h = ui::MainHostOps();
    savedOps_ = h;
    h.RemoveStaleRoutes = [] { return 0; };
    h.RefreshInterfaces = [] {
      szNicIP = "10.9.8.7";
      return szNicIP;
    };
    h.AddRoute = [this](const std::string& l, const std::string& d, const std::string& m, std::string*) {
      routes.emplace_back(l, d, m);
      return true;
    };
    h.ReleaseInterfaces = [this] { ++released; };
    h.CanChangeRoutes = [this] { return routesAllowed; };
  }
  void TearDown() override {
    window.reset();
    ui::MainHostOps() = savedOps_;
    ui::MessageScript::Disable();
    szNicIP = savedNic_;
    DeviceIoHalted = false;
    SearchStopped = false;
  }

  // Creates the window; the search "finds" `found` (a copy per search).
  void Create() {
    window = std::make_unique<ui::TfmMain>();
    ui::fmMain = window.get();
    window->nCloseWaitMs = 0;
    window->RunSearchDialog = [this](std::vector<IONODE>& out) {
      ++searches;
      out = found;
      SearchStopped = true;  // the dialog sets it whenever it closes
      return searchResult;
    };
  }
  // Creation and the first search, as the start-up timer runs it.
  void Start() {
    Create();
    window->Timer1Timer();
  }

  std::vector<std::string> TreeTexts() const {
    std::vector<std::string> out;
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* i) {
      out.push_back(i->text(0).toStdString());
      for (int c = 0; c < i->childCount(); ++c) walk(i->child(c));
    };
    QTreeWidget* t = window->Tree();
    for (int i = 0; i < t->topLevelItemCount(); ++i) walk(t->topLevelItem(i));
    return out;
  }
  QTreeWidgetItem* FindNode(const std::string& text) const {
    auto items = window->Tree()->findItems(QString::fromStdString(text),
                                           Qt::MatchExactly | Qt::MatchRecursive);
    return items.isEmpty() ? nullptr : items.front();
  }

  std::unique_ptr<ui::TfmMain> window;
  std::vector<IONODE> found;
  int searchResult = 1;  // QDialog::Accepted
  int searches = 0;
  std::vector<std::tuple<std::string, std::string, std::string>> routes;
  int released = 0;
  bool routesAllowed = true;

 private:
  std::string savedNic_;
  ui::HostOps savedOps_;
};

// The batch dialogs' tests: scripted choosers, device routes recorded as
// "add IP" / "remove IP" instead of touching the host's table.
class BatchDialogTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    ui::FileScript::Enable();
    savedRoutes_ = ui::BatchDialogRoutes();
    ui::BatchDialogRoutes() = {[this](const std::string&, const std::string& ip, const std::string&, std::string*) {
                                 std::lock_guard<std::mutex> g(mutex_);
                                 events.push_back("add " + ip);
                                 return true;
                               },
                               [this](const std::string& ip) {
                                 std::lock_guard<std::mutex> g(mutex_);
                                 events.push_back("remove " + ip);
                               }};
  }
  void TearDown() override {
    ui::FileScript::Disable();
    ui::BatchDialogRoutes() = savedRoutes_;
    MainWindowTest::TearDown();
  }
  static std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (const auto& m : ui::MessageScript::Shown()) out.push_back(m.text.toStdString());
    return out;
  }
  static void Run(ui::TBatchListDialog& d) {
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Finished(); }, 10000));
  }
  static std::vector<std::string> Results(ui::TBatchListDialog& d) {
    std::vector<std::string> out;
    for (int r = 0; r < d.lvVexil->rowCount(); ++r) out.push_back(d.lvVexil->item(r, 7)->text().toStdString());
    return out;
  }
  std::mutex mutex_;
  std::vector<std::string> events;  // device routes the dialogs asked for

 private:
  BatchRoutes savedRoutes_;
};

}  // namespace orv::maintest

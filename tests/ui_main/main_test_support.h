#pragma once
// A main window wired for tests: host tables replaced by recorders, the search
// dialog replaced by a script that "finds" prepared records, messages scripted.
#include <QApplication>
#include <QFile>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/frm_main.h"
#include "app/frm_q6000.h"
#include "app/ui_support.h"
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
    h.AddRoute = [this](const std::string& l, const std::string& d, const std::string& m) {
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

}  // namespace orv::maintest

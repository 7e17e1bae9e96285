#pragma once
// Shared set-up of the dialog tests: a private settings file per test, the
// message service in scripted mode, and small helpers to reach controls.
#include <QApplication>
#include <QFile>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/ui_support.h"
#include "host/interfaces.h"

namespace orv::uitest {

// The settings file every test uses (set by main from a temporary directory).
std::string SettingsFile();

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(QString::fromStdString(SettingsFile()));
    ui::MessageScript::Enable();
    savedNodes_ = IPNodeList;
    savedNic_ = szNicIP;
  }
  void TearDown() override {
    ui::MessageScript::Disable();
    IPNodeList = savedNodes_;
    szNicIP = savedNic_;
  }
  // Texts of every message shown so far.
  static std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (const auto& m : ui::MessageScript::Shown()) out.push_back(m.text.toStdString());
    return out;
  }

 private:
  std::vector<tIPNODE> savedNodes_;
  std::string savedNic_;
};

template <typename T>
T* Child(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(c, nullptr) << "no control named " << name;
  return c;
}

inline tIPNODE Node(const char* ip, const char* descr, uint32_t type, uint32_t status) {
  tIPNODE n;
  n.szIP = ip;
  n.szDescr = descr;
  n.nType = type;
  n.nOperStatus = status;
  return n;
}

}  // namespace orv::uitest

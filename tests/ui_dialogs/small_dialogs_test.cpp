// The search length setting, the restart countdown, the add-device dialog
// and the interface choice.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/frm_about.h"
#include "app/frm_mod_add.h"
#include "app/frm_search_wait.h"
#include "app/frm_wait.h"
#include "devices/mod_nx9000.h"
#include "host/settings.h"
#include "host/ui/frm_nic.h"
#include "ui_test_support.h"

namespace orv::uitest {
namespace {

using SmallDialogs = DialogTest;

// Opens the search length dialog, types `text` (when given) and saves.
QString OpenSearchWait(const char* text, bool save) {
  ui::Tfm_SearchWait d;
  auto* edit = Child<QLineEdit>(&d, "Edt_SearchCountSec");
  QString shown;
  QTimer::singleShot(0, &d, [&] {
    shown = edit->text();
    if (text) edit->setText(text);
    if (save) Child<QPushButton>(&d, "BitBtn_Save")->click();
    else d.reject();
  });
  const int r = d.exec();
  EXPECT_EQ(r, save ? QDialog::Accepted : QDialog::Rejected);
  return shown;
}

TEST_F(SmallDialogs, SearchLengthShowsTheStoredValueAndStoresWhatIsSaved) {
  EXPECT_EQ(OpenSearchWait("12", true), "3");  // nothing stored yet
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", -1), 12);
  EXPECT_EQ(OpenSearchWait("x", true), "12");
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", -1), 3);  // not a number
  EXPECT_EQ(OpenSearchWait("-1", true), "3");
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", -9), -1);  // stored as typed
  EXPECT_EQ(OpenSearchWait("7", false), "-1");  // closed without Save
  EXPECT_EQ(ReadRegInteger(szRegKeySystem, "Search_Timeout", -9), -1);

  ui::Tfm_SearchWait d;
  EXPECT_EQ(d.windowTitle(), "Setting I/O Server");
  EXPECT_EQ(Child<QLineEdit>(&d, "Edt_SearchCountSec")->maxLength(), 2);
}

TEST_F(SmallDialogs, RestartWaitCountsFromSixToZeroAndClosesItself) {
  ui::TfmWait d;
  EXPECT_EQ(d.windowTitle(), "Restarting I/O Server");
  EXPECT_EQ(Child<QLabel>(&d, "lbTime")->text(), "6");
  EXPECT_EQ(d.Timer()->interval(), 1000);
  EXPECT_FALSE(d.Timer()->isActive());  // runs once shown
  d.Timer()->setInterval(30);           // the same steps, faster
  QStringList shown;
  QObject::connect(&d, &ui::TfmWait::countShown, [&](const QString& t) { shown << t; });
  QTimer::singleShot(0, &d, [&] {
    QTest::keyClick(&d, Qt::Key_Escape);  // no early way out
    d.close();
  });
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(d.exec(), QDialog::Accepted);
  EXPECT_GE(clock.elapsed(), 6 * 30 - 10);
  EXPECT_EQ(shown, (QStringList{"5", "4", "3", "2", "1", "0"}));
  EXPECT_EQ(d.Count(), 0);
  EXPECT_FALSE(d.Timer()->isActive());
}

class ModAdd : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    IPNodeList = {Node("127.0.0.1", "lo (loopback)", 24, 5), Node("10.0.0.5", "eth0 (Ethernet)", 6, 5),
                  Node("10.1.0.5", "wlan0 (wireless)", 71, 5), Node("10.2.0.5", "br0 (bridge)", 6, 2)};
    used.szConnection = "192.168.127.20";
    list = {&product, &used};
  }
  TIOObject product{1, "Scoutix"};
  TModNx9000 used{0};
  TIOObjList list;
};

TEST_F(ModAdd, OkNeedsAnAddressAndAProductTarget) {
  ui::TfmModAdd d(nullptr, &product, &list);
  EXPECT_EQ(d.windowTitle(), "Scoutix - Add New Module");
  auto* ok = Child<QPushButton>(&d, "btnOK");
  auto* ip = Child<QLineEdit>(&d, "cbIP");
  EXPECT_FALSE(ok->isEnabled());
  ip->setText("10.0.0.9");
  EXPECT_TRUE(ok->isEnabled());
  ip->clear();
  EXPECT_FALSE(ok->isEnabled());

  ui::TfmModAdd onModule(nullptr, &used, &list);
  Child<QLineEdit>(&onModule, "cbIP")->setText("10.0.0.9");
  EXPECT_FALSE(Child<QPushButton>(&onModule, "btnOK")->isEnabled());

  // Only Ethernet interfaces are offered, in list order, the first chosen.
  auto* nic = Child<QComboBox>(&d, "cbINT");
  ASSERT_EQ(nic->count(), 2);
  EXPECT_EQ(nic->itemText(0), "eth0 (Ethernet)");
  EXPECT_EQ(nic->itemText(1), "br0 (bridge)");
  EXPECT_EQ(nic->currentIndex(), 0);
}

TEST_F(ModAdd, AnAddressInUseIsRefusedAndTheDialogStaysOpen) {
  ui::TfmModAdd d(nullptr, &product, &list);
  d.show();
  Child<QLineEdit>(&d, "cbIP")->setText("192.168.127.20");
  Child<QPushButton>(&d, "btnOK")->click();
  EXPECT_EQ(Messages(), std::vector<std::string>{"The IP address has already been used !"});
  EXPECT_TRUE(d.isVisible());
  EXPECT_TRUE(d.szInterfaceIP.empty());
}

TEST_F(ModAdd, AnEmptyDropDownListEndsOkWithTheListIndexError) {
  ui::TfmModAdd d(nullptr, &product, &list);
  d.show();
  Child<QLineEdit>(&d, "cbIP")->setText("192.168.127.21");
  Child<QPushButton>(&d, "btnOK")->click();
  // The model list has no entries: the interface is taken, the model is not.
  EXPECT_EQ(Messages(), std::vector<std::string>{"List index out of bounds (-1)"});
  EXPECT_EQ(ui::MessageScript::Shown()[0].icon, ui::MsgIcon::Error);
  EXPECT_EQ(d.szInterfaceIP, "10.0.0.5");
  EXPECT_TRUE(d.szDeviceIP.empty());
  EXPECT_EQ(d.nModuleClass, 0);
  EXPECT_TRUE(d.isVisible());

  IPNodeList = {Node("127.0.0.1", "lo (loopback)", 24, 5)};  // no Ethernet interface
  ui::TfmModAdd noNic(nullptr, &product, &list);
  noNic.show();
  Child<QLineEdit>(&noNic, "cbIP")->setText("192.168.127.21");
  ui::MessageScript::Clear();
  Child<QPushButton>(&noNic, "btnOK")->click();
  EXPECT_EQ(Messages(), std::vector<std::string>{"List index out of bounds (-1)"});
  EXPECT_TRUE(noNic.szInterfaceIP.empty());
}

TEST_F(SmallDialogs, InterfaceChoiceOffersUsableInterfacesAndStoresTheChoice) {
  IPNodeList = {Node("127.0.0.1", "lo (loopback)", 24, 5), Node("10.0.0.5", "eth0 (Ethernet)", 6, 5),
                Node("10.3.0.5", "eth1 (Ethernet)", 6, 0), Node("10.2.0.5", "br0 (bridge)", 6, 2)};
  szNicIP = "10.2.0.5";
  {
    ui::TfmNIC d;
    EXPECT_EQ(d.windowTitle(), "Select Host Network Interface");
    auto* cb = Child<QComboBox>(&d, "cbNIC");
    ASSERT_EQ(cb->count(), 2);
    EXPECT_EQ(cb->itemText(0), "eth0 (Ethernet)");
    EXPECT_EQ(cb->itemText(1), "br0 (bridge)");
    EXPECT_EQ(cb->currentIndex(), 1);  // the current choice
    cb->setCurrentIndex(0);
    QTimer::singleShot(0, &d, [&] { Child<QPushButton>(&d, "btnOK")->click(); });
    EXPECT_EQ(d.exec(), QDialog::Accepted);
  }
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", "?"), "10.0.0.5");
  EXPECT_EQ(szNicIP, "10.0.0.5");

  {
    ui::TfmNIC d;  // Cancel changes nothing
    auto* cb = Child<QComboBox>(&d, "cbNIC");
    EXPECT_EQ(cb->currentIndex(), 0);
    cb->setCurrentIndex(1);
    QTimer::singleShot(0, &d, [&] { Child<QPushButton>(&d, "BitBtn1")->click(); });
    EXPECT_EQ(d.exec(), QDialog::Rejected);
  }
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", "?"), "10.0.0.5");
  EXPECT_EQ(szNicIP, "10.0.0.5");

  szNicIP = "10.9.9.9";  // gone: the first entry is offered
  {
    ui::TfmNIC d;
    EXPECT_EQ(Child<QComboBox>(&d, "cbNIC")->currentIndex(), 0);
  }
  IPNodeList = {Node("127.0.0.1", "lo (loopback)", 24, 5)};
  {
    ui::TfmNIC d;  // nothing usable: nothing to confirm
    EXPECT_EQ(Child<QComboBox>(&d, "cbNIC")->count(), 0);
    EXPECT_FALSE(Child<QPushButton>(&d, "btnOK")->isEnabled());
    d.btnOKClick();
    EXPECT_EQ(d.result(), QDialog::Rejected);
  }
  EXPECT_EQ(szNicIP, "10.9.9.9");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "NIC_IP", "?"), "10.0.0.5");
}

TEST_F(SmallDialogs, AboutBoxClosesWithItsButton) {
  ui::TfmAbout d;
  EXPECT_EQ(d.windowTitle(), "About");
  QTimer::singleShot(0, &d, [&] { Child<QPushButton>(&d, "BitBtn1")->click(); });
  EXPECT_EQ(d.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace orv::uitest

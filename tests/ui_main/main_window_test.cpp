// Main window: start-up, tree building and selection, sorting commands,
// status bar texts, closing rules.
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "host/settings.h"
#include "main_test_support.h"

namespace orv::maintest {
namespace {

using ui::MessageScript;

class StartTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    found = {Device(0, "192.168.127.2", "00-90-E8-00-00-02"),
             Device(4, "192.168.127.10", "00-90-E8-00-00-10"),
             Device(20, "192.168.127.2", "00-90-E8-00-00-22")};
  }
};

TEST_F(StartTest, FirstSearchRunsOnceHalfASecondAfterTheWindowIsFirstShown) {
  Create();
  auto* timer = window->findChild<QTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_FALSE(timer->isActive());
  EXPECT_FALSE(window->bReady);
  EXPECT_EQ(window->Status()->text(), "Ready");
  window->show();  // never activated
  EXPECT_FALSE(window->isActiveWindow());
  EXPECT_TRUE(timer->isActive());
  QTest::qWait(200);
  EXPECT_EQ(searches, 0);
  QTRY_COMPARE_WITH_TIMEOUT(searches, 1, 2000);
  EXPECT_TRUE(window->bReady);
  EXPECT_TRUE(window->dtStart.isValid());
  EXPECT_TRUE(window->findChild<QTimer*>("TimerNow")->isActive());
  // Showing it again never starts it again.
  window->hide();
  window->show();
  EXPECT_FALSE(timer->isActive());
  QTest::qWait(700);
  EXPECT_EQ(searches, 1);
}

TEST_F(StartTest, SearchFillsTreeByConnectionAndShowsTheList) {
  Start();
  EXPECT_EQ(TreeTexts(), (std::vector<std::string>{"Host:10.9.8.7", "Orvistar", "192.168.127.10",
                                                   "Tramix 4410-5-RJ45-C", "192.168.127.2",
                                                   "K7710-GPRS-C", "K7710-GPRS-C-T"}));
  EXPECT_EQ(window->Status()->text(), "Ready");
  EXPECT_FALSE(window->findChild<QWidget*>("ProgressBar1")->isVisible());
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->mScoutix->szHostIP, "10.9.8.7");
  // Selection went past the data-less root to the product, whose view shows.
  QTreeWidgetItem* cur = window->Tree()->currentItem();
  ASSERT_NE(cur, nullptr);
  EXPECT_EQ(cur->text(0), "Orvistar");
  EXPECT_TRUE(window->DeviceList()->isVisible());
  EXPECT_TRUE(routes.empty());
  EXPECT_TRUE(window->findChild<QAction*>("muByConnection")->isChecked());
  EXPECT_FALSE(window->findChild<QAction*>("muByModule")->isChecked());
}

TEST_F(StartTest, ByRTURegroupsAndMovesTheCheckMark) {
  Start();
  window->findChild<QAction*>("btnSortServer")->trigger();
  EXPECT_EQ(window->nSortMode, 4);
  EXPECT_EQ(TreeTexts(),
            (std::vector<std::string>{"Host:10.9.8.7", "Orvistar", "K7710-GPRS-C", "192.168.127.2",
                                      "K7710-GPRS-C-T", "192.168.127.2", "Tramix 4410-5-RJ45-C",
                                      "192.168.127.10"}));
  EXPECT_TRUE(window->findChild<QAction*>("muByModule")->isChecked());
  EXPECT_FALSE(window->findChild<QAction*>("muByConnection")->isChecked());
  window->findChild<QAction*>("muByConnection")->trigger();
  EXPECT_EQ(window->nSortMode, 1);
  EXPECT_TRUE(window->findChild<QAction*>("btnSortCon")->isChecked());
  EXPECT_FALSE(window->findChild<QAction*>("btnSortServer")->isChecked());
}

TEST_F(StartTest, SelectingADeviceAddsItsRouteAndShowsItsView) {
  Start();
  QTreeWidgetItem* dev = FindNode("Tramix 4410-5-RJ45-C");
  ASSERT_NE(dev, nullptr);
  window->Tree()->setCurrentItem(dev);
  ASSERT_EQ(routes.size(), 1u);
  EXPECT_EQ(routes[0], std::make_tuple(std::string("10.9.8.7"), std::string("192.168.127.10"),
                                       std::string("00-90-E8-00-00-10")));
  EXPECT_FALSE(window->DeviceList()->isVisible());
  TIOObject* m = window->mScoutix->IOObjList[1];
  ASSERT_NE(m->pView, nullptr);
  EXPECT_TRUE(dynamic_cast<QWidget*>(m->pView.get())->isVisible());
  // Selecting it again (after another node) adds the route again.
  window->Tree()->setCurrentItem(FindNode("Orvistar"));
  EXPECT_FALSE(dynamic_cast<QWidget*>(m->pView.get())->isVisible());
  window->Tree()->setCurrentItem(dev);
  EXPECT_EQ(routes.size(), 2u);
}

TEST_F(StartTest, HeadingsAreSkippedInTheDirectionOfTheLastKey) {
  Start();
  window->show();
  QTreeWidget* tree = window->Tree();
  // Without a key (a mouse click) a heading passes the selection downwards.
  tree->setCurrentItem(FindNode("192.168.127.2"));
  EXPECT_EQ(tree->currentItem()->text(0), "K7710-GPRS-C");
  // The Up arrow from the first device under "192.168.127.2" lands on that
  // heading and moves on upwards to the device above it.
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Up);
  EXPECT_TRUE(window->bKeyUp);
  EXPECT_EQ(tree->currentItem()->text(0), "Tramix 4410-5-RJ45-C");
  // Down onto the heading goes on to its first device.
  QTest::keyClick(tree, Qt::Key_Down);
  EXPECT_FALSE(window->bKeyUp);
  EXPECT_EQ(tree->currentItem()->text(0), "K7710-GPRS-C");
  // The root has nothing above: Up from the product stays on the root.
  tree->setCurrentItem(FindNode("Orvistar"));
  QTest::keyClick(tree, Qt::Key_Up);
  EXPECT_EQ(tree->currentItem()->text(0), "Host:10.9.8.7");
}

TEST_F(StartTest, ExitWithoutSearchingStillEmptiesTheInventory) {
  Start();
  found.clear();
  searchResult = 0;  // closed with Exit; the stop flag is still set
  window->muRescanClick();
  EXPECT_EQ(TreeTexts(), (std::vector<std::string>{"Host:10.9.8.7", "Orvistar"}));
  EXPECT_EQ(window->DeviceList()->List()->rowCount(), 0);
  EXPECT_TRUE(window->mScoutix->IOObjList.empty());
  EXPECT_FALSE(DeviceIoHalted.load());
}

TEST_F(StartTest, EmptyInterfaceAddressGivesBareHostRoot) {
  ui::MainHostOps().RefreshInterfaces = [] {
    szNicIP.clear();
    return szNicIP;
  };
  found.clear();
  Start();
  EXPECT_EQ(TreeTexts(), (std::vector<std::string>{"Host:", "Orvistar"}));
}

TEST_F(StartTest, NetworkInterfaceOkRebuildsRootCancelChangesNothing) {
  Start();
  window->muByModuleClick();
  QTimer::singleShot(0, [] {
    szNicIP = "10.1.1.1";  // what the dialog's OK stores
    qobject_cast<QDialog*>(QApplication::activeModalWidget())->accept();
  });
  window->muNICClick();
  EXPECT_EQ(TreeTexts().front(), "Host:10.1.1.1");
  EXPECT_EQ(window->nSortMode, 4);
  QTimer::singleShot(0, [] {
    szNicIP = "10.2.2.2";
    qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();
  });
  window->muNICClick();
  EXPECT_EQ(TreeTexts().front(), "Host:10.1.1.1");
  EXPECT_EQ(searches, 1);  // no search started
}

TEST_F(StartTest, CommandsAreDisabledDuringASearch) {
  Create();
  std::vector<bool> during;
  window->RunSearchDialog = [&](std::vector<IONODE>&) {
    for (const char* n : {"btnAutoSearch", "btnSortCon", "btnSortServer"})
      during.push_back(window->findChild<QAction*>(n)->isEnabled());
    for (const char* n : {"muFile", "muSystem"})
      during.push_back(window->findChild<QMenu*>(n)->menuAction()->isEnabled());
    during.push_back(window->findChild<QToolButton*>("tbFile")->isEnabled());
    EXPECT_FALSE(window->bReady);
    return 1;
  };
  window->Timer1Timer();
  EXPECT_EQ(during, std::vector<bool>(6, false));
  for (const char* n : {"btnAutoSearch", "btnSortServer"})
    EXPECT_TRUE(window->findChild<QAction*>(n)->isEnabled()) << n;
  for (const char* n : {"muFile", "muSystem", "muSort", "muHelp"})
    EXPECT_TRUE(window->findChild<QMenu*>(n)->menuAction()->isEnabled()) << n;
  EXPECT_TRUE(window->findChild<QToolButton*>("tbHelp")->isEnabled());
  // Nothing selected: the batch buttons are shown, and disabled.
  EXPECT_FALSE(window->findChild<QWidget*>("btnUpgrade")->isEnabled());
  EXPECT_FALSE(window->findChild<QWidget*>("btnUpgrade")->isHidden());
}

TEST_F(StartTest, ErrorDuringTheSearchLeavesTheWindowUsable) {
  Create();
  window->RunSearchDialog = [](std::vector<IONODE>&) -> int {
    throw std::runtime_error("socket gone");
  };
  EXPECT_THROW(window->Timer1Timer(), std::runtime_error);
  EXPECT_TRUE(window->bReady);
  EXPECT_TRUE(window->findChild<QAction*>("muRescan")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ElapsedTextTest, DaysThenTimeOfDay) {
  EXPECT_EQ(ui::ElapsedText(1 * 86400 + 2 * 3600 + 3 * 60 + 4), "1:02:03:04");
  EXPECT_EQ(ui::ElapsedText(0), "0:00:00:00");
  EXPECT_EQ(ui::ElapsedText(86399), "0:23:59:59");
  EXPECT_EQ(ui::ElapsedText(12 * 86400 + 59), "12:00:00:59");
}

TEST_F(StartTest, ClockShowsElapsedTime) {
  Start();
  window->dtStart = QDateTime::currentDateTime().addSecs(-(86400 + 2 * 3600 + 3 * 60 + 4));
  window->TimerNowTimer();
  EXPECT_EQ(window->findChild<QLabel*>("PanelElapse")->text(), "1:02:03:04");
  EXPECT_FALSE(window->findChild<QLabel*>("PanelNow")->text().isEmpty());
}

TEST_F(StartTest, ClosingRefusedSilentlyUntilReady) {
  Create();
  window->show();
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(MessageScript::Shown().empty());
  EXPECT_FALSE(DeviceIoHalted.load());
}

TEST_F(StartTest, ExitQuestionNoKeepsYesCloses) {
  Start();
  window->show();
  MessageScript::Answer(ui::MB_NO);
  window->findChild<QAction*>("Exit1")->trigger();
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(MessageScript::Shown().size(), 1u);
  const ui::ShownMessage& m = MessageScript::Shown()[0];
  EXPECT_EQ(m.text, "Click Yes to exit Orvistar.");
  EXPECT_EQ(m.icon, ui::MsgIcon::Question);
  EXPECT_EQ(m.buttons, ui::MB_YESNO);
  EXPECT_FALSE(DeviceIoHalted.load());
  EXPECT_EQ(released, 0);

  MessageScript::Answer(ui::MB_YES);
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(DeviceIoHalted.load());
  EXPECT_EQ(released, 1);
  EXPECT_EQ(window->mScoutix, nullptr);
  EXPECT_TRUE(ui::BannerImage.isNull());
}

TEST_F(StartTest, RouteRightsHintShownWhenRoutesAreRefused) {
  routesAllowed = false;
  Create();
  auto* hint = window->findChild<QLabel*>("lbRights");
  ASSERT_NE(hint, nullptr);
  EXPECT_FALSE(hint->isHidden());
  EXPECT_TRUE(hint->text().contains("cap_net_admin")) << hint->text().toStdString();
  routesAllowed = true;
  window.reset();
  Create();
  EXPECT_TRUE(window->findChild<QLabel*>("lbRights")->isHidden());
}

TEST_F(StartTest, SettingsTypeErrorIsShownAndTheWindowStillComes) {
  WriteRegString(szRegKeySystem, "Socket Timeout", "fast");
  Create();
  ASSERT_EQ(MessageScript::Shown().size(), 1u);
  EXPECT_EQ(MessageScript::Shown()[0].text, "Invalid data type for 'Socket Timeout'");
  EXPECT_EQ(MessageScript::Shown()[0].icon, ui::MsgIcon::Error);
  window->Timer1Timer();
  EXPECT_TRUE(window->bReady);
}

}  // namespace
}  // namespace orv::maintest

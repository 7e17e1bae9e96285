// Device list view: order after a search, renumbering, colour bands, column
// clicks, F5 and clicks below the rows.
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QTest>

#include "main_test_support.h"

namespace orv::maintest {
namespace {

class DeviceListTest : public MainWindowTest {
 protected:
  QTableWidget* List() { return window->DeviceList()->List(); }
  std::vector<std::string> Column(int c) {
    std::vector<std::string> out;
    for (int r = 0; r < List()->rowCount(); ++r) out.push_back(List()->item(r, c)->text().toStdString());
    return out;
  }
  std::vector<bool> Blue() {
    std::vector<bool> out;
    for (int r = 0; r < List()->rowCount(); ++r) {
      const QColor c = List()->item(r, 3)->background().color();
      EXPECT_TRUE(c == ui::TfmQ6000::kWhite || c == ui::TfmQ6000::kSkyBlue);
      EXPECT_EQ(List()->item(r, 0)->background().color(), c);  // whole row
      out.push_back(c == ui::TfmQ6000::kSkyBlue);
    }
    return out;
  }
  void ClickHeader(int column) {
    QHeaderView* h = List()->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(column) + 5, h->height() / 2));
  }
};

TEST_F(DeviceListTest, ColumnsAndRowTexts) {
  found = {Device(4, "10.0.0.5", "00-90-E8-00-00-05", "west", "2.1")};
  Start();
  ASSERT_EQ(List()->columnCount(), 8);
  const char* headings[] = {"#", "Server Name", "Model", "IP Address", "MAC Address",
                            "Subnet Mask", "Gateway", "Firmware Ver."};
  for (int c = 0; c < 8; ++c) EXPECT_EQ(List()->horizontalHeaderItem(c)->text(), headings[c]);
  ASSERT_EQ(List()->rowCount(), 1);
  std::vector<std::string> row;
  for (int c = 0; c < 8; ++c) row.push_back(List()->item(0, c)->text().toStdString());
  EXPECT_EQ(row, (std::vector<std::string>{"1", "west", "Tramix 4410-5-RJ45-C", "10.0.0.5",
                                           "00-90-E8-00-00-05", "255.255.255.0",
                                           "192.168.127.1", "2.1"}));
  EXPECT_TRUE(List()->item(0, 2)->textAlignment() & Qt::AlignHCenter);
  // One row is never compared, so it stays white.
  EXPECT_FALSE(ui::TfmQ6000::Sorted());
  EXPECT_EQ(Blue(), std::vector<bool>{false});
  EXPECT_EQ(window->mScoutix->SelectedList.size(), 0u);
}

TEST_F(DeviceListTest, SortedByModelRenumberedAndBanded) {
  found = {Device(4, "10.0.0.1", "00-90-E8-00-00-01", "c"),
           Device(0, "10.0.0.2", "00-90-E8-00-00-02", "a"),
           Device(0, "10.0.0.3", "00-90-E8-00-00-03", "b")};
  Start();
  EXPECT_EQ(window->DeviceList()->SortColumn(), 2);
  EXPECT_EQ(Column(2), (std::vector<std::string>{"K7710-GPRS-C", "K7710-GPRS-C", "Tramix 4410-5-RJ45-C"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Blue(), (std::vector<bool>{false, false, true}));
  // Clicking "Model" again keeps the same ascending order.
  ClickHeader(2);
  EXPECT_EQ(Column(2), (std::vector<std::string>{"K7710-GPRS-C", "K7710-GPRS-C", "Tramix 4410-5-RJ45-C"}));
}

TEST_F(DeviceListTest, PrefixModelsShareABand) {
  found = {Device(20, "10.0.0.1", "00-90-E8-00-00-01"), Device(0, "10.0.0.2", "00-90-E8-00-00-02"),
           Device(1, "10.0.0.3", "00-90-E8-00-00-03"), Device(21, "10.0.0.4", "00-90-E8-00-00-04")};
  Start();
  EXPECT_EQ(Column(2), (std::vector<std::string>{"K7710-GPRS-C", "K7710-GPRS-C-T", "K7710-HSDPA-C",
                                                 "K7710-HSDPA-C-T"}));
  EXPECT_EQ(Blue(), (std::vector<bool>{false, false, true, true}));
}

TEST_F(DeviceListTest, ColumnClicksSortAsTextAndHashIsIgnored) {
  found = {Device(0, "192.168.1.2", "00-90-E8-00-00-01", "Bravo", "1.10"),
           Device(4, "192.168.1.10", "00-90-E8-00-00-02", "alpha", "1.9"),
           Device(0, "192.168.1.3", "00-90-E8-00-00-03", "bravo", "1.10")};
  Start();
  ClickHeader(3);
  EXPECT_EQ(window->DeviceList()->SortColumn(), 3);
  EXPECT_EQ(Column(3), (std::vector<std::string>{"192.168.1.10", "192.168.1.2", "192.168.1.3"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Blue(), (std::vector<bool>{false, false, false}));  // not a banded column
  const auto before = Column(3);
  ClickHeader(0);
  EXPECT_EQ(window->DeviceList()->SortColumn(), 3);
  EXPECT_EQ(Column(3), before);
  // Server names compare without case: "Bravo" and "bravo" form one band.
  ClickHeader(1);
  EXPECT_EQ(Column(1)[0], "alpha");
  EXPECT_EQ(Blue(), (std::vector<bool>{false, true, false}));
  ClickHeader(7);
  EXPECT_EQ(Column(7), (std::vector<std::string>{"1.10", "1.10", "1.9"}));
  // "1.10" and "1.9" agree over the shorter length? No: "1.1" vs "1.9".
  EXPECT_EQ(Blue(), (std::vector<bool>{false, false, true}));
}

TEST_F(DeviceListTest, F5StartsANewSearch) {
  found = {Device(0, "10.0.0.1", "00-90-E8-00-00-01")};
  Start();
  EXPECT_EQ(searches, 1);
  found.push_back(Device(4, "10.0.0.2", "00-90-E8-00-00-02"));
  window->show();
  List()->setFocus();
  QTest::keyClick(List(), Qt::Key_F5);
  EXPECT_EQ(searches, 2);
  EXPECT_EQ(List()->rowCount(), 2);
  // Other keys do their usual work only.
  QTest::keyClick(List(), Qt::Key_F4);
  EXPECT_EQ(searches, 2);
}

TEST_F(DeviceListTest, ClickBelowTheRowsDisablesBatchCommandsAndMarksLastRow) {
  found = {Device(0, "10.0.0.1", "00-90-E8-00-00-01"), Device(4, "10.0.0.2", "00-90-E8-00-00-02"),
           Device(0, "10.0.0.3", "00-90-E8-00-00-03")};
  Start();
  window->show();
  window->InitFunctionBtnTrue();
  auto* upgrade = window->findChild<QWidget*>("btnUpgrade");
  ASSERT_TRUE(upgrade->isEnabled());
  // A click on a row leaves the batch commands alone.
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                    List()->visualItemRect(List()->item(0, 1)).center());
  EXPECT_TRUE(upgrade->isEnabled());
  EXPECT_EQ(List()->selectionModel()->selectedRows().size(), 1);
  // Below the last row: nothing selected, commands off, focus mark on the last row.
  const QRect last = List()->visualItemRect(List()->item(2, 1));
  ASSERT_LT(last.bottom() + 20, List()->viewport()->height());
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 15));
  EXPECT_FALSE(upgrade->isEnabled());
  EXPECT_FALSE(window->findChild<QAction*>("muRemoteEResetModule")->isEnabled());
  EXPECT_TRUE(List()->selectionModel()->selectedRows().isEmpty());
  EXPECT_EQ(List()->currentIndex().row(), 2);
}

TEST_F(DeviceListTest, PopupEnablesByModelMix) {
  found = {Device(0, "10.0.0.1", "00-90-E8-00-00-01"), Device(4, "10.0.0.2", "00-90-E8-00-00-02"),
           Device(0, "10.0.0.3", "00-90-E8-00-00-03")};
  Start();
  // Menu items are actions, the batch buttons widgets.
  auto enabled = [&](const char* n) {
    if (auto* a = window->findChild<QAction*>(n)) return a->isEnabled();
    return window->findChild<QWidget*>(n)->isEnabled();
  };
  window->mScoutix->SelectedList = {"00-90-E8-00-00-01", "00-90-E8-00-00-02"};
  window->muModRemoteEPopup();
  EXPECT_TRUE(enabled("ChangeIP1") && enabled("Export1") && enabled("muRemoteERestartModule") &&
              enabled("muRemoteEResetModule") && enabled("btnChangeIP") && enabled("btnExport"));
  EXPECT_FALSE(enabled("FirmwareUpgrade1") || enabled("Import1") || enabled("btnUpgrade") ||
               enabled("btnImport") || enabled("muDelModule"));
  window->mScoutix->SelectedList = {"00-90-E8-00-00-01", "00-90-E8-00-00-03"};
  window->muModRemoteEPopup();
  EXPECT_TRUE(enabled("FirmwareUpgrade1") && enabled("Import1") && enabled("btnUpgrade"));
  EXPECT_FALSE(enabled("muDelModule"));
  window->mScoutix->SelectedList.clear();
  window->muModRemoteEPopup();
  EXPECT_FALSE(enabled("ChangeIP1") || enabled("btnExport"));
}

}  // namespace
}  // namespace orv::maintest

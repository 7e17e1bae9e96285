// Choosing devices in the window and running the batch dialogs over them:
// selection to SelectedList, the enabling rule, the pop-up menus, and the
// restart, reset and upgrade dialogs with a scripted device operation.
#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <cstring>
#include <mutex>
#include <fstream>

#include "batch/ui/frm_batch.h"
#include "main_test_support.h"

namespace orv::maintest {
namespace {

using Strings = std::vector<std::string>;

struct RecordingClock : BatchClock {
  std::atomic<int> pauses{0};
  void SleepMs(int32_t ms) override {
    if (ms == 2000) ++pauses;
  }
};

class BatchCommandsTest : public BatchDialogTest {
 protected:
  void SetUp() override {
    BatchDialogTest::SetUp();
    // Models 0 and 4: K7710-GPRS-C and Tramix 4410-5-RJ45-C.
    found = {Device(0, "10.0.0.3", "00-0A-00-00-00-03", "c"), Device(4, "10.0.0.1", "00-0A-00-00-00-01", "a"),
             Device(0, "10.0.0.2", "00-0A-00-00-00-02", "b"), Device(0, "10.0.0.4", "00-0A-00-00-00-04", "d")};
    Start();
  }
  QTableWidget* List() { return window->DeviceList()->List(); }
  int RowOf(const std::string& mac) {
    for (int r = 0; r < List()->rowCount(); ++r)
      if (List()->item(r, 4)->text().toStdString() == mac) return r;
    return -1;
  }
  void Click(const std::string& mac, Qt::KeyboardModifiers mods = {}) {
    const QRect rect = List()->visualRect(List()->model()->index(RowOf(mac), 1));
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, mods, rect.center());
  }
  Strings Selected() { return window->mScoutix->SelectedList; }
  bool On(const char* name) {
    if (auto* a = window->findChild<QAction*>(name)) return a->isEnabled();
    return window->findChild<QToolButton*>(name)->isEnabled();
  }
};

TEST_F(BatchCommandsTest, SelectionFollowsTheListAcrossSortAndRefill) {
  // Rows are sorted by model: the three K7710 first.
  Click("00-0A-00-00-00-04");
  Click("00-0A-00-00-00-03", Qt::ControlModifier);
  Click("00-0A-00-00-00-02", Qt::ControlModifier);
  const Strings k7710 = Selected();
  ASSERT_EQ(k7710.size(), 3u);
  for (std::size_t i = 0; i < k7710.size(); ++i) EXPECT_EQ(RowOf(k7710[i]), static_cast<int>(i));  // list order
  EXPECT_TRUE(On("btnUpgrade"));
  EXPECT_TRUE(On("btnImport"));

  // Re-sort by address: the same devices stay selected, in their new order.
  window->DeviceList()->lvVexilColumnClick(3);
  EXPECT_EQ(Selected(), (Strings{"00-0A-00-00-00-02", "00-0A-00-00-00-03", "00-0A-00-00-00-04"}));
  for (int r = 0; r < List()->rowCount(); ++r)
    EXPECT_EQ(List()->selectionModel()->isRowSelected(r, {}), List()->item(r, 4)->text() != "00-0A-00-00-00-01");

  // Mixed models: firmware and import go off, the rest stays.
  Click("00-0A-00-00-00-01", Qt::ControlModifier);
  EXPECT_FALSE(On("btnUpgrade"));
  EXPECT_FALSE(On("btnImport"));
  EXPECT_TRUE(On("btnExport"));
  EXPECT_TRUE(On("btnChangeIP"));
  window->DeviceMenu()->aboutToShow();
  EXPECT_FALSE(On("FirmwareUpgrade1"));
  EXPECT_TRUE(On("muRemoteERestartModule"));
  EXPECT_TRUE(On("muRemoteEResetModule"));

  // A new search without one of them keeps the others selected.
  found.erase(found.begin() + 2);
  window->muRescanClick();
  EXPECT_EQ(Selected(), (Strings{"00-0A-00-00-00-03", "00-0A-00-00-00-04", "00-0A-00-00-00-01"}));

  // MAC texts matching no device count as one model.
  window->mScoutix->SelectedList = {"00-00-00-00-00-99"};
  window->muModRemoteEPopup();
  EXPECT_TRUE(On("btnUpgrade"));
  window->mScoutix->SelectedList.clear();
  window->muModRemoteEPopup();
  EXPECT_FALSE(On("btnExport"));
  // A module's UpdateMenu enables restart and reset only.
  for (TIOObject* o : window->mScoutix->IOObjList)
    if (o && o->nIOType == IOTYPE_MODULE) {
      static_cast<TIOMod*>(o)->UpdateMenu();
      break;
    }
  EXPECT_TRUE(On("muRemoteERestartModule"));
  EXPECT_TRUE(On("muRemoteEResetModule"));
  EXPECT_FALSE(On("FirmwareUpgrade1"));
}

TEST_F(BatchCommandsTest, PopUpMenusFromListTreeAndKeyboard) {
  Click("00-0A-00-00-00-04");
  Click("00-0A-00-00-00-03", Qt::ControlModifier);
  // A right-click on a row outside the selection selects it alone.
  const QRect rect = List()->visualRect(List()->model()->index(RowOf("00-0A-00-00-00-01"), 1));
  emit List()->customContextMenuRequested(rect.center());
  EXPECT_EQ(Selected(), Strings{"00-0A-00-00-00-01"});
  EXPECT_TRUE(window->DeviceMenu()->isVisible());
  window->DeviceMenu()->close();
  // The Menu key opens it for the selection as it is.
  QTest::keyClick(List(), Qt::Key_Menu);
  EXPECT_TRUE(window->DeviceMenu()->isVisible());
  EXPECT_EQ(Selected(), Strings{"00-0A-00-00-00-01"});
  window->DeviceMenu()->close();

  // A device node of the tree: that device alone.
  QTreeWidgetItem* node = FindNode("K7710-GPRS-C");
  ASSERT_NE(node, nullptr);
  window->PopupTreeMenu(node, QPoint(10, 10));
  EXPECT_EQ(Selected().size(), 1u);
  EXPECT_NE(Selected()[0], "00-0A-00-00-00-01");
  EXPECT_TRUE(window->DeviceMenu()->isVisible());
  window->DeviceMenu()->close();
  // The product node: the product's menu.
  window->PopupTreeMenu(FindNode("Orvistar"), QPoint(10, 10));
  EXPECT_TRUE(window->ProductMenu()->isVisible());
  window->ProductMenu()->close();
  // Every batch control carries its caption or hint as accessible name.
  for (const char* n : {"btnUpgrade", "btnImport", "btnExport", "btnChangeIP"})
    EXPECT_FALSE(window->findChild<QToolButton*>(n)->accessibleName().isEmpty()) << n;
}

TEST_F(BatchCommandsTest, RestartRunsInInventoryOrderAndStopsBeforeTheLast) {
  // Selected in reverse: rows still come in inventory order.
  window->mScoutix->SelectedList = {"00-0A-00-00-00-04", "00-0A-00-00-00-02", "00-0A-00-00-00-03"};
  ui::TfmRestart d(window->mScoutix.get(), window.get());
  std::vector<std::string> calls;
  RecordingClock clock;
  d.clock = &clock;
  std::vector<std::tuple<std::string, std::string, std::string>> asked;
  d.routes = {[&](const std::string& l, const std::string& ip, const std::string& m, std::string*) {
                asked.emplace_back(l, ip, m);
                return true;
              },
              nullptr};
  ASSERT_EQ(d.lvVexil->rowCount(), 3);
  EXPECT_EQ(d.lvVexil->item(0, 3)->text(), "10.0.0.3");  // found first
  EXPECT_EQ(d.lvVexil->item(1, 3)->text(), "10.0.0.2");
  EXPECT_EQ(d.lvVexil->item(2, 3)->text(), "10.0.0.4");
  EXPECT_TRUE(d.BitBtn_Stop->isEnabled());
  EXPECT_FALSE(d.btnExit->isEnabled());
  EXPECT_EQ(d.PB_Speed->maximum(), 3);
  d.deviceOperation = [&](BatchDevice& dev, TProgressBar*) -> int32_t {
    calls.push_back(dev.ip);
    if (calls.size() == 2)  // Stop during the second-to-last
      QMetaObject::invokeMethod(&d, [&] { d.BitBtn_Stop->click(); }, Qt::BlockingQueuedConnection);
    return calls.size() == 1 ? 2 : 0;
  };
  Run(d);
  EXPECT_EQ(calls, (Strings{"10.0.0.3", "10.0.0.2"}));
  EXPECT_EQ(Results(d), (Strings{"Fail", "Success", ""}));
  EXPECT_EQ(clock.pauses, 2);  // also after the failure
  EXPECT_EQ(d.PB_Speed->value(), 3);
  EXPECT_TRUE(d.btnExit->isEnabled());
  EXPECT_FALSE(d.BitBtn_Stop->isEnabled());
  EXPECT_EQ(Messages(), (Strings{"User has stopped the 'Restart' procedure.\n\nPlease wait until the current "
                                 "process has finished.\n"}));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], std::make_tuple(std::string("10.9.8.7"), std::string("10.0.0.3"),
                                       std::string("00-0A-00-00-00-03")));
  // Esc leaves once Exit is enabled.
  QTest::keyClick(&d, Qt::Key_Escape);
  EXPECT_FALSE(d.isVisible());
}

TEST_F(BatchCommandsTest, OneDeviceNeverStopsAndResetAsksForANewSearch) {
  window->mScoutix->SelectedList = {"00-0A-00-00-00-01"};
  RecordingClock clock;
  {
    ui::TfmReset d(window->mScoutix.get(), window.get());
    d.clock = &clock;
    EXPECT_FALSE(d.BitBtn_Stop->isEnabled());
    // Esc does nothing before Exit is enabled.
    QTest::keyClick(&d, Qt::Key_Escape);
    d.deviceOperation = [&](BatchDevice&, TProgressBar*) { return 3; };
    Run(d);
    EXPECT_EQ(Results(d), Strings{"Fail"});
    EXPECT_EQ(Messages(), Strings{"'Reset' function has finished."});
    EXPECT_EQ(clock.pauses, 1);
  }
  // Through the window: the question, Yes at the end starts a search.
  const int before = searches;
  ui::MessageScript::Clear();
  ui::MessageScript::Answer(ui::MB_YES);  // reset the devices?
  QTimer::singleShot(0, [&] {
    auto* d = window->findChild<ui::TfmReset*>();
    ASSERT_NE(d, nullptr);
    d->clock = &clock;
    d->deviceOperation = [](BatchDevice&, TProgressBar*) { return 0; };
    QObject::connect(d, &ui::TBatchListDialog::runFinished, d, [d] {
      ui::MessageScript::Answer(ui::MB_YES);  // new search?
      d->btnExit->click();
    });
  });
  window->muRemoteEResetModuleClick();
  EXPECT_EQ(Messages(), (Strings{"Do you really want to reset device to default?", "'Reset' function has finished.",
                                 "Do you want to initiate a new search for the device now?"}));
  EXPECT_TRUE(ui::RescanRequested);
  EXPECT_EQ(searches, before + 1);
}

// ---- firmware upgrade ----------------------------------------------------------

using Bytes = std::vector<uint8_t>;

Bytes Image(std::size_t payload, uint8_t fill = 0x5A) {
  Bytes f(32, 0);
  std::memcpy(f.data(), "DAC!", 4);
  f[12] = 15;
  for (int i = 0; i < 4; ++i) f[16 + i] = static_cast<uint8_t>(payload >> (8 * i));
  uint16_t sum = 0;
  for (std::size_t i = 0; i < payload; ++i) sum = static_cast<uint16_t>(sum + static_cast<int8_t>(fill));
  f[20] = static_cast<uint8_t>(sum);
  f[21] = static_cast<uint8_t>(sum >> 8);
  f.insert(f.end(), payload, fill);
  return f;
}

class UpgradeTest : public BatchCommandsTest {
 protected:
  void TearDown() override {
    dlg.reset();  // before the window, its parent
    BatchCommandsTest::TearDown();
  }
  QString Write(const char* name, const Bytes& b) {
    const QString p = dir.filePath(name);
    std::ofstream(p.toStdString(), std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                          static_cast<std::streamsize>(b.size()));
    return p;
  }
  // Runs the dialog over the three K7710 with the scripted file answers.
  void Upgrade(std::vector<QString> answers) {
    for (const QString& a : answers) ui::FileScript::Answer(a);
    window->mScoutix->SelectedList = {"00-0A-00-00-00-02", "00-0A-00-00-00-03", "00-0A-00-00-00-04"};
    dlg.reset();
    dlg = std::make_unique<ui::TfmUpgradeFirmware>(window->mScoutix.get(), window.get());
    dlg->deviceOperation = [this](BatchDevice& d, TProgressBar* bar) -> int32_t {
      ++contacted;
      // The bar starts at 0 for every device.
      QMetaObject::invokeMethod(dlg.get(), [this] { startValues.push_back(dlg->PB_Speed->value()); },
                                Qt::BlockingQueuedConnection);
      for (int i = 1; i <= 3; ++i) bar->SetPosition(i);
      return d.ip == "10.0.0.2" ? 4 : 0;
    };
    Run(*dlg);
  }
  QTemporaryDir dir;
  std::unique_ptr<ui::TfmUpgradeFirmware> dlg;
  std::atomic<int> contacted{0};
  std::vector<int> startValues;
};

TEST_F(UpgradeTest, ImageWithTrailingBytesGoesToEveryDevice) {
  Bytes img = Image(2 * 230 + 10);
  img.insert(img.end(), {1, 2, 3});  // trailing: neither summed nor sent
  Upgrade({Write("fw.q6p", img)});
  ASSERT_NE(dlg->Image(), nullptr);
  EXPECT_EQ(dlg->Image()->image.size(), 32u + 470u);
  EXPECT_EQ(ui::FileScript::Asked().at(0).filter, "Vexilon Q6200 Series file (*.q6p )|*.q6p");
  EXPECT_EQ(contacted, 3);
  EXPECT_EQ(startValues, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(dlg->PB_Speed->maximum(), 502 / 230);
  EXPECT_EQ(Results(*dlg), (Strings{"Success", "Fail", "Success"}));
  EXPECT_EQ(events, (Strings{"add 10.0.0.3", "add 10.0.0.2", "add 10.0.0.4"}));
  EXPECT_EQ(Messages(), Strings{"'Upgrade' function has finished."});
  EXPECT_TRUE(dlg->btnSaveResults->isEnabled());
  // Save Results: a CSV with one row per device.
  ui::FileScript::Answer(dir.filePath("results.csv"));
  dlg->btnSaveResults->click();
  std::ifstream in(dir.filePath("results.csv").toStdString());
  std::string header, first;
  std::getline(in, header);
  std::getline(in, first);
  EXPECT_EQ(header, "#,Server Name,Model,IP Address,MAC Address,Firmware Ver.,Status,Upgrade,Finished\r");
  EXPECT_EQ(first.rfind("1,c,K7710-GPRS-C,10.0.0.3,00-0A-00-00-00-03,1.2.3,Unlock,Success,2", 0), 0u) << first;
}

TEST_F(UpgradeTest, BadFilesContactNoDevice) {
  Bytes magic = Image(10);
  magic[3] = '?';
  Bytes fixed14 = Image(10);
  fixed14[12] = 14;
  Bytes ffSum = Image(2, 0xFF);  // sums to 0xFFFE; stored as 0x01FE it is wrong
  ffSum[20] = 0xFE;
  ffSum[21] = 0x01;
  Bytes negative = Image(0);
  negative[19] = 0x80;
  Bytes shortFile = Image(100);
  shortFile.resize(80);
  for (auto [name, bytes] : std::vector<std::pair<const char*, Bytes>>{
           {"magic", magic}, {"fixed14", fixed14}, {"ffsum", ffSum}, {"negative", negative}, {"short", shortFile}}) {
    SCOPED_TRACE(name);
    ui::MessageScript::Clear();
    Upgrade({Write(name, bytes)});
    EXPECT_EQ(contacted, 0);
    EXPECT_EQ(Messages(), Strings{"'Upgrade' function  failed. The firmware file is incorrect."});
    EXPECT_TRUE(dlg->btnExit->isEnabled());
    EXPECT_FALSE(dlg->BitBtn_Stop->isEnabled());
  }
  // A good all-0xFF payload passes; L = 0 is the header alone.
  ui::MessageScript::Clear();
  Upgrade({Write("ff", Image(2, 0xFF))});
  EXPECT_EQ(contacted, 3);
  contacted = 0;
  Upgrade({Write("empty", Image(0))});
  EXPECT_EQ(dlg->Image()->image.size(), 32u);
  EXPECT_EQ(dlg->PB_Speed->maximum(), 0);
}

TEST_F(UpgradeTest, CancelAndMissingFile) {
  Upgrade({QString()});
  EXPECT_EQ(Messages(), Strings{"'Upgrade' function was cancelled."});
  EXPECT_TRUE(dlg->btnExit->isEnabled());
  EXPECT_TRUE(dlg->BitBtn_Stop->isEnabled());  // as the list left it
  EXPECT_EQ(Results(*dlg), (Strings{"", "", ""}));

  // A missing file: Yes chooses again (here: cancel), No ends as incorrect.
  ui::MessageScript::Clear();
  ui::MessageScript::Answer(ui::MB_YES);
  Upgrade({dir.filePath("none.q6p"), QString()});
  EXPECT_EQ(Messages(), (Strings{"The file does not exist. Do you want to check again?",
                                 "'Upgrade' function was cancelled."}));
  ui::MessageScript::Clear();
  ui::MessageScript::Answer(ui::MB_NO);
  Upgrade({dir.filePath("none.q6p")});
  EXPECT_EQ(Messages(), (Strings{"The file does not exist. Do you want to check again?",
                                 "'Upgrade' function  failed. The firmware file is incorrect."}));
  EXPECT_EQ(contacted, 0);
}

}  // namespace
}  // namespace orv::maintest

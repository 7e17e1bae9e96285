// Export, import and the IP change grid, with scripted choosers and a
// scripted device operation.
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>

#include "batch/ui/frm_batch.h"
#include "batch/ui/frm_ip_change.h"
#include "main_test_support.h"

namespace orv::maintest {
namespace {

using Strings = std::vector<std::string>;

// Exports a prepared text, or breaks off after part of it.
struct TextModule : TIOModRemoteE {
  TextModule() : TIOModRemoteE(1, 0, 16, 8) {}
  std::string text = "MOD_TYPE=K7710\r\nIP_ADDRESS=1\r\n";
  int32_t result = 0;
  int32_t muExportDev(std::FILE* f, const char*) override {
    std::fwrite(text.data(), 1, text.size(), f);
    return result;
  }
};

std::string Read(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ConfigTest : public BatchDialogTest {
 protected:
  void SetUp() override {
    BatchDialogTest::SetUp();
    found = {Device(0, "10.0.0.1", "00-0A-00-00-00-01", "a"), Device(0, "10.0.0.2", "00-0A-00-00-00-02", "b"),
             Device(0, "10.0.0.3", "00-0A-00-00-00-03", "c"), Device(4, "10.0.0.9", "00-0A-00-00-00-09", "t")};
    Start();
  }
  void TearDown() override {
    dlg.reset();
    BatchDialogTest::TearDown();
  }
  void Select(Strings macs) { window->mScoutix->SelectedList = std::move(macs); }
  template <typename D>
  D& Open() {
    dlg.reset();
    auto* d = new D(window->mScoutix.get(), window.get());
    dlg.reset(d);
    return *d;
  }
  QTemporaryDir dir;
  std::unique_ptr<ui::TBatchListDialog> dlg;
};

TEST_F(ConfigTest, SingleExportNamesReplaceQuestionAndOpening) {
  Select({"00-0A-00-00-00-02"});
  TextModule module;
  const QString existing = dir.filePath("cfg.txt.bak");
  std::ofstream(existing.toStdString()) << "old";
  // An existing name asks; No keeps the chooser open for the next choice.
  ui::MessageScript::Answer(ui::MB_NO);      // replace cfg.txt.bak?
  ui::FileScript::Answer(existing);
  ui::FileScript::Answer(dir.filePath("result"));
  ui::MessageScript::Answer(ui::MB_YES);     // open the file?
  const auto exportOp = [&](BatchDevice&, std::FILE* f) { return module.muExportDev(f, ""); };
  auto& d = Open<ui::TfmExport>();
  d.exportTransfer = exportOp;
  Run(d);
  EXPECT_EQ(ui::FileScript::Asked().at(0).directory, "qx7710.txt");  // the suggested name
  EXPECT_EQ(ui::FileScript::Asked().at(0).filter, "text file (*.txt)|*.txt");
  EXPECT_EQ(Read(dir.filePath("result.txt")), module.text);
  EXPECT_EQ(Read(existing), "old");
  EXPECT_EQ(Messages(), (Strings{"The file already exists. Do you want to replace it?",
                                 "Export configuration completed.\n\nDo you want to open the configuration text file?"}));
  EXPECT_EQ(ui::FileScript::Opened(), std::vector<QString>{dir.filePath("result.txt")});

  // The extension rule, exact case.
  auto& e = Open<ui::TfmExport>();
  EXPECT_TRUE(e.SaveDialog_ExportCanClose(dir.filePath("CFG.TXT")));
  EXPECT_EQ(e.Path(), dir.filePath("CFG.TXT.txt"));

  // A failed export keeps the earlier file and offers nothing.
  ui::MessageScript::Clear();
  ui::FileScript::Opened().clear();
  module.text = "partial";
  module.result = 6;
  ui::MessageScript::Answer(ui::MB_YES);  // replace result.txt
  ui::FileScript::Answer(dir.filePath("result.txt"));
  auto& f = Open<ui::TfmExport>();
  f.exportTransfer = exportOp;
  Run(f);
  EXPECT_EQ(Results(f), Strings{"Fail"});
  EXPECT_EQ(Read(dir.filePath("result.txt")), "MOD_TYPE=K7710\r\nIP_ADDRESS=1\r\n");
  EXPECT_EQ(Messages().back(), "Export configuration completed.");
  EXPECT_TRUE(ui::FileScript::Opened().empty());
}

TEST_F(ConfigTest, FolderExportCancelAndUnwritableFolder) {
  Select({"00-0A-00-00-00-01", "00-0A-00-00-00-03"});
  TextModule module;
  // Cancel in the folder chooser.
  ui::FileScript::Answer(QString());
  auto& c = Open<ui::TfmExport>();
  Run(c);
  EXPECT_EQ(Messages(), Strings{"'Export' function was cancelled."});
  EXPECT_TRUE(c.btnExit->isEnabled());
  EXPECT_FALSE(c.BitBtn_Stop->isEnabled());

  // A folder: files named by model and MAC, existing ones replaced unasked.
  ui::MessageScript::Clear();
  const QString old = dir.filePath("qx7710_00-0A-00-00-00-03.txt");
  std::ofstream(old.toStdString()) << "old";
  ui::FileScript::Answer(dir.path());
  const auto exportOp = [&](BatchDevice&, std::FILE* f) { return module.muExportDev(f, ""); };
  auto& d = Open<ui::TfmExport>();
  d.exportTransfer = exportOp;
  Run(d);
  EXPECT_EQ(Messages(), (Strings{"the export file naming format is qx62xx_MAC address.txt.\n\nSave path: " +
                                     dir.path().toStdString(),
                                 "Export configuration completed."}));
  EXPECT_EQ(Read(dir.filePath("qx7710_00-0A-00-00-00-01.txt")), module.text);
  EXPECT_EQ(Read(old), module.text);
  EXPECT_EQ(events, (Strings{"add 10.0.0.1", "add 10.0.0.3"}));  // the window keeps its routes

  // A folder that cannot take the files ends the run at once.
  ui::MessageScript::Clear();
  ui::FileScript::Answer(dir.filePath("missing"));
  auto& u = Open<ui::TfmExport>();
  u.exportTransfer = exportOp;
  Run(u);
  EXPECT_EQ(Messages().back(), "Open 'Export' file failed.");
  EXPECT_EQ(Results(u), (Strings{"", ""}));
  EXPECT_TRUE(u.btnExit->isEnabled());
}

TEST_F(ConfigTest, DirectoryChooserOkCancelEsc) {
  QString path = "unchanged";
  ui::TfmDirSel d(path);
  EXPECT_EQ(d.Label_Path->text(), QDir::currentPath());
  d.BitBtn1->click();
  EXPECT_EQ(path, QDir::currentPath());
  ui::TfmDirSel e(path);
  e.show();
  QTest::keyClick(&e, Qt::Key_Escape);
  EXPECT_EQ(path, "");
  EXPECT_EQ(e.result(), QDialog::Rejected);
  path = "x";
  ui::TfmDirSel f(path);
  f.BitBtn2->click();
  EXPECT_EQ(path, "");
}

TEST_F(ConfigTest, ImportNetworkRuleModelCheckAndTextEdges) {
  auto write = [&](const char* name, const std::string& text) {
    const QString p = dir.filePath(name);
    std::ofstream(p.toStdString(), std::ios::binary) << text;
    return p;
  };
  const std::string text = "MOD_TYPE=K7710-GPRS-C\r\nNET_CONFIG_OVERWRITE=1\r\nIP=1\r\n";
  const QString file = write("cfg.txt", text);
  std::atomic<int> written{0};
  auto import = [&](Strings macs, int networkAnswer, const QString& path) -> ui::TfmImport& {
    Select(std::move(macs));
    ui::MessageScript::Clear();
    if (networkAnswer) ui::MessageScript::Answer(networkAnswer);
    ui::FileScript::Answer(path);
    auto& d = Open<ui::TfmImport>();
    d.deviceOperation = [&](BatchDevice&, TProgressBar*) {
      ++written;
      return 0;
    };
    Run(d);
    return d;
  };
  auto sent = [](ui::TfmImport& d) {
    return d.Text() ? std::string(d.Text()->begin(), d.Text()->end()) : std::string("<none>");
  };
  // One device, No: the device gets 0; the file stays as it was.
  auto& one = import({"00-0A-00-00-00-01"}, ui::MB_NO, file);
  EXPECT_NE(sent(one).find("NET_CONFIG_OVERWRITE=0"), std::string::npos);
  EXPECT_EQ(Read(file), text);
  EXPECT_EQ(Messages(), (Strings{"Do you want to update network settings (IP, Gateway, etc.), too?",
                                 "Import configuration completed."}));
  EXPECT_EQ(ui::FileScript::Asked().back().filter, "text file (*.txt )|*.txt");
  // Yes: unchanged.
  EXPECT_EQ(sent(import({"00-0A-00-00-00-01"}, ui::MB_YES, file)), text);
  // Several: always 0, with the information.
  auto& several = import({"00-0A-00-00-00-01", "00-0A-00-00-00-02"}, 0, file);
  EXPECT_NE(sent(several).find("NET_CONFIG_OVERWRITE=0"), std::string::npos);
  EXPECT_EQ(Messages().front(), "The device network setting will not update.");
  EXPECT_EQ(written, 4);
  // Another model's file is refused before any device is written.
  written = 0;
  auto& other = import({"00-0A-00-00-00-01", "00-0A-00-00-00-02"}, 0,
                       write("t.txt", "MOD_TYPE=Tramix 4410\r\nNET_CONFIG_OVERWRITE=1\r\n"));
  EXPECT_EQ(Messages().back(), "Import file does not match the model type.");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(Results(other), (Strings{"", ""}));
  // The key ending the file changes nothing; keys after a NUL are not seen,
  // and the whole buffer is sent.
  EXPECT_EQ(sent(import({"00-0A-00-00-00-01"}, ui::MB_NO, write("end.txt", "NET_CONFIG_OVERWRITE="))),
            "NET_CONFIG_OVERWRITE=");
  const std::string nul = std::string("A=1\r\n") + '\0' + "NET_CONFIG_OVERWRITE=1\r\n";
  EXPECT_EQ(sent(import({"00-0A-00-00-00-01"}, ui::MB_NO, write("nul.txt", nul))), nul);
  // Cancel and a missing file.
  import({"00-0A-00-00-00-01"}, 0, QString());
  EXPECT_EQ(Messages(), Strings{"'Import' function was cancelled."});
  ui::MessageScript::Clear();
  ui::MessageScript::Answer(ui::MB_NO);  // check again? No: closes, the open fails
  ui::FileScript::Answer(dir.filePath("none.txt"));
  Select({"00-0A-00-00-00-01"});
  auto& missing = Open<ui::TfmImport>();
  ui::MessageScript::Answer(ui::MB_NO);  // network settings
  Run(missing);
  EXPECT_EQ(Messages().back(), "Open 'Import' file failed.");
}

// ---- IP change ---------------------------------------------------------------

TEST(CheckIPAddressTest, EdgeList) {
  using ui::CheckIPAddress;
  EXPECT_EQ(CheckIPAddress("192.168.1.10"), 0);
  EXPECT_EQ(CheckIPAddress("1.2.3.4"), 0);
  EXPECT_EQ(CheckIPAddress("192.168.1"), 4);
  EXPECT_EQ(CheckIPAddress("1.2.3"), 1);
  EXPECT_EQ(CheckIPAddress("256.1.1.1"), 2);
  EXPECT_EQ(CheckIPAddress("1.2.3.4.5"), 4);
  EXPECT_EQ(CheckIPAddress("a.b.c.d"), 3);
  EXPECT_EQ(CheckIPAddress("0.0.0.0"), 5);
  EXPECT_EQ(CheckIPAddress("255.255.255.255"), 5);
  EXPECT_EQ(CheckIPAddress("192.168.100.10x1"), 3);  // 16 characters: the scan's code wins
  // Addresses that would lose the device.
  for (const char* lost : {"224.0.0.1", "239.255.0.1", "127.0.0.1", "240.0.0.1", "0.1.2.3"}) {
    EXPECT_EQ(CheckIPAddress(lost), ui::kNotADeviceAddress) << lost;
  }
  EXPECT_EQ(ui::IPAddressMessage(ui::kNotADeviceAddress), "The IP address cannot be given to a device.");
  // The bytes sent are the decimal reading the check made.
  uint8_t b[4];
  ASSERT_TRUE(DeviceAddressBytes("010.1.1.1", b));
  EXPECT_EQ(std::vector<uint8_t>(b, b + 4), (std::vector<uint8_t>{10, 1, 1, 1}));
}

class IPChangeTest : public ConfigTest {
 protected:
  ui::TfmIPChange& Grid(Strings macs) {
    Select(std::move(macs));
    auto& d = Open<ui::TfmIPChange>();
    d.show();
    return d;
  }
  static std::string Mark(ui::TfmIPChange& d, int row) { return d.xgIP->item(row, 0)->text().toStdString(); }
  static std::string Cell(ui::TfmIPChange& d, int row) { return d.xgIP->item(row, 3)->text().toStdString(); }
};

TEST_F(IPChangeTest, MarksRefusalsAndConfirmation) {
  auto& d = Grid({"00-0A-00-00-00-01", "00-0A-00-00-00-02", "00-0A-00-00-00-03"});
  EXPECT_FALSE(d.BitBtn_Sumit->isEnabled());
  EXPECT_TRUE(d.btnExit->isEnabled());
  // Through the cell editor: type, press "Set ".
  d.xgIP->setCurrentCell(0, 3);
  d.xgIP->editItem(d.xgIP->item(0, 3));
  auto* editor = d.xgIP->findChild<ui::TIPCellEditor*>();
  ASSERT_NE(editor, nullptr);
  editor->edit->setText("10.0.0.50");
  editor->set->click();
  EXPECT_EQ(Mark(d, 0), "*1");
  EXPECT_TRUE(d.BitBtn_Sumit->isEnabled());
  // Enter takes the entry and never also presses Submit, the default button.
  editor->edit->setText("10.0.0.51");
  QTest::keyClick(editor->edit, Qt::Key_Return);
  EXPECT_EQ(Cell(d, 0), "10.0.0.51");
  EXPECT_TRUE(Messages().empty());
  d.xgIP->editItem(d.xgIP->item(0, 3));
  editor = d.xgIP->findChild<ui::TIPCellEditor*>();
  ASSERT_NE(editor, nullptr);
  // Enter with an invalid text: the present address comes back, the mark goes.
  editor->edit->setText("256.1.1.1");
  QTest::keyClick(editor->edit, Qt::Key_Return);
  EXPECT_EQ(Messages().back(), "The IP address format is incorrect. Please check it.");
  EXPECT_EQ(Cell(d, 0), "10.0.0.1");
  EXPECT_EQ(Mark(d, 0), "1");
  EXPECT_FALSE(d.BitBtn_Sumit->isEnabled());  // the last mark went

  const struct {
    const char* text;
    const char* message;
  } refused[] = {{"1.2.3", "The IP address length is incorrect. Please check it."},
                 {"0.0.0.0", "The IP address format is illegal. Please check it."},
                 {"10.9.8.7", "The IP address is the same as the host's IP address.\n\nPlease use a different address."},
                 {"224.0.0.1", "The IP address cannot be given to a device."},
                 {"127.0.0.1", "The IP address cannot be given to a device."},
                 {"10.0.0.9", "The IP address is already used by another device."}};
  for (const auto& r : refused) {
    d.ValidateEntry(1, r.text, nullptr);
    EXPECT_EQ(Messages().back(), r.message) << r.text;
    EXPECT_EQ(Cell(d, 1), "10.0.0.2");
    EXPECT_EQ(Mark(d, 1), "2");
  }
  // Another row about to receive an address makes it taken too.
  d.ValidateEntry(1, "10.0.0.60", nullptr);
  d.ValidateEntry(2, "10.0.0.60", nullptr);
  EXPECT_EQ(Messages().back(), "The IP address is already used by another device.");
  // The present address again unmarks.
  d.ValidateEntry(2, "10.0.0.61", nullptr);
  d.ValidateEntry(2, "10.0.0.3", nullptr);
  EXPECT_EQ(Mark(d, 2), "3");
  EXPECT_EQ(Mark(d, 1), "*2");

  // No at the confirmation keeps everything.
  ui::MessageScript::Answer(ui::MB_NO);
  d.BitBtn_Sumit->click();
  EXPECT_EQ(Messages().back(), "Do you want to change the IP? Click No to discard change.");
  EXPECT_EQ(Mark(d, 1), "*2");
  EXPECT_TRUE(d.BitBtn_Sumit->isEnabled());
  EXPECT_TRUE(d.btnExit->isEnabled());
  EXPECT_FALSE(d.BitBtn_Stop->isEnabled());
  EXPECT_TRUE(events.empty());
}

TEST_F(IPChangeTest, FillRunStopModesAndRoutes) {
  auto& d = Grid({"00-0A-00-00-00-01", "00-0A-00-00-00-02", "00-0A-00-00-00-03"});
  // From 10.0.0.8: 10.0.0.9 belongs to another device, 10.9.8.7 is the host.
  ui::FileScript::Answer("10.0.0.8");
  d.btnFill->click();
  EXPECT_EQ((Strings{Cell(d, 0), Cell(d, 1), Cell(d, 2)}), (Strings{"10.0.0.8", "10.0.0.10", "10.0.0.11"}));
  EXPECT_EQ((Strings{Mark(d, 0), Mark(d, 1), Mark(d, 2)}), (Strings{"*1", "*2", "*3"}));
  EXPECT_TRUE(events.empty());  // nothing sent before Submit

  std::vector<std::string> sent;
  d.deviceOperation = [&](BatchDevice& dev, TProgressBar*) -> int32_t {
    sent.push_back(dev.ip + ">" + dev.newAddress);
    if (sent.size() == 1)  // Stop during the first of three
      QMetaObject::invokeMethod(&d, [&] { d.BitBtn_Stop->click(); }, Qt::BlockingQueuedConnection);
    return 53;  // BOOTP: the device keeps its address
  };
  ui::MessageScript::Answer(ui::MB_YES);
  d.BitBtn_Sumit->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.Finished(); }, 10000));
  EXPECT_EQ(sent, Strings{"10.0.0.1>10.0.0.8"});
  EXPECT_EQ(d.xgIP->item(0, 7)->text(), "BOOTP");
  // The saved report has every grid row, with the run's result on its row.
  ASSERT_EQ(d.Summary().results.size(), 3u);
  EXPECT_EQ(d.Summary().results[0].text, "BOOTP");
  EXPECT_FALSE(d.Summary().results[1].ran);
  EXPECT_EQ(d.xgIP->item(1, 7)->text(), "");
  EXPECT_EQ(Messages().back(), "Change IP address has stopped.\n\nYou need to search for the device again.");
  EXPECT_EQ(events, (Strings{"add 10.0.0.1", "remove 10.0.0.1"}));  // removed even without success
  EXPECT_FALSE(d.xgIP->isEnabled());
  EXPECT_FALSE(d.BitBtn_Sumit->isEnabled());
  EXPECT_TRUE(d.btnExit->isEnabled());
  // Exit: the re-search question.
  ui::MessageScript::Answer(ui::MB_NO);
  d.btnExit->click();
  EXPECT_FALSE(ui::RescanRequested);
}

}  // namespace
}  // namespace orv::maintest

// The search dialog: the state it opens in from saved settings, the range and
// model rules, every field check with its message and focus rule, Enter in
// the mask field, Exit before Start, and a search through a scripted socket.
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QElapsedTimer>
#include <QTimer>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "discovery/ui/frm_search.h"
#include "host/settings.h"
#include "inventory/name_tables.h"
#include "ui_test_support.h"

namespace orv::uitest {
namespace {

using ui::TfmSearch;

// A 116-byte answer of one device.
std::vector<uint8_t> Answer(uint16_t hwid, uint8_t macLast, std::array<uint8_t, 4> ip,
                            const std::string& name) {
  std::vector<uint8_t> d(kAnswerSize, 0);
  d[0] = 0x01;
  d[1] = 0x01;
  d[3] = 0x74;
  const uint32_t apid = 0x80000000u + hwid;
  for (int i = 0; i < 4; ++i) d[8 + i] = static_cast<uint8_t>(apid >> (8 * i));
  d[12] = hwid & 0xFF;
  d[13] = hwid >> 8;
  const uint8_t mac[6] = {0x00, 0x0A, 0x1B, 0x2C, 0x3D, macLast};
  std::memcpy(&d[14], mac, 6);
  std::memcpy(&d[20], ip.data(), 4);
  const uint8_t mask[4] = {255, 255, 255, 0};
  std::memcpy(&d[24], mask, 4);
  d[32] = 0x21;
  d[33] = 0x01;
  std::memcpy(&d[56], name.data(), std::min<size_t>(name.size(), 60));
  return d;
}

// Delivers its queued datagrams on the receive after the first send, then
// reports silence.
class ScriptedSocket : public SearchTransport {
 public:
  bool Open(uint32_t, uint16_t port, OpenStage&, SocketError&) override {
    ++opens;
    open_ = true;
    return true;
  }
  bool SetBroadcast(SocketError&) override { return true; }
  bool SendTo(uint32_t, uint16_t, std::span<const uint8_t> data, SocketError&) override {
    sentSizes.push_back(data.size());
    return true;
  }
  RecvResult Recv(std::span<uint8_t> buffer, int) override {
    if (queue.empty()) return {RecvStatus::Timeout, 0, 0};
    std::vector<uint8_t> d = std::move(queue.front());
    queue.pop_front();
    std::memcpy(buffer.data(), d.data(), std::min(buffer.size(), d.size()));
    return {RecvStatus::Datagram, d.size(), 0};
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }

  std::deque<std::vector<uint8_t>> queue;
  std::vector<size_t> sentSizes;
  int opens = 0;

 private:
  bool open_ = false;
};

// Devices that answer every 50 ms; the first receive phase falls silent after
// four answers (Stop is enabled from then on), every later one never does
// and ends only by Interrupt.
class ChattySocket : public ScriptedSocket {
 public:
  RecvResult Recv(std::span<uint8_t> buffer, int) override {
    std::unique_lock lock(m_);
    if (++receives == 5) return {RecvStatus::Timeout, 0, 0};
    if (cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return interrupted_; }))
      return {RecvStatus::Timeout, 0, 0};
    const std::vector<uint8_t> d = Answer(0x0115, static_cast<uint8_t>(receives % 200), {10, 1, 1, 9}, "c");
    std::memcpy(buffer.data(), d.data(), d.size());
    return {RecvStatus::Datagram, d.size(), 0};
  }
  void Interrupt() override {
    std::lock_guard lock(m_);
    interrupted_ = true;
    cv_.notify_all();
  }
  std::atomic<int> receives{0};

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool interrupted_ = false;
};

class SearchDialog : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    SearchStopped = false;
  }
  std::unique_ptr<TfmSearch> Make() {
    auto d = std::make_unique<TfmSearch>(nullptr, found, &socket);
    d->SetHostRefresh([this] {
      IPNodeList = interfaces;
      szNicIP = interfaces.empty() ? "" : interfaces[0].szIP;
    });
    return d;
  }
  // Runs the dialog modally, pressing `button` once the loop runs.
  int ExecPressing(TfmSearch& d, const char* button) {
    QPushButton* b = Child<QPushButton>(&d, button);
    QTimer::singleShot(0, b, [b] { b->click(); });
    return d.exec();
  }
  static int32_t Stored(const char* name) { return ReadRegInteger(szRegKeySystem, name, -77); }

  std::vector<IONODE> found;
  ScriptedSocket socket;
  std::vector<tIPNODE> interfaces{Node("127.0.0.1", "lo (loopback)", 6, 5)};
};

TEST_F(SearchDialog, FirstStartShowsDefaultsWithRangeOffAndAllModels) {
  auto d = Make();
  d->show();
  EXPECT_EQ(d->windowTitle(), "Auto Search for RTU");
  EXPECT_FALSE(Child<QCheckBox>(d.get(), "ckSearchRange")->isChecked());
  for (const char* n : {"etStartIP", "etEndIP", "etNetmask"})
    EXPECT_FALSE(Child<QLineEdit>(d.get(), n)->isEnabled()) << n;
  for (const char* n : {"rbEndIP", "rbNetmask"}) {
    EXPECT_FALSE(Child<QRadioButton>(d.get(), n)->isEnabled()) << n;
    EXPECT_FALSE(Child<QRadioButton>(d.get(), n)->isChecked()) << n;
  }
  EXPECT_TRUE(Child<QCheckBox>(d.get(), "ckAll")->isChecked());
  for (const char* n : {"ckK7710", "ck4410"}) {
    EXPECT_TRUE(Child<QCheckBox>(d.get(), n)->isChecked()) << n;
    EXPECT_FALSE(Child<QCheckBox>(d.get(), n)->isEnabled()) << n;
  }
  EXPECT_EQ(Child<QLineEdit>(d.get(), "etStartIP")->text(), "192.168.1.1");
  EXPECT_EQ(Child<QLineEdit>(d.get(), "etEndIP")->text(), "192.168.1.254");
  EXPECT_EQ(Child<QLineEdit>(d.get(), "etNetmask")->text(), "255.255.255.0");
  EXPECT_FALSE(Child<QPushButton>(d.get(), "btnStop")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>(d.get(), "btnStartSearch")->isEnabled());
  EXPECT_EQ(Child<QPushButton>(d.get(), "btnCancelSearch")->text(), "&Exit");
  EXPECT_EQ(Child<QLabel>(d.get(), "lbFound")->text(), "0");
  auto* lv = Child<QTableWidget>(d.get(), "lvEnum");
  ASSERT_EQ(lv->columnCount(), 5);
  const char* heads[] = {"#", "Server Name", "Model", "IP Address", "MAC Address"};
  for (int c = 0; c < 5; ++c) EXPECT_EQ(lv->horizontalHeaderItem(c)->text(), heads[c]);
  EXPECT_EQ(lv->rowCount(), 0);
  // Showing wrote nothing: no radio button was chosen.
  EXPECT_EQ(Stored("IPOfRange_choice"), -77);
  EXPECT_FALSE(SearchStopped);
}

TEST_F(SearchDialog, SavedMaskModeWithRangeOffEnablesOnlyTheMaskField) {
  WriteRegInteger(szRegKeySystem, "IPOfRange_use", 0);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", 1);
  WriteRegString(szRegKeySystem, "IPOfRange_netmask", "255.255.0.0");
  auto d = Make();
  d->show();
  EXPECT_FALSE(Child<QCheckBox>(d.get(), "ckSearchRange")->isChecked());
  EXPECT_TRUE(Child<QRadioButton>(d.get(), "rbNetmask")->isChecked());
  EXPECT_TRUE(Child<QLineEdit>(d.get(), "etNetmask")->isEnabled());
  EXPECT_FALSE(Child<QLineEdit>(d.get(), "etStartIP")->isEnabled());
  EXPECT_FALSE(Child<QLineEdit>(d.get(), "etEndIP")->isEnabled());
  EXPECT_EQ(Child<QLineEdit>(d.get(), "etNetmask")->text(), "255.255.0.0");
}

TEST_F(SearchDialog, RetickingTheRangeRestoresTheModeSavedAtConstruction) {
  WriteRegInteger(szRegKeySystem, "IPOfRange_use", 1);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", 0);
  auto d = Make();
  d->show();
  auto* range = Child<QCheckBox>(d.get(), "ckSearchRange");
  auto* rbEnd = Child<QRadioButton>(d.get(), "rbEndIP");
  auto* rbMask = Child<QRadioButton>(d.get(), "rbNetmask");
  auto* start = Child<QLineEdit>(d.get(), "etStartIP");
  auto* mask = Child<QLineEdit>(d.get(), "etNetmask");
  ASSERT_TRUE(range->isChecked());
  EXPECT_TRUE(rbEnd->isChecked());
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(mask->isEnabled());

  rbMask->click();  // the mask mode is stored at once
  EXPECT_EQ(Stored("IPOfRange_choice"), 1);
  EXPECT_TRUE(mask->isEnabled());
  EXPECT_FALSE(start->isEnabled());

  range->click();  // off: everything in the range group disabled
  for (QWidget* w : std::initializer_list<QWidget*>{start, mask, rbEnd, rbMask}) EXPECT_FALSE(w->isEnabled());
  range->click();  // on again: the mode read at construction, not the one just chosen
  EXPECT_TRUE(rbEnd->isChecked());
  EXPECT_FALSE(rbMask->isChecked());
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(mask->isEnabled());
  EXPECT_EQ(Stored("IPOfRange_choice"), 0);
}

TEST_F(SearchDialog, SavedFamiliesApplyWhenNotSearchingAllModels) {
  WriteRegInteger(szRegKeySystem, "Search All", 0);
  WriteRegInteger(szRegKeySystem, "K7710", 1);
  WriteRegInteger(szRegKeySystem, "Tramix 4410", 0);
  auto d = Make();
  d->show();
  auto* all = Child<QCheckBox>(d.get(), "ckAll");
  auto* k = Child<QCheckBox>(d.get(), "ckK7710");
  auto* t = Child<QCheckBox>(d.get(), "ck4410");
  EXPECT_FALSE(all->isChecked());
  EXPECT_TRUE(k->isChecked());
  EXPECT_FALSE(t->isChecked());
  EXPECT_TRUE(k->isEnabled());
  EXPECT_TRUE(t->isEnabled());
  all->click();
  EXPECT_TRUE(k->isChecked() && t->isChecked());
  EXPECT_FALSE(k->isEnabled() || t->isEnabled());
  all->click();  // unticking leaves no family chosen
  EXPECT_FALSE(k->isChecked() || t->isChecked());
  EXPECT_TRUE(k->isEnabled() && t->isEnabled());
}

struct FieldCase {
  const char* field;
  const char* text;
  const char* message;  // nullptr: accepted
};

TEST_F(SearchDialog, LeavingAFieldChecksItWithTheExactMessage) {
  const FieldCase cases[] = {
      {"etStartIP", "1.2.3.4", nullptr},
      {"etStartIP", " 192.168.127.254\t", nullptr},
      {"etStartIP", "1.2.3", "Invalid Start IP address"},
      {"etStartIP", "1.2.3.256", "Invalid Start IP address"},
      {"etStartIP", "1.2.3.a", "Invalid Start IP address"},
      {"etStartIP", "1.2.3.4.5", "Invalid Start IP address"},
      {"etStartIP", "0.0.0.0", "Illegal Start IP address"},
      {"etStartIP", "255.255.255.255", "Illegal Start IP address"},
      {"etEndIP", "1.2.3", "Invalid End IP address"},
      {"etEndIP", "0.0.0.0", "Illegal End IP address"},
      {"etEndIP", "255.255.255.254", nullptr},
  };
  auto d = Make();
  d->show();
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " '" + c.text + "'");
    ui::MessageScript::Clear();
    auto* e = Child<QLineEdit>(d.get(), c.field);
    e->setText(c.text);
    if (std::strcmp(c.field, "etStartIP") == 0) d->etStartIPExit();
    else d->etEndIPExit();
    if (c.message) {
      ASSERT_EQ(Messages(), std::vector<std::string>{c.message});
      EXPECT_EQ(ui::MessageScript::Shown()[0].icon, ui::MsgIcon::None);
      EXPECT_EQ(ui::MessageScript::Shown()[0].buttons, ui::MB_OK);
    } else {
      EXPECT_TRUE(Messages().empty());
      EXPECT_EQ(e->text(), QString(c.text).trimmed());  // trimmed text written back
    }
  }
  EXPECT_EQ(d->StartValue(), 0xC0A87FFEu);  // the last accepted start
}

TEST_F(SearchDialog, EndBelowStartIsRefusedButEqualIsAccepted) {
  auto d = Make();
  d->show();
  Child<QLineEdit>(d.get(), "etStartIP")->setText("192.168.1.20");
  d->etStartIPExit();
  Child<QLineEdit>(d.get(), "etEndIP")->setText("192.168.1.10");
  d->etEndIPExit();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Start IP address must be less than end IP address"});
  ui::MessageScript::Clear();
  Child<QLineEdit>(d.get(), "etEndIP")->setText("192.168.1.20");
  d->etEndIPExit();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(d->EndValue(), d->StartValue());
}

TEST_F(SearchDialog, LeavingTheMaskFieldResetsABadMaskToTheDefault) {
  auto d = Make();
  d->show();
  auto* mask = Child<QLineEdit>(d.get(), "etNetmask");
  mask->setText("255.255.255.100");
  d->etNetmaskExit();
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Illegal network mask!\n\nSet to default netmask 255.255.255.0\n"});
  EXPECT_EQ(mask->text(), "255.255.255.0");
  ui::MessageScript::Clear();
  mask->setText("255.255");
  d->etNetmaskExit();
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Invalid network mask!\n\nSet to default netmask 255.255.255.0\n"});
  EXPECT_EQ(mask->text(), "255.255.255.0");
  ui::MessageScript::Clear();
  mask->setText("255.255.255.192 ");
  d->etNetmaskExit();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(d->MaskValue(), 0xFFFFFFC0u);
}

TEST_F(SearchDialog, EnterInTheMaskFieldChecksWithoutResettingOrClosing) {
  WriteRegInteger(szRegKeySystem, "IPOfRange_use", 1);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", 1);
  auto d = Make();
  d->show();
  auto* mask = Child<QLineEdit>(d.get(), "etNetmask");
  ASSERT_TRUE(mask->isEnabled());
  mask->setText("255.255.255.100");
  QTest::keyClick(mask, Qt::Key_Return);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Illegal network mask!"});
  EXPECT_EQ(mask->text(), "255.255.255.100");
  ui::MessageScript::Clear();
  mask->setText("255.255.x.0");
  QTest::keyClick(mask, Qt::Key_Enter);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Invalid network mask!"});
  ui::MessageScript::Clear();
  QTest::keyClick(mask, Qt::Key_A);  // other keys are not checked
  EXPECT_TRUE(Messages().empty());
  mask->setText("255.255.0.0");
  QTest::keyClick(mask, Qt::Key_Return);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(d->MaskValue(), 0xFFFF0000u);
  // Enter neither started a search nor closed the dialog.
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(socket.opens, 0);
}

TEST_F(SearchDialog, ABadFieldGetsTheFocusBackWhenLeftForAnotherControl) {
  WriteRegInteger(szRegKeySystem, "IPOfRange_use", 1);
  auto d = Make();
  d->show();
  QApplication::setActiveWindow(d.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(d.get()));
  auto* start = Child<QLineEdit>(d.get(), "etStartIP");
  auto* end = Child<QLineEdit>(d.get(), "etEndIP");
  start->setFocus(Qt::TabFocusReason);
  QTest::qWait(10);
  ASSERT_TRUE(start->hasFocus());
  start->setText("1.2.3");
  end->setFocus(Qt::TabFocusReason);
  QTest::qWait(30);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Invalid Start IP address"});
  EXPECT_TRUE(start->hasFocus());
  // The focus coming back did not check the end field on its way out.
  ui::MessageScript::Clear();
  start->setText("10.0.0.1");
  end->setText("10.0.0.9");
  end->setFocus(Qt::TabFocusReason);
  QTest::qWait(30);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(end->hasFocus());
  EXPECT_EQ(d->StartValue(), 0x0A000001u);
}

TEST_F(SearchDialog, ExitBeforeStartClosesWithCancelAndStoresNothing) {
  auto d = Make();
  EXPECT_EQ(ExecPressing(*d, "btnCancelSearch"), QDialog::Rejected);
  EXPECT_TRUE(SearchStopped);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(socket.opens, 0);
  EXPECT_EQ(Stored("IPOfRange_use"), -77);

  // Escape is Exit too.
  SearchStopped = false;
  auto d2 = Make();
  d2->show();
  QTest::keyClick(d2.get(), Qt::Key_Escape);
  EXPECT_FALSE(d2->isVisible());
  EXPECT_EQ(d2->result(), QDialog::Rejected);
  EXPECT_TRUE(SearchStopped);
}

TEST_F(SearchDialog, StartStoresTheChoicesSearchesAndListsEachNewDevice) {
  socket.queue.push_back(Answer(0x0115, 0x01, {192, 168, 127, 10}, "North pump"));
  socket.queue.push_back(Answer(0x0203, 0x02, {0, 0, 0, 0}, "<b>Tank</b>"));
  socket.queue.push_back(Answer(0x0115, 0x01, {192, 168, 127, 10}, "North pump"));  // again
  std::vector<uint8_t> shortOne = Answer(0x0115, 0x03, {1, 2, 3, 4}, "x");
  shortOne.resize(100);
  socket.queue.push_back(shortOne);
  auto d = Make();
  Child<QLineEdit>(d.get(), "etStartIP")->setText("10.1.1.1");
  EXPECT_EQ(ExecPressing(*d, "btnStartSearch"), QDialog::Accepted);

  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].szServerName, "North pump");
  EXPECT_EQ(found[1].szIP, "192.168.127.254");
  auto* lv = Child<QTableWidget>(d.get(), "lvEnum");
  ASSERT_EQ(lv->rowCount(), 2);
  EXPECT_EQ(lv->item(0, 0)->text(), "1");
  EXPECT_EQ(lv->item(1, 0)->text(), "2");
  EXPECT_EQ(lv->item(0, 1)->text(), "North pump");
  EXPECT_EQ(lv->item(0, 2)->text(), NAME_MOD[0]);
  EXPECT_EQ(lv->item(0, 3)->text(), "192.168.127.10");
  EXPECT_EQ(lv->item(0, 4)->text(), "00-0A-1B-2C-3D-01");
  EXPECT_EQ(lv->item(1, 1)->text(), "<b>Tank</b>");  // shown as typed, never as markup
  EXPECT_EQ(lv->item(1, 0)->data(Qt::UserRole).toString(), NAME_MODDESC[6]);
  EXPECT_EQ(Child<QLabel>(d.get(), "lbFound")->text(), "2");
  // Three cycles: the bar starts half full of 0..200.
  EXPECT_EQ(Child<QProgressBar>(d.get(), "ProgressBar1")->maximum(), 200);
  EXPECT_GE(Child<QProgressBar>(d.get(), "ProgressBar1")->value(), 100);

  // The second and later requests carry the listed devices.
  ASSERT_GE(socket.sentSizes.size(), 2u);
  EXPECT_EQ(socket.sentSizes.front(), 8u);
  EXPECT_EQ(socket.sentSizes.back(), 8u + 2 * 12u);
  EXPECT_FALSE(socket.IsOpen());

  EXPECT_EQ(Stored("IPOfRange_use"), 0);
  EXPECT_EQ(Stored("IPOfRange_choice"), 0);
  EXPECT_EQ(ReadRegString(szRegKeySystem, "IPOfRange_startIP", "?"), "10.1.1.1");
  EXPECT_EQ(ReadRegString(szRegKeySystem, "IPOfRange_netmask", "?"), "255.255.255.0");
  EXPECT_EQ(Stored("Search All"), 1);
  EXPECT_EQ(Stored("K7710"), 1);
  EXPECT_EQ(Stored("Tramix 4410"), 1);
  for (const char* n : {"btnCancelSearch", "ckAll", "ckSearchRange", "etStartIP", "ckK7710"})
    EXPECT_FALSE(d->findChild<QWidget*>(n)->isEnabled()) << n;
  EXPECT_TRUE(Child<QPushButton>(d.get(), "btnStartSearch")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>(d.get(), "btnStop")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(SearchStopped);
}

TEST_F(SearchDialog, FiltersFromTheDialogApplyToTheAnswers) {
  // Mask mode over 10.9.0.0/16, K7710 only.
  WriteRegInteger(szRegKeySystem, "IPOfRange_use", 1);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", 1);
  WriteRegString(szRegKeySystem, "IPOfRange_startIP", "10.9.1.1");
  WriteRegString(szRegKeySystem, "IPOfRange_netmask", "255.255.0.0");
  WriteRegInteger(szRegKeySystem, "Search All", 0);
  WriteRegInteger(szRegKeySystem, "K7710", 1);
  WriteRegInteger(szRegKeySystem, "Tramix 4410", 0);
  socket.queue.push_back(Answer(0x0115, 0x01, {10, 9, 200, 7}, "in"));
  socket.queue.push_back(Answer(0x0115, 0x02, {10, 8, 200, 7}, "outside"));
  socket.queue.push_back(Answer(0x0203, 0x03, {10, 9, 1, 5}, "other family"));
  auto d = Make();
  EXPECT_EQ(ExecPressing(*d, "btnStartSearch"), QDialog::Accepted);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].szServerName, "in");

  // No family ticked: nothing passes.
  found.clear();
  socket.queue.push_back(Answer(0x0115, 0x01, {10, 9, 200, 7}, "in"));
  auto d2 = Make();
  d2->show();
  Child<QCheckBox>(d2.get(), "ckK7710")->setChecked(false);
  EXPECT_EQ(ExecPressing(*d2, "btnStartSearch"), QDialog::Accepted);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(Stored("K7710"), 0);
}

TEST_F(SearchDialog, TheWindowRunsWhileAnswersArriveAndStopEndsTheReceive) {
  ChattySocket chatty;
  TfmSearch d(nullptr, found, &chatty);
  d.SetHostRefresh([this] {
    IPNodeList = interfaces;
    szNicIP = interfaces[0].szIP;
  });
  QPushButton* start = Child<QPushButton>(&d, "btnStartSearch");
  QPushButton* stop = Child<QPushButton>(&d, "btnStop");
  auto* lv = Child<QTableWidget>(&d, "lvEnum");
  int rowsSeenDuringReceive = -1;
  QElapsedTimer clock;
  QTimer::singleShot(0, start, [start] { start->click(); });
  // Queued while the search thread sits in its receive phase: the dialog's
  // loop handles it and has already listed answers.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &d, [&] {
    if (!stop->isEnabled() || chatty.receives < 10) return;
    poll.stop();
    rowsSeenDuringReceive = d.Searching() ? lv->rowCount() : -2;
    clock.start();
    stop->click();
  });
  poll.start(20);
  EXPECT_EQ(d.exec(), QDialog::Accepted);
  const qint64 afterStopMs = clock.elapsed();
  EXPECT_GT(rowsSeenDuringReceive, 0);
  EXPECT_EQ(static_cast<int>(found.size()), lv->rowCount());
  // Without the interrupt the phase would run for ten receive time-outs.
  EXPECT_LT(afterStopMs, 2000);
  EXPECT_FALSE(chatty.IsOpen());
  EXPECT_TRUE(SearchStopped);
}

TEST_F(SearchDialog, NoHostInterfaceEndsBeforeSearching) {
  interfaces.clear();
  auto d = Make();
  EXPECT_EQ(ExecPressing(*d, "btnStartSearch"), QDialog::Accepted);
  EXPECT_EQ(socket.opens, 0);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(Stored("Search All"), 1);  // the choices were stored first
}

TEST_F(SearchDialog, ASettingsErrorAtStartIsShownAndTheDialogStillCloses) {
  auto d = Make();
  d->SetHostRefresh([] { throw RegistryError("Invalid data type for 'NIC_IP'"); });
  EXPECT_EQ(ExecPressing(*d, "btnStartSearch"), QDialog::Accepted);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Invalid data type for 'NIC_IP'"});
  EXPECT_EQ(socket.opens, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(SearchStopped);
}

}  // namespace
}  // namespace orv::uitest

// The RTU console frame: caption, banner and status from its module, and the
// console client's life cycle (start, end by itself, restart half a second
// later, stop on hide, reconnect, failed start) through a scripted client.
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

#include "console/ui/console_client.h"
#include "console/ui/frm_nx9000.h"
#include "inventory/name_tables.h"
#include "ui_test_support.h"

namespace orv::uitest {
namespace {

using ui::TfmNx9000;

struct ClientLog {
  std::vector<std::string> starts;  // address of each start
  int stops = 0;
  int places = 0;
  bool startSucceeds = true;
  bool pending = false;      // answers later through `ready`, as the X11 client does
  bool unavailable = false;
  std::function<void()> lastEnded;
  std::function<void(bool)> lastReady;
};

class ScriptedClient : public ui::ConsoleProcess {
 public:
  explicit ScriptedClient(ClientLog& log) : log_(log) {}
  ui::ConsoleStart Start(QWidget* box, const std::string& address, std::function<void(bool)> ready,
                         std::function<void()> ended) override {
    log_.starts.push_back(address);
    log_.lastEnded = std::move(ended);
    log_.lastReady = std::move(ready);
    if (log_.unavailable) return ui::ConsoleStart::kFailed;
    if (log_.pending) return ui::ConsoleStart::kPending;
    return log_.startSucceeds && box != nullptr ? ui::ConsoleStart::kRunning : ui::ConsoleStart::kFailed;
  }
  std::string Unavailable() const override { return log_.unavailable ? "no display here" : ""; }
  void Stop() override { ++log_.stops; }
  void Place(QWidget*) override { ++log_.places; }

 private:
  ClientLog& log_;
};

class ConsoleFrame : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    savedBanner_ = ui::BannerImage;
    ui::BannerImage = QImage(90, 6, QImage::Format_RGB888);
    ui::BannerImage.fill(Qt::cyan);
    new QVBoxLayout(&panel);
    module.szConnection = "192.168.127.20";
    frame = new TfmNx9000(&module);
    module.Init(frame, &panel, nullptr);  // the module owns the frame from here
  }
  void TearDown() override {
    ui::SetConsoleProcessFactory(nullptr);
    ui::BannerImage = savedBanner_;
    DialogTest::TearDown();
  }
  void UseScriptedClient() {
    ui::SetConsoleProcessFactory([this] { return std::make_unique<ScriptedClient>(log); });
  }
  QString Status() const { return frame->StatusText(); }

  QWidget panel;  // outlives the module and so its frame
  TModNx9000 module{5};
  TfmNx9000* frame = nullptr;
  ClientLog log;

 private:
  QImage savedBanner_;
};

TEST_F(ConsoleFrame, ShowsTheModelNameOverTheBannerAndStartsTerminated) {
  EXPECT_EQ(frame->parentWidget(), &panel);
  EXPECT_FALSE(frame->isVisibleTo(&panel));
  EXPECT_EQ(frame->Caption(), NAME_MOD[5]);
  EXPECT_EQ(Status(), "Terminated");
  auto* image = Child<QLabel>(frame, "Image1");
  EXPECT_FALSE(image->pixmap().isNull());
  EXPECT_EQ(Child<QLabel>(frame, "lbDesc")->textFormat(), Qt::PlainText);
  EXPECT_EQ(Child<QToolButton>(frame, "btnReconnectTelnet")->accessibleName(), "Reconnect");
  // Every frame shows the same banner data rather than a copy of its own.
  TModNx9000 other{0};
  auto* otherFrame = new TfmNx9000(&other);
  other.Init(otherFrame, &panel, nullptr);
  EXPECT_EQ(Child<QLabel>(otherFrame, "Image1")->pixmap().cacheKey(), image->pixmap().cacheKey());
  EXPECT_EQ(otherFrame->Caption(), NAME_MOD[0]);

  // Without a console client in the build, showing leaves it terminated.
  module.Show();
  EXPECT_TRUE(frame->isVisibleTo(&panel));
  EXPECT_EQ(Status(), "Terminated");
  EXPECT_FALSE(frame->ConsoleRunning());
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ConsoleFrame, AClientThatEndsByItselfIsRestartedHalfASecondLater) {
  UseScriptedClient();
  module.Show();
  ASSERT_EQ(log.starts, std::vector<std::string>{"192.168.127.20"});
  EXPECT_EQ(Status(), "Telnet");
  EXPECT_GE(log.places, 1);

  // The end is noticed on the client's own thread.
  std::thread watcher(log.lastEnded);
  watcher.join();
  QTest::qWait(20);
  EXPECT_EQ(Status(), "Terminated");
  EXPECT_TRUE(frame->RestartPending());
  EXPECT_EQ(log.starts.size(), 1u);
  QTest::qWait(600);
  EXPECT_EQ(log.starts.size(), 2u);
  EXPECT_EQ(Status(), "Telnet");
  EXPECT_FALSE(frame->RestartPending());

  // Address changes are picked up by the next start.
  module.szConnection = "10.0.0.7";
  Child<QToolButton>(frame, "btnReconnectTelnet")->click();
  EXPECT_EQ(log.starts.back(), "10.0.0.7");
  EXPECT_EQ(log.stops, 2);  // the restart's own stop of the ended run, then the reconnect's
}

TEST_F(ConsoleFrame, HidingStopsTheClientAndCancelsAPendingRestart) {
  UseScriptedClient();
  module.Show();
  auto firstEnded = log.lastEnded;
  firstEnded();
  QTest::qWait(20);
  ASSERT_TRUE(frame->RestartPending());
  module.Hide();
  EXPECT_FALSE(frame->isVisibleTo(&panel));
  EXPECT_EQ(Status(), "Terminated");
  EXPECT_FALSE(frame->RestartPending());
  QTest::qWait(600);
  EXPECT_EQ(log.starts.size(), 1u);

  // A late end notice from a run that was already stopped changes nothing.
  module.Show();
  ASSERT_EQ(log.starts.size(), 2u);
  firstEnded();
  QTest::qWait(20);
  EXPECT_EQ(Status(), "Telnet");
  EXPECT_FALSE(frame->RestartPending());
}

TEST_F(ConsoleFrame, AFailedStartSaysSoAndLeavesTheStatusAlone) {
  UseScriptedClient();
  log.startSucceeds = false;
  module.Show();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Make sure the telnet client is enabled"});
  EXPECT_EQ(Status(), "Terminated");
  log.startSucceeds = true;
  frame->btnReconnectTelnetClick();
  EXPECT_EQ(Status(), "Telnet");
  EXPECT_EQ(log.starts.size(), 2u);
}

}  // namespace
}  // namespace orv::uitest

namespace orv::uitest {
namespace {

// The X11 client answers from its watcher thread once its window is embedded
// (or could not be found); where it cannot run at all, nothing is launched.
TEST_F(ConsoleFrame, AClientThatAnswersLaterAndOneThatCannotRunHere) {
  UseScriptedClient();
  log.pending = true;
  module.Show();
  ASSERT_EQ(log.starts.size(), 1u);
  EXPECT_EQ(Status(), "Terminated");
  auto firstReady = log.lastReady;
  std::thread([&] { firstReady(true); }).join();
  QTest::qWait(20);
  EXPECT_EQ(Status(), "Telnet");
  EXPECT_GE(log.places, 1);

  frame->btnReconnectTelnetClick();  // a second run, whose window is not found
  log.lastReady(false);
  firstReady(true);  // late news of the stopped run: ignored
  QTest::qWait(20);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Make sure the telnet client is enabled"});
  EXPECT_EQ(Status(), "Terminated");

  log.unavailable = true;
  frame->btnReconnectTelnetClick();
  EXPECT_EQ(Status(), "no display here");
  EXPECT_EQ(log.starts.size(), 2u);
  EXPECT_FALSE(frame->ConsoleRunning());
}

}  // namespace
}  // namespace orv::uitest

namespace orv::uitest {
namespace {

TEST(ConsolePlatform, AWaylandSessionWithAnXDisplayUsesXWaylandUnlessThePlatformIsChosen) {
  const QByteArray saved[3] = {qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")};
  char prog[] = "orvistar", opt[] = "-platform", val[] = "wayland";
  char* plain[] = {prog, nullptr};
  char* chosen[] = {prog, opt, val, nullptr};
  qunsetenv("QT_QPA_PLATFORM");
  qputenv("WAYLAND_DISPLAY", "wayland-0");
  qputenv("DISPLAY", ":0");
  ui::PreferX11Platform(3, chosen);
  EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
  ui::PreferX11Platform(1, plain);
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb");
  qputenv("QT_QPA_PLATFORM", "wayland");  // the user's own choice stays
  ui::PreferX11Platform(1, plain);
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "wayland");
  qunsetenv("QT_QPA_PLATFORM");
  qunsetenv("DISPLAY");  // Wayland alone: nothing to ask for
  ui::PreferX11Platform(1, plain);
  EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
  const char* names[3] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
  for (int i = 0; i < 3; ++i) {
    if (saved[i].isNull()) qunsetenv(names[i]);
    else qputenv(names[i], saved[i]);
  }
  // Offscreen, as these tests run, there is no X11 for the console.
  EXPECT_FALSE(ui::ConsoleDisplayAvailable());
}

}  // namespace
}  // namespace orv::uitest

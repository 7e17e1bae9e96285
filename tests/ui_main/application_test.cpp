// The application's exception display and the single-instance hand-over.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/single_instance.h"
#include "host/settings.h"
#include "main_test_support.h"

namespace orv::maintest {
namespace {

TEST(ApplicationTest, ErrorsEscapingHandlersAreShownAndTheLoopGoesOn) {
  ui::MessageScript::Enable();
  bool later = false;
  QTimer::singleShot(0, [] { throw RegistryError("Invalid data type for 'NIC_IP'"); });
  QTimer::singleShot(0, [] { throw 42; });
  QTimer::singleShot(10, [&] { later = true; });
  QTRY_VERIFY_WITH_TIMEOUT(later, 2000);
  auto& shown = ui::MessageScript::Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Invalid data type for 'NIC_IP'");
  EXPECT_EQ(shown[0].icon, ui::MsgIcon::Error);
  EXPECT_EQ(shown[1].text, "");
  ui::MessageScript::Disable();
}

TEST(SingleInstanceTest, SecondStartAsksTheFirstToRaise) {
  const QString name = QString("te1-orvistar-%1").arg(QCoreApplication::applicationPid());
  ui::TSingleInstance first(name);
  ASSERT_TRUE(first.BecomeFirst());
  ui::TSingleInstance second(name);
  EXPECT_FALSE(second.BecomeFirst());
  // The first has no window yet: nobody answers and nothing happens.
  EXPECT_FALSE(second.AskFirstToRaise(200));
  ASSERT_TRUE(first.Listen());
  QSignalSpy spy(&first, &ui::TSingleInstance::RaiseRequested);
  EXPECT_TRUE(second.AskFirstToRaise(200));
  QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 2000);
}

TEST(SingleInstanceTest, LockIsFreedWithTheFirstInstance) {
  const QString name = QString("te1-orvistar-free-%1").arg(QCoreApplication::applicationPid());
  {
    ui::TSingleInstance first(name);
    ASSERT_TRUE(first.BecomeFirst());
  }
  ui::TSingleInstance next(name);
  EXPECT_TRUE(next.BecomeFirst());
}

class RaiseTest : public MainWindowTest {};

TEST_F(RaiseTest, RaiseRestoresAMinimisedWindow) {
  Create();
  window->showMinimized();
  ASSERT_TRUE(window->isMinimized());
  window->RaiseFromOtherInstance();
  EXPECT_FALSE(window->isMinimized());
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace orv::maintest

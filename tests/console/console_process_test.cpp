// The console client process on a virtual X server started by the test: the
// launch, the window search (by process, by title and class), embedding into
// a parent window, the watcher's single end notice, and stops.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/console_command.h"
#include "console/my_create_process.h"

namespace orv::console {
namespace {

pid_t g_xvfb = 0;

class XServer : public ::testing::Environment {
 public:
  void SetUp() override {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int n = 150 + getpid() % 200; n < 600; ++n) {
      const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      struct stat st;
      if (stat(sock.c_str(), &st) == 0 || stat(lock.c_str(), &st) == 0) continue;
      const std::string display = ":" + std::to_string(n);
      g_xvfb = fork();
      if (g_xvfb == 0) {
        execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset",
              static_cast<char*>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 100; ++i) {
        if (stat(sock.c_str(), &st) == 0) {
          setenv("DISPLAY", display.c_str(), 1);
          return;
        }
        usleep(50000);
      }
      return;
    }
  }
  void TearDown() override {
    if (g_xvfb > 0) {
      kill(g_xvfb, SIGTERM);
      waitpid(g_xvfb, nullptr, 0);
    }
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new XServer);

std::string Fake() { return std::string(std::getenv("ORV_BIN")) + "/../tests/fake_console_client"; }

bool Gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

class ConsoleProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !x.Ok()) {
      if (std::getenv("CI")) FAIL() << "no X server for the console tests (Xvfb missing?)";
      GTEST_SKIP() << "no X server (install xvfb)";
    }
    // The window that receives the client, as the console frame's box does.
    c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    parent = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, parent, s->root, 0, 0, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, 0, nullptr);
    xcb_map_window(c, parent);
    xcb_flush(c);
    MyCreateProcess::SetErrorBox([this](const std::string& text, const std::string& title) {
      boxes.push_back(title + ": " + text);
    });
  }
  void TearDown() override {
    MyCreateProcess::SetErrorBox(nullptr);
    if (c) xcb_disconnect(c);
  }
  // A process object with short waits and a counting exit notification.
  std::unique_ptr<MyCreateProcess> Make(std::vector<std::string> args, const std::string& title = "",
                                        bool consoleClass = false) {
    auto p = std::make_unique<MyCreateProcess>();
    p->SetupClient(parent, std::move(args), title, consoleClass);
    p->SetTimings(1500, 50);
    p->SetExitNotification([](void* n) { ++*static_cast<std::atomic<int>*>(n); }, &ends);
    return p;
  }

  XConnection x;
  xcb_connection_t* c = nullptr;
  XWindow parent = 0;
  std::vector<std::string> boxes;
  std::atomic<int> ends{0};
};

TEST_F(ConsoleProcess, LaunchFailuresAndClientsWithoutAWindow) {
  auto empty = Make({});
  EXPECT_FALSE(empty->StartClient());
  EXPECT_EQ(empty->Pid(), 0);
  EXPECT_TRUE(boxes.empty());

  auto missing = Make({"/nonexistent/telnet-client", "10.0.0.1"});
  EXPECT_FALSE(missing->StartClient());
  EXPECT_EQ(boxes, std::vector<std::string>{"Error: Error is 2"});
  missing->StopClient();  // a stop after a failed start does nothing

  auto quits = Make({Fake(), "exit"});
  EXPECT_FALSE(quits->StartClient());
  EXPECT_EQ(quits->Pid(), 0);  // reaped

  // A window that is neither the process's nor of the console class.
  auto wrongClass = Make({Fake(), "window", "Telnet 10.0.0.9", "Other", "0", "0"}, "Telnet 10.0.0.9", true);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(wrongClass->StartClient());
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1400));
  EXPECT_EQ(wrongClass->Pid(), 0);  // the client was ended
  wrongClass.reset();
  quits.reset();
  EXPECT_EQ(ends.load(), 0);
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(ConsoleProcess, EmbedsTheWindowOfTheProcessAndReportsItsEndOnce) {
  auto p = Make({Fake(), "window", "any", "Fake", "1", "800"});
  ASSERT_TRUE(p->StartClient());
  const pid_t pid = p->Pid();
  const XWindow w = p->ClientWindow();
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x.Parent(w), parent);
  auto g = x.Geometry(w);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->width, 320);  // maximised in the box
  EXPECT_EQ(g->height, 240);
  EXPECT_TRUE(p->Place(300, 200));
  EXPECT_EQ(x.Geometry(w)->width, 300);
  for (int i = 0; i < 60 && ends.load() == 0; ++i) usleep(50000);
  usleep(600000);
  EXPECT_EQ(ends.load(), 1);
  EXPECT_FALSE(p->Running());
  EXPECT_TRUE(Gone(pid));
  p->StopClient();
  p.reset();
  EXPECT_EQ(ends.load(), 1);
}

TEST_F(ConsoleProcess, FoundByTitleAndStoppedWithoutANotice) {
  // No _NET_WM_PID: found by its title and console class; it ignores SIGTERM,
  // so the stop has to end it with SIGKILL.
  auto p = Make({Fake(), "window", "Telnet 10.0.0.5", "XTerm", "0", "0", "ignore-term"}, "Telnet 10.0.0.5", true);
  ASSERT_TRUE(p->StartClient());
  const pid_t pid = p->Pid();
  EXPECT_EQ(x.Title(p->ClientWindow()), "Telnet 10.0.0.5");
  EXPECT_EQ(x.Parent(p->ClientWindow()), parent);
  p->StopClient();
  EXPECT_TRUE(Gone(pid));
  EXPECT_EQ(p->ClientWindow(), 0u);
  usleep(700000);
  p.reset();
  EXPECT_EQ(ends.load(), 0);
}

TEST_F(ConsoleProcess, AsynchronousStartAnswersFromTheWatcherAndAStopCancelsIt) {
  std::atomic<int> ready{-1};
  auto p = Make({Fake(), "window", "w", "Fake", "1", "0"});
  ASSERT_TRUE(p->StartClientAsync([&](bool ok) { ready = ok; }));
  for (int i = 0; i < 60 && ready.load() < 0; ++i) usleep(50000);
  EXPECT_EQ(ready.load(), 1);
  EXPECT_EQ(x.Parent(p->ClientWindow()), parent);

  // Stopped while it is still being looked for: no answer, no notice, no process.
  std::atomic<int> second{-1};
  auto q = Make({Fake(), "window", "w2", "Fake", "1", "0"});
  ASSERT_TRUE(q->StartClientAsync([&](bool ok) { second = ok; }));
  const pid_t pid = q->Pid();
  q->StopClient();
  EXPECT_TRUE(Gone(pid));
  EXPECT_EQ(second.load(), -1);
  p.reset();
  q.reset();
  EXPECT_EQ(ends.load(), 0);
}

TEST(ConsoleCommand, SplitsBeforeSubstitutingSoAnAddressStaysOneArgument) {
  auto args = BuildConsoleArgs(szDefaultConsoleCommand, "10.0.0.1 -x", 4242);
  ASSERT_TRUE(args);
  EXPECT_EQ(*args, (std::vector<std::string>{"xterm", "-into", "4242", "-title", "Telnet 10.0.0.1 -x", "-e",
                                             "telnet", "10.0.0.1 -x"}));
  EXPECT_EQ(*SplitCommandLine(R"(a "" "b \" c" d\\e 100%%)"),
            (std::vector<std::string>{"a", "", "b \" c", "d\\e", "100%%"}));
  EXPECT_EQ(ExpandConsoleText("100%% %a %x %", "h", 1), "100% h %x %");
  std::string error;
  EXPECT_FALSE(SplitCommandLine("xterm -title \"open", &error));
  EXPECT_NE(error.find("unterminated"), std::string::npos);
  EXPECT_TRUE(SplitCommandLine("  ")->empty());
}

}  // namespace
}  // namespace orv::console

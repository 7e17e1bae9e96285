#include "console/ui/console_client.h"

#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>

#include "app/ui_support.h"
#include "console/console_command.h"
#include "console/my_create_process.h"
#include "host/settings.h"

namespace orv::ui {

const char* const szConsoleNeedsX11 = "The console needs an X11 display";

bool ConsoleDisplayAvailable() {
  const char* display = std::getenv("DISPLAY");
  return display && *display && QGuiApplication::platformName() == "xcb";
}

namespace {

class XConsoleProcess : public ConsoleProcess {
 public:
  std::string Unavailable() const override { return ConsoleDisplayAvailable() ? std::string() : szConsoleNeedsX11; }

  ConsoleStart Start(QWidget* box, const std::string& address, std::function<void(bool)> ready,
                     std::function<void()> ended) override {
    // Read at every start: a changed setting takes effect at the next one.
    std::string command, title;
    try {
      command = ReadRegString(szRegKeySystem, console::szConsoleCommandName, console::szDefaultConsoleCommand);
      title = ReadRegString(szRegKeySystem, console::szConsoleTitleName, console::szDefaultConsoleTitle);
    } catch (const std::exception& e) {
      ShowMessage(box, QString::fromStdString(e.what()), QString(), MsgIcon::Error, MB_OK);
      return ConsoleStart::kFailed;
    }
    const auto window = static_cast<console::XWindow>(box->winId());
    std::string error;
    auto args = console::BuildConsoleArgs(command, address, window, &error);
    if (!args) {
      ShowMessage(box, QString::fromStdString(error), QString(), MsgIcon::Error, MB_OK);
      return ConsoleStart::kFailed;
    }
    ended_ = std::move(ended);
    proc_.SetupClient(window, std::move(*args), console::ExpandConsoleText(title, address, window), true);
    proc_.SetClientSize(box->width(), box->height());
    proc_.SetExitNotification([](void* self) { static_cast<XConsoleProcess*>(self)->ended_(); }, this);
    return proc_.StartClientAsync(std::move(ready)) ? ConsoleStart::kPending : ConsoleStart::kFailed;
  }

  void Stop() override { proc_.StopClient(); }
  void Place(QWidget* box) override { proc_.Place(box->width(), box->height()); }
  unsigned long Window() const override { return proc_.ClientWindow(); }
  long Pid() const override { return proc_.Pid(); }

 private:
  std::function<void()> ended_;
  console::MyCreateProcess proc_;  // last: stopped and joined before ended_ goes
};

}  // namespace

std::unique_ptr<ConsoleProcess> MakeXConsoleProcess() { return std::make_unique<XConsoleProcess>(); }

void InstallXConsole() {
  SetConsoleProcessFactory(MakeXConsoleProcess);
  console::MyCreateProcess::SetErrorBox([](const std::string& text, const std::string& title) {
    ShowMessage(nullptr, QString::fromStdString(text), QString::fromStdString(title), MsgIcon::Warning, MB_OK);
  });
}

void PreferX11Platform(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM")) return;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0) return;
  }
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* display = std::getenv("DISPLAY");
  if (wayland && *wayland && display && *display) setenv("QT_QPA_PLATFORM", "xcb", 1);
}

}  // namespace orv::ui

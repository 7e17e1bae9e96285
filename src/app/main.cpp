// The desktop program: one instance per user; a later start brings the
// running one to the front and ends.
#include <exception>
#include <stdexcept>

#include "app/application.h"
#include "app/frm_main.h"
#include "app/single_instance.h"
#include "app/ui_support.h"
#include "console/ui/console_client.h"

int main(int argc, char** argv) {
  orv::ui::PreferX11Platform(argc, argv);  // the console embeds X11 windows
  QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
  orv::ui::TApplication app(argc, argv);
  orv::ui::InstallXConsole();
  orv::ui::TSingleInstance instance("Orvistar");
  if (!instance.BecomeFirst()) {
    // Nobody answering means the first is still creating its window.
    instance.AskFirstToRaise();
    return 0;
  }
  try {
    auto* window = new orv::ui::TfmMain();
    window->setAttribute(Qt::WA_DeleteOnClose);
    orv::ui::fmMain = window;
    QObject::connect(&instance, &orv::ui::TSingleInstance::RaiseRequested, window,
                     &orv::ui::TfmMain::RaiseFromOtherInstance);
    window->show();
    instance.Listen();
    app.exec();
  } catch (const std::exception& e) {
    orv::ui::ShowException(nullptr, e);
  } catch (...) {
    orv::ui::ShowException(nullptr, std::runtime_error(""));
  }
  return 0;
}

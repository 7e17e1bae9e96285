#include "app/application.h"

#include <exception>
#include <stdexcept>

#include "app/ui_support.h"

namespace orv::ui {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("VORN Orvistar");
  setApplicationDisplayName("VORN Orvistar");
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(activeWindow(), e);
  } catch (...) {
    ShowException(activeWindow(), std::runtime_error(""));
  }
  return false;
}

}  // namespace orv::ui

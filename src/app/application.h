#pragma once
// The application object: an error escaping any event handler is shown in a
// message box with its text, and the program goes on.
#include <QApplication>

namespace orv::ui {

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace orv::ui

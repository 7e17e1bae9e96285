#pragma once
// The countdown shown while a device restarts: 6 down to 0, one step a
// second, then the dialog closes itself.
#include <QDialog>

#include "devices/wait_dialog.h"

class QLabel;
class QTimer;

namespace orv::ui {

class TfmWait : public QDialog {
  Q_OBJECT
 public:
  explicit TfmWait(QWidget* parent = nullptr);
  int32_t Count() const { return nCount_; }
  QTimer* Timer() const { return Timer1; }

 signals:
  // Each text lbTime shows, in order (the first is the one FormCreate shows).
  void countShown(const QString& text);

 public slots:
  void FormCreate();
  void FormActivate();
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* lbTime;
  QTimer* Timer1;
  int32_t nCount_ = 6;
};

// The restart wait the device commands show: a modal TfmWait over the active
// window. Install with SetRestartWait.
class QtRestartWait : public TRestartWait {
 public:
  void ShowModal() override;
};

}  // namespace orv::ui

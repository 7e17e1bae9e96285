#pragma once
// The console view of one RTU module: the model name over the banner, a
// reconnect button, the console state in a status bar, and the box that
// receives the embedded console client's window.
#include <QFrame>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "devices/mod_nx9000.h"

class QLabel;
class QScrollArea;
class QStatusBar;
class QTimer;
class QToolButton;

namespace orv::ui {

// One run of the console client connected to a device. The frame owns it
// while it runs.
enum class ConsoleStart {
  kFailed,   // not started (any error box has been shown)
  kRunning,  // started, its window embedded
  kPending,  // launched; `ready` will tell whether its window was embedded
};

class ConsoleProcess {
 public:
  virtual ~ConsoleProcess() = default;
  // Non-empty: the reason no client can run here (shown instead of starting).
  virtual std::string Unavailable() const { return {}; }
  // Starts the client for `address` inside `box`. `ready` and `ended` may be
  // called from any thread; `ended` when the client ends without a stop.
  virtual ConsoleStart Start(QWidget* box, const std::string& address, std::function<void(bool)> ready,
                             std::function<void()> ended) = 0;
  virtual void Stop() = 0;
  // Fits the client window to the box.
  virtual void Place(QWidget* box) {}
  virtual unsigned long Window() const { return 0; }  // the embedded native window
  virtual long Pid() const { return 0; }

};

// Makes the console processes of every frame. Until one is installed no
// client is started and the frames stay "Terminated".
using ConsoleProcessFactory = std::function<std::unique_ptr<ConsoleProcess>()>;
void SetConsoleProcessFactory(ConsoleProcessFactory factory);

class TfmNx9000 : public QFrame, public TModuleConsoleView {
  Q_OBJECT
 public:
  // Created invisible; the module deletes it (through its view pointer), so
  // the container it is attached to must outlive the module.
  explicit TfmNx9000(TIOMod* module);
  ~TfmNx9000() override;

  // The view interface of the inventory.
  void AttachTo(void* parent) override;
  void FillParent() override;
  void SetVisible(bool visible) override { setVisible(visible); }
  // The module's console interface.
  void Setup(TIOMod& module) override { SetupView(); }
  void StartConsole() override;
  void StopConsole() override;  // also cancels a pending restart
  void OnAddIO(TIOObjList* list) override { pIOObjList_ = list; }

  void SetupView();
  QString StatusText() const;
  QString Caption() const;
  bool RestartPending() const;
  bool ConsoleRunning() const { return static_cast<bool>(console_); }
  // The running client, for tests and measurements (null when none).
  const ConsoleProcess* Console() const { return console_.get(); }
  QWidget* ConsoleBox() const;

 public slots:
  void btnReconnectTelnetClick();
  void RestartTimerTimer();
  void webBoxResize();
  // The client ended by itself.
  void ConsoleEnded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetStatus(const char* text);
  void ConsoleReady(bool embedded);
  // Runs fn on the UI thread, unless this frame is gone or run `run` was stopped.
  std::function<void()> OnUiThread(uint64_t run, std::function<void(TfmNx9000*)> fn);
  void StopClient();

  QFrame* Panel4;
  QLabel* Image1;
  QLabel* lbDesc;
  QToolButton* btnReconnectTelnet;
  QStatusBar* sbrStatus;
  QLabel* statusText_;
  QTimer* RestartTimer;
  QScrollArea* webBox;

  TIOObjList* pIOObjList_ = nullptr;
  TIOMod* module_;
  std::unique_ptr<ConsoleProcess> console_;
  bool bRestart_ = false;
  uint64_t nRun_ = 0;  // numbers the client runs (UI thread only)
};

}  // namespace orv::ui

#pragma once
// One start of an external console client: launches it (posix_spawn, never a
// shell), finds its X11 window, makes that window a child of a given window,
// then watches the process on a thread of its own until it ends or is
// stopped. An end without a stop request calls the exit notification (on the
// watcher's thread). One object serves one start.
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/x11_windows.h"

namespace orv::console {

class MyCreateProcess {
 public:
  using ExitNotification = std::function<void(void*)>;
  // Shows a launch failure: text "Error is %d", title "Error". Process-wide;
  // the window installs a message box, the default writes to stderr.
  using ErrorBox = std::function<void(const std::string& text, const std::string& title)>;
  static void SetErrorBox(ErrorBox box);

  MyCreateProcess();
  ~MyCreateProcess();  // StopClient, then waits for the watcher
  MyCreateProcess(const MyCreateProcess&) = delete;
  MyCreateProcess& operator=(const MyCreateProcess&) = delete;

  // `commandLine` is the argument vector (program first); parent 0 leaves the
  // client's window where it is. The title is used when no window of the
  // process is found; with `consoleClass` only a window of class "XTerm".
  void SetupClient(XWindow parent, std::vector<std::string> commandLine, std::string windowTitle,
                   bool consoleClass);
  void SetClientSize(int width, int height);
  void SetExitNotification(ExitNotification proc, void* data);
  // How long to wait for the client's window, and how long to let it settle
  // once it exists.
  void SetTimings(int windowWaitMs, int settleMs);

  // Launches, finds and embeds on the calling thread; true when the client
  // runs with its window embedded.
  bool StartClient();
  // Launches on the calling thread (false at once when that fails: the error
  // box has been shown); finding and embedding the window run on the watcher,
  // which then calls ready(true), or ready(false) after ending the client.
  // ready is not called when a stop comes first.
  bool StartClientAsync(std::function<void(bool)> ready);
  // Ends a running (or still starting) client: SIGTERM to its process group,
  // SIGKILL after a short grace, waits for it; no exit notification follows.
  void StopClient();

  XWindow ClientWindow() const { return client_.load(); }
  pid_t Pid() const;  // 0 once the process has been reaped
  bool Running() const { return running_.load(); }
  // Makes the embedded window fill a box of this size; false when it is gone.
  bool Place(int width, int height);

  static constexpr int kPollMs = 500;       // the watcher's wait step
  static constexpr int kWindowWaitMs = 5000;
  static constexpr int kSettleMs = 500;
  static constexpr int kFailWaitMs = 3000;  // after ending a client whose window was not found
  static constexpr int kStopGraceMs = 1000; // SIGTERM, then SIGKILL
  static constexpr int kStopWaitMs = 10000;

 private:
  bool Launch();
  bool FindAndEmbed();
  void Watch();
  void Run(std::function<void(bool)> ready);
  // Waits up to ms for the process to end (without reaping it); a stop
  // request cuts the wait short when `stoppable`. True when it has ended.
  bool WaitExit(pid_t pid, int ms, bool stoppable);
  void EndProcess(int termWaitMs, int killWaitMs);  // caller holds procMutex_
  void Reap();                                      // caller holds procMutex_
  bool Sleep(int ms);  // false when a stop cut it short

  XWindow parent_ = 0;
  std::vector<std::string> argv_;
  std::string title_;
  bool consoleClass_ = false;
  int width_ = 0, height_ = 0;
  ExitNotification notify_;
  void* notifyData_ = nullptr;
  int windowWaitMs_ = kWindowWaitMs, settleMs_ = kSettleMs;

  std::unique_ptr<XConnection> x_;
  mutable std::mutex procMutex_;
  pid_t pid_ = 0;     // unreaped child, guarded by procMutex_
  int pidfd_ = -1;    // -1: the kernel has none, waits poll waitid
  int wakefd_ = -1;   // written by StopClient to cut waits short
  bool started_ = false;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<XWindow> client_{0};
  std::thread watcher_;
};

}  // namespace orv::console

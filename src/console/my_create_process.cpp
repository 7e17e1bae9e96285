#include "console/my_create_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "common/trace.h"

extern char** environ;

namespace orv::console {

namespace {
std::mutex& BoxMutex() {
  static std::mutex m;
  return m;
}
MyCreateProcess::ErrorBox& Box() {
  static MyCreateProcess::ErrorBox box;
  return box;
}
void ShowError(const std::string& text, const std::string& title) {
  MyCreateProcess::ErrorBox box;
  {
    std::lock_guard<std::mutex> lock(BoxMutex());
    box = Box();
  }
  if (box) box(text, title);
  else std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#endif
  return -1;
}
}  // namespace

void MyCreateProcess::SetErrorBox(ErrorBox box) {
  std::lock_guard<std::mutex> lock(BoxMutex());
  Box() = std::move(box);
}

MyCreateProcess::MyCreateProcess() { wakefd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

MyCreateProcess::~MyCreateProcess() {
  StopClient();
  if (watcher_.joinable()) watcher_.join();
  if (pidfd_ >= 0) close(pidfd_);
  if (wakefd_ >= 0) close(wakefd_);
}

void MyCreateProcess::SetupClient(XWindow parent, std::vector<std::string> commandLine,
                                  std::string windowTitle, bool consoleClass) {
  parent_ = parent;
  argv_ = std::move(commandLine);
  title_ = std::move(windowTitle);
  consoleClass_ = consoleClass;
}

void MyCreateProcess::SetClientSize(int width, int height) {
  width_ = width;
  height_ = height;
}

void MyCreateProcess::SetExitNotification(ExitNotification proc, void* data) {
  notify_ = std::move(proc);
  notifyData_ = data;
}

void MyCreateProcess::SetTimings(int windowWaitMs, int settleMs) {
  windowWaitMs_ = windowWaitMs;
  settleMs_ = settleMs;
}

pid_t MyCreateProcess::Pid() const {
  std::lock_guard<std::mutex> lock(procMutex_);
  return pid_;
}

bool MyCreateProcess::Launch() {
  if (argv_.empty() || argv_[0].empty() || started_) return false;
  // Opened here, before the watcher exists, so that Place (on the caller's
  // thread) and the watcher share it without a race.
  if (!x_) x_ = std::make_unique<XConnection>();
  std::vector<char*> args;
  for (auto& a : argv_) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&files);
  posix_spawnattr_init(&attr);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&files, 3);  // nothing of ours leaks into the client
#endif
  // Its own process group, so a stop reaches the telnet client under the
  // terminal too; a clean signal state whatever threads of ours had blocked.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT}) sigaddset(&defaults, s);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &files, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    ShowError("Error is " + std::to_string(rc), "Error");
    return false;
  }
  started_ = true;
  {
    std::lock_guard<std::mutex> lock(procMutex_);
    pid_ = pid;
  }
  pidfd_ = PidfdOpen(pid);
  ORV_TRACE("MyCreateProcess: started " + argv_[0] + " as " + std::to_string(pid));
  return true;
}

bool MyCreateProcess::WaitExit(pid_t pid, int ms, bool stoppable) {
  if (pid <= 0) return true;
  const int64_t deadline = NowMs() + (ms < 0 ? 0 : ms);
  if (pidfd_ >= 0) {
    for (;;) {
      pollfd fds[2] = {{pidfd_, POLLIN, 0}, {wakefd_, POLLIN, 0}};
      const int left = static_cast<int>(std::max<int64_t>(0, deadline - NowMs()));
      const int n = poll(fds, stoppable && wakefd_ >= 0 ? 2 : 1, left);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) return true;
      return false;  // time limit or a stop request
    }
  }
  // No pidfd: look without reaping, in short steps.
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      return true;
    if ((stoppable && stopRequested_.load()) || NowMs() >= deadline) return false;
    usleep(20000);
  }
}

bool MyCreateProcess::Sleep(int ms) {
  if (ms <= 0) return !stopRequested_.load();
  pollfd fd{wakefd_, POLLIN, 0};
  const int64_t deadline = NowMs() + ms;
  for (;;) {
    const int left = static_cast<int>(std::max<int64_t>(0, deadline - NowMs()));
    const int n = poll(&fd, wakefd_ >= 0 ? 1 : 0, left);
    if (n < 0 && errno == EINTR) continue;
    return !stopRequested_.load();
  }
}

void MyCreateProcess::Reap() {
  if (pid_ <= 0) return;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = 0;
}

void MyCreateProcess::EndProcess(int termWaitMs, int killWaitMs) {
  if (pid_ <= 0) return;
  // The group first (the terminal's own children), then the process itself
  // in case it left the group.
  kill(-pid_, SIGTERM);
  kill(pid_, SIGTERM);
  if (!WaitExit(pid_, termWaitMs, false)) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    if (!WaitExit(pid_, killWaitMs, false)) {
      // A process that survives SIGKILL this long is stuck in the kernel;
      // give up on it rather than hang the caller.
      ORV_TRACE("MyCreateProcess: process " + std::to_string(pid_) + " did not end");
      pid_ = 0;
      return;
    }
  }
  Reap();
}

bool MyCreateProcess::FindAndEmbed() {
  pid_t pid = Pid();
  XWindow win = 0;
  const int64_t deadline = NowMs() + windowWaitMs_;
  if (x_->Ok()) {
    for (;;) {
      if (WaitExit(pid, 0, false)) return false;  // ended before it showed a window
      win = FindWindowByPid(*x_, pid, parent_);
      if (!win && !title_.empty()) win = FindWindowByTitle(*x_, title_, consoleClass_ ? "XTerm" : "", parent_);
      if (win || NowMs() >= deadline) break;
      if (!Sleep(20)) return false;
    }
  }
  if (!win) return false;
  if (!Sleep(settleMs_)) return false;
  if (WaitExit(pid, 0, false)) return false;
  if (parent_) {
    if (x_->Parent(win) != parent_ && !x_->Reparent(win, parent_)) return false;
    if (!x_->Map(win)) return false;
    // Maximised: the client fills the window it now lives in.
    if (auto g = x_->Geometry(parent_)) x_->MoveResize(win, 0, 0, g->width, g->height);
  }
  client_ = win;
  return true;
}

bool MyCreateProcess::StartClient() {
  if (!Launch()) return false;
  if (!FindAndEmbed()) {
    std::lock_guard<std::mutex> lock(procMutex_);
    EndProcess(kFailWaitMs, kFailWaitMs);
    client_ = 0;
    return false;
  }
  running_ = true;
  watcher_ = std::thread([this] { Watch(); });
  return true;
}

bool MyCreateProcess::StartClientAsync(std::function<void(bool)> ready) {
  if (!Launch()) return false;
  watcher_ = std::thread([this, ready = std::move(ready)]() mutable { Run(std::move(ready)); });
  return true;
}

void MyCreateProcess::Run(std::function<void(bool)> ready) {
  if (!FindAndEmbed()) {
    {
      std::lock_guard<std::mutex> lock(procMutex_);
      EndProcess(kFailWaitMs, kFailWaitMs);
      client_ = 0;
    }
    if (!stopRequested_.load() && ready) ready(false);
    return;
  }
  running_ = true;
  if (stopRequested_.load()) return;  // the stop ends the process
  if (ready) ready(true);
  Watch();
}

void MyCreateProcess::Watch() {
  // Wait in steps until the process ends or a stop is asked for.
  const pid_t pid = Pid();
  bool ended = false;
  while (!stopRequested_.load()) {
    if ((ended = WaitExit(pid, kPollMs, true))) break;
  }
  // Only a process that has ended is reaped here; a stop reaps its own.
  if (ended && running_.exchange(false)) {
    std::lock_guard<std::mutex> lock(procMutex_);
    Reap();
    client_ = 0;
  }
  if (started_ && !stopRequested_.load() && notify_ && notifyData_) notify_(notifyData_);
}

void MyCreateProcess::StopClient() {
  stopRequested_ = true;
  running_ = false;
  if (wakefd_ >= 0) {
    const uint64_t one = 1;
    ssize_t r = write(wakefd_, &one, sizeof one);
    (void)r;
  }
  {
    std::lock_guard<std::mutex> lock(procMutex_);
    EndProcess(kStopGraceMs, kStopWaitMs);
    client_ = 0;
  }
  if (watcher_.joinable()) watcher_.join();
}

bool MyCreateProcess::Place(int width, int height) {
  const XWindow w = client_.load();
  if (!w || !x_) return false;
  return x_->MoveResize(w, 0, 0, width, height);
}

}  // namespace orv::console

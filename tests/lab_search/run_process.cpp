#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orv::labtest {
namespace {

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs,
                         const std::vector<std::string>& extraEnv) {
  ProcessResult r;
  int outp[2], errp[2];
  if (pipe2(outp, O_CLOEXEC) != 0) return r;
  if (pipe2(errp, O_CLOEXEC) != 0) {
    close(outp[0]);
    close(outp[1]);
    return r;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outp[1], 1);
    dup2(errp[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    setpgid(0, 0);  // so a time-out can kill the whole group
    for (const auto& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    dprintf(2, "exec %s: %s\n", args[0], strerror(errno));
    _exit(127);
  }
  close(outp[1]);
  close(errp[1]);
  if (pid < 0) {
    close(outp[0]);
    close(errp[0]);
    return r;
  }
  const long long deadline = NowMs() + timeoutMs;
  bool timedOut = false;
  pollfd fds[2] = {{outp[0], POLLIN, 0}, {errp[0], POLLIN, 0}};
  int open = 2;
  char buf[8192];
  while (open > 0) {
    long long left = deadline - NowMs();
    if (left <= 0) {
      timedOut = true;
      kill(-pid, SIGKILL);
      break;
    }
    int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (timedOut) r.err += "\n[killed after " + std::to_string(timeoutMs) + " ms]\n";
  return r;
}

}  // namespace orv::labtest

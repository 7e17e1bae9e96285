#pragma once
// Helpers for tests that build their own network namespaces: shell commands,
// running code inside a namespace, and tiny TCP listeners standing in for
// devices. Everything created carries the prefix "tb" + pid.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace tb {

// Lab tests need root; under CI a missing root is a failure, not a skip.
#define TB_REQUIRE_ROOT()                                                            \
  do {                                                                               \
    if (geteuid() != 0) {                                                            \
      if (std::getenv("CI")) FAIL() << "lab test needs root (network namespaces)";   \
      GTEST_SKIP() << "lab test needs root to create network namespaces; run as root"; \
    }                                                                                \
  } while (0)

inline std::string Prefix() { return "tb" + std::to_string(getpid()); }

inline int Sh(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline std::string Out(const std::string& cmd) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

// Runs `cmd` and returns its exit status; stdout+stderr go to *out.
inline int Run(const std::string& cmd, std::string* out) {
  std::string o;
  FILE* f = popen((cmd + " 2>&1").c_str(), "r");
  if (!f) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) o.append(buf, n);
  int rc = pclose(f);
  if (out) *out = o;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline bool EnterNetns(const std::string& ns) {
  int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = setns(fd, CLONE_NEWNET);
  close(fd);
  return rc == 0;
}

// Runs f on a thread that has joined namespace `ns` (the network namespace is
// per thread, so the rest of the test process stays where it is).
// An exception thrown by f is raised again in the caller.
template <class F>
void InNetns(const std::string& ns, F&& f) {
  std::exception_ptr error;
  std::thread t([&] {
    if (!EnterNetns(ns)) {
      ADD_FAILURE() << "cannot enter namespace " << ns;
      return;
    }
    try {
      f();
    } catch (...) {
      error = std::current_exception();
    }
  });
  t.join();
  if (error) std::rethrow_exception(error);
}

// Connects to addr:port from the calling thread's namespace and returns what
// the peer sends first; "" when the connection fails (errno text in *why).
inline std::string ConnectAndRead(const std::string& addr, int port, std::string* why = nullptr) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return "";
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
  std::string got;
  int rc = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p{s, POLLOUT, 0};
    if (poll(&p, 1, 3000) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
      errno = err;
      rc = err == 0 ? 0 : -1;
    } else {
      errno = ETIMEDOUT;
    }
  }
  if (rc == 0) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 3000) == 1) {
      char buf[32];
      ssize_t n = read(s, buf, sizeof buf);
      if (n > 0) got.assign(buf, static_cast<size_t>(n));
    }
  } else if (why) {
    *why = strerror(errno);
  }
  close(s);
  return got;
}

// A forked process inside namespace `ns` that accepts on addr:port and sends
// `id` to every client. Returns its pid (0 on failure).
inline pid_t StartListener(const std::string& ns, const std::string& addr, int port,
                           const std::string& id) {
  int ready[2];
  if (pipe(ready) != 0) return 0;
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
    close(ready[0]);
    if (!EnterNetns(ns)) _exit(1);
    int s = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(s, 8) != 0) _exit(2);
    (void)!write(ready[1], "r", 1);
    for (;;) {
      int c = accept(s, nullptr, nullptr);
      if (c < 0) continue;
      (void)!write(c, id.data(), id.size());
      close(c);
    }
  }
  close(ready[1]);
  char b = 0;
  ssize_t n = pid > 0 ? read(ready[0], &b, 1) : -1;
  close(ready[0]);
  if (n != 1) {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    return 0;
  }
  return pid;
}

inline void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Namespaces named Prefix()-<suffix>, deleted when this goes out of scope.
class Namespaces {
 public:
  Namespaces() { RemoveOrphans(); }
  ~Namespaces() {
    for (auto it = names_.rbegin(); it != names_.rend(); ++it) Sh("ip netns del " + *it + " 2>/dev/null");
  }
  std::string Add(const std::string& suffix) {
    std::string name = Prefix() + "-" + suffix;
    Sh("ip netns del " + name + " 2>/dev/null");
    if (Sh("ip netns add " + name) != 0) return "";
    names_.push_back(name);
    Sh("ip -n " + name + " link set lo up");
    return name;
  }

 private:
  // Namespaces of earlier test runs that died before their teardown.
  static void RemoveOrphans() {
    const std::string list = Out("ip netns list");
    size_t pos = 0;
    while (pos < list.size()) {
      size_t end = list.find('\n', pos);
      if (end == std::string::npos) end = list.size();
      const std::string name = list.substr(pos, list.find_first_of(" \n", pos) - pos);
      pos = end + 1;
      if (name.size() < 4 || name.compare(0, 2, "tb") != 0) continue;
      size_t dash = name.find('-');
      if (dash == std::string::npos || dash == 2 ||
          name.find_first_not_of("0123456789", 2) != dash)
        continue;
      const long pid = std::strtol(name.substr(2, dash - 2).c_str(), nullptr, 10);
      if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        Sh("ip netns del " + name + " 2>/dev/null");
    }
  }
  std::vector<std::string> names_;
};

// Temporary files for the settings store and the record of route holders, set in the
// environment so nothing touches the user's own.
inline void UsePrivateFiles() {
  const std::string base = "/tmp/" + Prefix();
  setenv("ORVISTAR_SETTINGS", (base + "-settings.reg").c_str(), 1);
  setenv("ORVISTAR_RUN_DIR", (base + "-run").c_str(), 1);
}
inline void RemovePrivateFiles() {
  const std::string base = "/tmp/" + Prefix();
  Sh("rm -rf " + base + "-settings.reg* " + base + "-run");
}

}  // namespace tb

// A connect that cannot complete is aborted after the socket time limit. The
// address lies behind a veth pair inside a namespace of our own, reached
// through a neighbour entry nobody answers for, so the SYN goes nowhere and
// no traffic leaves the namespace.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "comm/client_socket.h"
#include "comm/socket_worker.h"
#include "host/settings.h"

namespace orv {
namespace {

int Sh(const std::string& cmd) { return std::system(cmd.c_str()); }

class Namespace {
 public:
  Namespace() : name_("td1c" + std::to_string(getpid())) {
    ok_ = Sh("ip netns add " + name_) == 0 &&
          Sh("ip -n " + name_ + " link set lo up") == 0 &&
          Sh("ip -n " + name_ + " link add td1a type veth peer name td1b") == 0 &&
          Sh("ip -n " + name_ + " addr add 10.213.0.1/24 dev td1a") == 0 &&
          Sh("ip -n " + name_ + " link set td1a up") == 0 &&
          Sh("ip -n " + name_ + " link set td1b up") == 0 &&
          // A neighbour nobody answers for: the SYN is sent and lost.
          Sh("ip -n " + name_ +
             " neigh add 10.213.0.2 lladdr 02:00:00:00:21:02 dev td1a nud permanent") == 0;
  }
  ~Namespace() { Sh("ip netns del " + name_ + " 2>/dev/null"); }
  bool ok() const { return ok_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  bool ok_ = false;
};

TEST(ConnectLab, ConnectThatCannotCompleteIsAbortedAfterTheLimit) {
  if (geteuid() != 0) {
    if (std::getenv("CI")) FAIL() << "needs root to create a network namespace";
    GTEST_SKIP() << "needs root to create a network namespace";
  }
  Namespace ns;
  ASSERT_TRUE(ns.ok()) << "could not set up namespace " << ns.name();

  const int32_t saved = nSocketTimeout;
  nSocketTimeout = 800;
  bool connected = true;
  bool entered = false;
  int64_t ms = 0;
  // setns affects the calling thread only, and the socket's worker thread is
  // created from it, so both live in the test namespace.
  std::thread t([&] {
    const int fd = open(("/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) return;
    close(fd);
    entered = true;
    ClientSocket socket;
    socket.SetHost("10.213.0.2");
    socket.SetPort(502);
    const auto start = std::chrono::steady_clock::now();
    connected = RunSocketConnect(socket);
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
             .count();
  });
  t.join();
  nSocketTimeout = saved;
  ASSERT_TRUE(entered);
  EXPECT_FALSE(connected);
  EXPECT_GE(ms, 790);
  EXPECT_LT(ms, 2000);
}

}  // namespace
}  // namespace orv

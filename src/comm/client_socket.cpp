#include "comm/client_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "comm/worker_thread.h"
#include "common/trace.h"

namespace orv {

ClientSocket::ClientSocket() = default;

ClientSocket::~ClientSocket() { Close(); }

void ClientSocket::SetHost(const std::string& host) { host_ = host; }

SocketWorker& ClientSocket::Worker() {
  if (!worker_) worker_ = std::make_unique<SocketWorker>(*this);
  return *worker_;
}

void ClientSocket::Close() {
  worker_.reset();  // joins the thread; nothing is pending by contract
  CloseConnection();
}

void ClientSocket::CloseConnection() {
  const int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
  appliedLimitMs_ = -1;
  dirty = false;
}

void ClientSocket::ApplyTimeLimit(int32_t limitMs) {
  if (limitMs < 1) limitMs = 1;  // 0 would mean "wait for ever" to the kernel
  const int fd = fd_.load();
  if (fd < 0 || limitMs == appliedLimitMs_) return;
  timeval tv{};
  tv.tv_sec = limitMs / 1000;
  tv.tv_usec = (limitMs % 1000) * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  appliedLimitMs_ = limitMs;
}

bool ClientSocket::Open(int abortFd, int32_t limitMs) {
  if (Connected()) return true;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  if (::inet_pton(AF_INET, host_.c_str(), &addr.sin_addr) != 1) return false;

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    ok = true;
  } else if (errno == EINPROGRESS) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs < 1 ? 1 : limitMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd p[2] = {{fd, POLLOUT, 0}, {abortFd, POLLIN, 0}};
      const int r = ::poll(p, abortFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      if (abortFd >= 0 && (p[1].revents & POLLIN)) break;
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      ok = err == 0;
      break;
    }
  }
  if (!ok) {
    ::close(fd);
    return false;
  }
  // Back to blocking I/O; time limits come from SO_RCVTIMEO/SO_SNDTIMEO.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const int one = 1;
  // Requests are written whole; do not let Nagle hold back the second chunk.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  appliedLimitMs_ = -1;
  dirty = false;
  fd_.store(fd);
  return true;
}

}  // namespace orv

#include "discovery/udp_transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/trace.h"

namespace orv {
namespace {

SocketError MakeError(int err) { return SocketError{err, std::strerror(err)}; }

sockaddr_in Endpoint(uint32_t addr, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(addr);
  return sa;
}

}  // namespace

UdpSearchTransport::UdpSearchTransport(int rcvBufBytes) : rcvBufBytes_(rcvBufBytes) {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

UdpSearchTransport::~UdpSearchTransport() {
  Close();
  if (wake_ >= 0) ::close(wake_);
}

void UdpSearchTransport::Interrupt() {
  const uint64_t one = 1;
  if (wake_ >= 0 && ::write(wake_, &one, sizeof one) != sizeof one) {
    // The counter is already set (or the descriptor gone): a receive in
    // progress wakes either way.
  }
}

bool UdpSearchTransport::Open(uint32_t localAddr, uint16_t port, OpenStage& stage, SocketError& error) {
  ORV_TRACE("UdpSearchTransport::Open");
  Close();
  // A new search starts uninterrupted.
  uint64_t pending = 0;
  if (wake_ >= 0 && ::read(wake_, &pending, sizeof pending) < 0) pending = 0;
  stage = OpenStage::Socket;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    error = MakeError(errno);
    return false;
  }
  if (rcvBufBytes_ > 0) {
    // Forcing needs CAP_NET_ADMIN; otherwise the kernel caps the request at
    // net.core.rmem_max.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvBufBytes_, sizeof rcvBufBytes_) != 0) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvBufBytes_, sizeof rcvBufBytes_);
    }
  }
  socklen_t len = sizeof effectiveRcvBuf_;
  if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &effectiveRcvBuf_, &len) != 0) effectiveRcvBuf_ = 0;

  stage = OpenStage::Bind;
  const sockaddr_in local = Endpoint(localAddr, port);
  int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  for (int waited = 0; rc != 0 && errno == EADDRINUSE && waited < bindWaitMs_; waited += 100) {
    if (waited == 0 && onBindWait_)
      onBindWait_("port " + std::to_string(port) + " is in use (another search?); waiting up to " +
                  std::to_string(bindWaitMs_ / 1000) + " s for it");
    ::usleep(100 * 1000);
    rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  if (rc != 0) {
    error = MakeError(errno);
    ::close(fd);
    effectiveRcvBuf_ = 0;
    return false;
  }
  fd_ = fd;
  ORV_TRACE("search socket bound, receive buffer " + std::to_string(effectiveRcvBuf_) + " bytes");
  return true;
}

bool UdpSearchTransport::SetBroadcast(SocketError& error) {
  const int on = 1;
  if (fd_ < 0) {
    error = MakeError(EBADF);
    return false;
  }
  if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    error = MakeError(errno);
    return false;
  }
  return true;
}

bool UdpSearchTransport::SendTo(uint32_t addr, uint16_t port, std::span<const uint8_t> data,
                                SocketError& error) {
  if (fd_ < 0) {
    error = MakeError(EBADF);
    return false;
  }
  const sockaddr_in to = Endpoint(addr, port);
  const ssize_t n = ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (n < 0) {
    error = MakeError(errno);
    return false;
  }
  if (static_cast<std::size_t>(n) != data.size()) {
    error = MakeError(EMSGSIZE);
    return false;
  }
  return true;
}

SearchTransport::RecvResult UdpSearchTransport::Recv(std::span<uint8_t> buffer, int timeoutMs) {
  RecvResult r;
  if (fd_ < 0) {
    r.err = EBADF;
    return r;
  }
  // Waits on the socket and on the interrupt together, so that Stop ends a
  // receive at once instead of after its time-out.
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
  const nfds_t count = wake_ >= 0 ? 2 : 1;
  int ready;
  do {
    ready = ::poll(fds, count, timeoutMs < 0 ? 0 : timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    r.err = errno;
    return r;
  }
  if (ready == 0 || (count == 2 && (fds[1].revents & POLLIN))) {
    r.status = RecvStatus::Timeout;
    r.err = EAGAIN;
    return r;
  }
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  // MSG_TRUNC makes the kernel return the real length of a longer datagram.
  const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (n < 0) {
    r.err = errno;
    r.status = (errno == EAGAIN || errno == EWOULDBLOCK) ? RecvStatus::Timeout : RecvStatus::Error;
    return r;
  }
  if (static_cast<std::size_t>(n) > buffer.size()) {
    r.status = RecvStatus::Truncated;
    r.length = buffer.size();
    return r;
  }
  r.status = RecvStatus::Datagram;
  r.length = static_cast<std::size_t>(n);
  return r;
}

void UdpSearchTransport::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace orv

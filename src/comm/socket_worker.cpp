#include "comm/socket_worker.h"

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "comm/exchange.h"
#include "comm/worker_thread.h"
#include "common/trace.h"
#include "host/settings.h"

namespace orv {
namespace {

// The connection seen through its per-call time limit (SO_RCVTIMEO/SNDTIMEO).
class SocketStream : public ByteStream {
 public:
  // nonBlocking: writes never wait (the caller's thread starts the request).
  SocketStream(ClientSocket& socket, bool nonBlocking) : socket_(socket), nonBlocking_(nonBlocking) {}

  int32_t Write(const uint8_t* data, int32_t n) override {
    for (;;) {
      // A request longer than one chunk goes out in several writes; MSG_MORE
      // lets the kernel put them into one segment instead of two.
      const int flags =
          MSG_NOSIGNAL | (more_ ? MSG_MORE : 0) | (nonBlocking_ ? MSG_DONTWAIT : 0);
      const ssize_t r = ::send(socket_.Fd(), data, static_cast<size_t>(n), flags);
      if (r >= 0) return static_cast<int32_t>(r);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;
    }
  }

  int32_t Read(uint8_t* data, int32_t n) override {
    for (;;) {
      const ssize_t r = ::recv(socket_.Fd(), data, static_cast<size_t>(n), 0);
      if (r > 0) return static_cast<int32_t>(r);
      if (r == 0) {  // the device closed the connection
        socket_.CloseConnection();
        return 0;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;
    }
  }

  bool Connected() const override { return socket_.Connected(); }
  void Deactivate() override { socket_.CloseConnection(); }
  void MoreFollows(bool more) override { more_ = more; }

 private:
  ClientSocket& socket_;
  bool nonBlocking_;
  bool more_ = false;
};

// Throws away reply bytes a previous failed exchange left behind, so they are
// not taken for the answer to the next request.
void DiscardPending(ClientSocket& socket) {
  uint8_t sink[256];
  for (;;) {
    const ssize_t r = ::recv(socket.Fd(), sink, sizeof sink, MSG_DONTWAIT);
    if (r > 0) continue;
    if (r == 0) socket.CloseConnection();
    if (r < 0 && errno == EINTR) continue;
    break;
  }
}

}  // namespace

void WakeFlag::Set() {
  if (state_.exchange(kSet, std::memory_order_acq_rel) == kSleeping) {
    ::syscall(SYS_futex, &state_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
}

bool WakeFlag::Wait(int32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    uint32_t s = state_.load(std::memory_order_acquire);
    if (s == kSet) return true;
    if (s == kClear && !state_.compare_exchange_weak(s, kSleeping, std::memory_order_acq_rel)) {
      continue;
    }
    timespec ts{};
    timespec* limit = nullptr;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - Clock::now());
      if (left.count() <= 0) return IsSet();
      ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
      ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
      limit = &ts;
    }
    ::syscall(SYS_futex, &state_, FUTEX_WAIT_PRIVATE, kSleeping, limit, nullptr, 0);
  }
}

SocketWorker::SocketWorker(ClientSocket& socket) : socket_(socket) {
  abortFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

SocketWorker::~SocketWorker() {
  Start(Job::Quit);
  if (thread_.joinable()) thread_.join();
  if (abortFd_ >= 0) ::close(abortFd_);
}

void SocketWorker::Start(Job job) {
  job_ = job;
  result_ = -1;
  done_.Reset();
  jobReady_.Set();
}

void SocketWorker::StartConnect(int32_t limitMs) {
  if (abortFd_ >= 0) {
    uint64_t v;
    while (::read(abortFd_, &v, sizeof v) > 0) {
    }
  }
  limitMs_ = limitMs;
  Start(Job::Connect);
}

void SocketWorker::StartExchange(const uint8_t* request, int32_t requestLength, int32_t sent,
                                 uint8_t* reply, int32_t replyLength, int32_t limitMs) {
  request_ = request;
  requestLength_ = requestLength;
  sent_ = sent;
  reply_ = reply;
  replyLength_ = replyLength;
  limitMs_ = limitMs;
  Start(Job::Exchange);
}

void SocketWorker::Wait(int32_t abortAfterMs) {
  using Clock = std::chrono::steady_clock;
  if (abortAfterMs < 0) {
    done_.Wait(-1);
    return;
  }
  const auto abortAt = Clock::now() + std::chrono::milliseconds(abortAfterMs);
  bool aborted = false;
  while (!done_.IsSet()) {
    int32_t slice = -1;
    if (!aborted) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(abortAt - Clock::now()).count();
      slice = left < 0 ? 0 : static_cast<int32_t>(left);
    }
    if (done_.Wait(slice)) break;
    if (!aborted && Clock::now() >= abortAt) {
      // Took too long: make the pending connect fail.
      const uint64_t one = 1;
      if (abortFd_ >= 0) (void)!::write(abortFd_, &one, sizeof one);
      aborted = true;
    }
  }
}

void SocketWorker::Run() {
  for (;;) {
    jobReady_.Wait(-1);
    jobReady_.Reset();
    const Job job = job_;
    if (job == Job::Quit) return;
    if (job == Job::Connect) {
      result_ = socket_.Open(abortFd_, limitMs_) ? 1 : 0;
    } else {
      RunExchange();
    }
    done_.Set();
  }
}

void SocketWorker::RunExchange() {
  SocketStream stream(socket_, false);
  const int32_t r =
      RWModbusContinue(stream, request_, requestLength_, sent_, reply_, replyLength_);
  socket_.dirty = r < 0 && socket_.Connected();
  result_ = r;
}

bool RunSocketConnect(ClientSocket& socket) {
  if (socket.Connected()) return true;
  const int32_t limit = nSocketTimeout > 0 ? nSocketTimeout : 1;
  ORV_TRACE("Connect " + socket.Host() + ":" + std::to_string(socket.Port()) +
            ", Timeout=" + std::to_string(limit));
  SocketWorker& worker = socket.Worker();
  worker.StartConnect(limit);
  worker.Wait(limit);
  const bool ok = socket.Connected();
  ORV_TRACE(std::string(ok ? "Connected " : "Connect failed ") + socket.Host());
  return ok;
}

int32_t RunSocketRW(ClientSocket& socket, int32_t timeoutMs, const uint8_t* request,
                    int32_t requestLength, uint8_t* reply, int32_t replyLength) {
  if (!socket.Connected()) return -1;
  socket.ApplyTimeLimit(timeoutMs);
  if (socket.dirty) DiscardPending(socket);
  TraceExchangeStart(socket.Host().c_str(), timeoutMs);
  // The request goes out from here without waiting (a request fits the
  // socket's send buffer), so the worker's wake-up overlaps the trip to the
  // device instead of preceding it. Whatever could not be written at once,
  // the worker writes within the time limit; it always does the waiting read.
  SocketStream eager(socket, true);
  const int32_t sent = WriteRequestChunks(eager, request, requestLength, 0);
  if (sent == requestLength && replyLength == 0) return 0;
  if (!socket.Connected()) return -1;
  SocketWorker& worker = socket.Worker();
  worker.StartExchange(request, requestLength, sent, reply, replyLength, timeoutMs);
  worker.Wait(-1);
  return worker.Result();
}

}  // namespace orv

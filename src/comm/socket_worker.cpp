#include "comm/socket_worker.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "comm/event_pump.h"
#include "comm/exchange.h"
#include "comm/worker_thread.h"
#include "common/trace.h"
#include "host/settings.h"

namespace orv {
namespace {

// The connection seen through its per-call time limit (SO_RCVTIMEO/SNDTIMEO).
class SocketStream : public ByteStream {
 public:
  explicit SocketStream(ClientSocket& socket) : socket_(socket) {}

  int32_t Write(const uint8_t* data, int32_t n) override {
    for (;;) {
      const ssize_t r = ::send(socket_.Fd(), data, static_cast<size_t>(n), MSG_NOSIGNAL);
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

 private:
  ClientSocket& socket_;
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

SocketWorker::SocketWorker(ClientSocket& socket) : socket_(socket) {
  abortFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

SocketWorker::~SocketWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = Job::Quit;
  }
  jobCv_.notify_one();
  if (thread_.joinable()) thread_.join();
  if (abortFd_ >= 0) ::close(abortFd_);
}

void SocketWorker::StartConnect(int32_t limitMs) {
  if (abortFd_ >= 0) {
    uint64_t v;
    while (::read(abortFd_, &v, sizeof v) > 0) {
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    limitMs_ = limitMs;
    done_ = false;
    result_ = -1;
    job_ = Job::Connect;
  }
  jobCv_.notify_one();
}

void SocketWorker::StartExchange(const uint8_t* request, int32_t requestLength, uint8_t* reply,
                                 int32_t replyLength, int32_t limitMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = request;
    requestLength_ = requestLength;
    reply_ = reply;
    replyLength_ = replyLength;
    limitMs_ = limitMs;
    done_ = false;
    result_ = -1;
    job_ = Job::Exchange;
  }
  jobCv_.notify_one();
}

void SocketWorker::Wait(int32_t abortAfterMs) {
  using Clock = std::chrono::steady_clock;
  EventPump* pump = GetEventPump();
  const auto start = Clock::now();
  const auto abortAt = start + std::chrono::milliseconds(abortAfterMs < 0 ? 0 : abortAfterMs);
  bool aborted = abortAfterMs < 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done_) {
    if (pump) {
      lock.unlock();
      pump->Pump();
      lock.lock();
      if (done_) break;
    }
    auto until = Clock::time_point::max();
    if (pump) until = Clock::now() + std::chrono::milliseconds(pump->IntervalMs());
    if (!aborted && abortAt < until) until = abortAt;
    if (until == Clock::time_point::max()) {
      doneCv_.wait(lock, [this] { return done_; });
    } else {
      doneCv_.wait_until(lock, until, [this] { return done_; });
    }
    if (!done_ && !aborted && Clock::now() >= abortAt) {
      // Took too long: make the pending connect fail.
      const uint64_t one = 1;
      if (abortFd_ >= 0) (void)!::write(abortFd_, &one, sizeof one);
      aborted = true;
    }
  }
}

void SocketWorker::Run() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobCv_.wait(lock, [this] { return job_ != Job::None; });
      job = job_;
      job_ = Job::None;
    }
    if (job == Job::Quit) return;
    int32_t result = -1;
    if (job == Job::Connect) {
      result = socket_.Open(abortFd_, limitMs_) ? 1 : 0;
    } else {
      RunExchange();
      result = result_;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      result_ = result;
      done_ = true;
    }
    doneCv_.notify_one();
  }
}

void SocketWorker::RunExchange() {
  int32_t r = -1;
  if (socket_.Connected()) {
    socket_.ApplyTimeLimit(limitMs_);
    if (socket_.dirty) DiscardPending(socket_);
    SocketStream stream(socket_);
    r = RWModbus(stream, request_, requestLength_, reply_, replyLength_, socket_.Host().c_str(),
                 limitMs_);
    socket_.dirty = r < 0 && socket_.Connected();
  }
  result_ = r;
}

bool RunSocketConnect(ClientSocket& socket) {
  if (socket.Connected()) return true;
  BusyCursor busy;
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
  SocketWorker& worker = socket.Worker();
  worker.StartExchange(request, requestLength, reply, replyLength, timeoutMs);
  worker.Wait(-1);
  return worker.Result();
}

}  // namespace orv

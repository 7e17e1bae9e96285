#pragma once
// The worker thread behind a ClientSocket (internal to the comm library).
// One thread per open connection, reused for every exchange on it, so a
// request costs no thread creation and no allocation.
#include <atomic>
#include <cstdint>
#include <thread>

namespace orv {

class ClientSocket;

// A set/reset flag a thread can sleep on (futex): setting it costs no system
// call unless the other side is actually asleep.
class WakeFlag {
 public:
  void Reset() { state_.store(kClear, std::memory_order_relaxed); }
  void Set();
  bool IsSet() const { return state_.load(std::memory_order_acquire) == kSet; }
  // Sleeps until set or until timeoutMs passed (< 0: no limit). True when set.
  bool Wait(int32_t timeoutMs);

 private:
  static constexpr uint32_t kClear = 0, kSet = 1, kSleeping = 2;
  std::atomic<uint32_t> state_{kClear};
};

class SocketWorker {
 public:
  explicit SocketWorker(ClientSocket& socket);
  ~SocketWorker();  // stops the thread

  void StartConnect(int32_t limitMs);
  // The first `sent` request bytes are already written by the caller.
  void StartExchange(const uint8_t* request, int32_t requestLength, int32_t sent, uint8_t* reply,
                     int32_t replyLength, int32_t limitMs);
  // Waits until the job is done. With abortAfterMs
  // >= 0, a job still running after that long is aborted once (connect only).
  void Wait(int32_t abortAfterMs);
  int32_t Result() const { return result_; }

 private:
  enum class Job { None, Connect, Exchange, Quit };
  void Start(Job job);
  void Run();
  void RunExchange();

  ClientSocket& socket_;
  // Job parameters are written before jobReady_ is set and read after; the
  // result is written before done_ is set and read after.
  WakeFlag jobReady_;
  WakeFlag done_;
  Job job_ = Job::None;
  int32_t result_ = -1;
  int abortFd_ = -1;
  const uint8_t* request_ = nullptr;
  uint8_t* reply_ = nullptr;
  int32_t requestLength_ = 0;
  int32_t sent_ = 0;
  int32_t replyLength_ = 0;
  int32_t limitMs_ = 0;
  std::thread thread_;
};

}  // namespace orv

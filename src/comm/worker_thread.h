#pragma once
// The worker thread behind a ClientSocket (internal to the comm library).
// One thread per open connection, reused for every exchange on it, so a
// request costs two thread hand-offs and no thread creation or allocation.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace orv {

class ClientSocket;

class SocketWorker {
 public:
  explicit SocketWorker(ClientSocket& socket);
  ~SocketWorker();  // stops the thread

  void StartConnect(int32_t limitMs);
  void StartExchange(const uint8_t* request, int32_t requestLength, uint8_t* reply,
                     int32_t replyLength, int32_t limitMs);
  // Waits until the job is done, pumping events in between. With abortAfterMs
  // >= 0, a job still running after that long is aborted once (connect only).
  void Wait(int32_t abortAfterMs);
  int32_t Result() const { return result_; }

 private:
  enum class Job { None, Connect, Exchange, Quit };
  void Run();
  void RunExchange();

  ClientSocket& socket_;
  std::mutex mutex_;
  std::condition_variable jobCv_;
  std::condition_variable doneCv_;
  Job job_ = Job::None;
  bool done_ = true;
  int32_t result_ = -1;
  int abortFd_ = -1;
  const uint8_t* request_ = nullptr;
  uint8_t* reply_ = nullptr;
  int32_t requestLength_ = 0;
  int32_t replyLength_ = 0;
  int32_t limitMs_ = 0;
  std::thread thread_;
};

}  // namespace orv

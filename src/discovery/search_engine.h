#pragma once
// One search: broadcast the request once per cycle, hand every answer that
// arrives between cycles to answer handling, until the cycles have run out
// or the user stops. The engine owns no window: the event pump, the dialog
// close and the progress display are handed to it, and so are the clock and
// the socket, so the same engine runs in the search dialog, on the command
// line and in tests.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "discovery/answer_handler.h"
#include "discovery/datagram.h"

namespace orv {

// Stop request of the running search: set by the Stop button and whenever
// the search dialog closes; cleared when a search dialog (engine) is made.
extern std::atomic<bool> SearchStopped;

// Monotonic milliseconds.
class SearchClock {
 public:
  virtual ~SearchClock() = default;
  virtual int64_t NowMs() = 0;
};

class SteadySearchClock : public SearchClock {
 public:
  int64_t NowMs() override;
};

// Why a socket operation failed.
struct SocketError {
  int err = 0;       // errno
  std::string text;  // readable reason including the errno text
};

// The datagram socket of a search.
class SearchTransport {
 public:
  enum class RecvStatus { Datagram, Timeout, Truncated, Error };
  struct RecvResult {
    RecvStatus status = RecvStatus::Error;
    std::size_t length = 0;  // bytes stored in the buffer (Datagram)
    int err = 0;
  };
  enum class OpenStage { Socket, Bind };

  virtual ~SearchTransport() = default;
  // Creates the socket and binds it to localAddr:port. On failure nothing
  // stays open and `stage`/`error` say why.
  virtual bool Open(uint32_t localAddr, uint16_t port, OpenStage& stage, SocketError& error) = 0;
  virtual bool SetBroadcast(SocketError& error) = 0;
  virtual bool SendTo(uint32_t addr, uint16_t port, std::span<const uint8_t> data, SocketError& error) = 0;
  // Waits up to timeoutMs for one datagram. A datagram longer than the
  // buffer is reported as Truncated, never as a shortened Datagram.
  virtual RecvResult Recv(std::span<uint8_t> buffer, int timeoutMs) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // From any thread: a Recv under way, and every later one until the next
  // Open, returns Timeout at once.
  virtual void Interrupt() {}
};

// What the hosting window does for the engine.
struct SearchCallbacks {
  std::function<void()> processEvents;  // pump pending user-interface events once
  std::function<void()> closeDialog;    // the timer's close of the search dialog
  // ProgressBar1 set-up (min, max, position, step) and one step.
  std::function<void(int, int, int, int)> progressSetup;
  std::function<void()> progressStep;
  std::function<void(bool)> stopEnabled;  // btnStop enabled state
};

// Why a search ended before its cycles ran.
struct SearchFailure {
  enum class Stage { None, Address, Socket, Bind };
  Stage stage = Stage::None;
  int err = 0;
  std::string reason;
  explicit operator bool() const { return stage != Stage::None; }
};

struct SearchStats {
  int cycles = 0;        // cycle loop iterations
  int sendsOk = 0;
  int sendsFailed = 0;
  int pumps = 0;
  int ticks = 0;         // Timer1Timer calls
  std::size_t datagrams = 0;  // datagrams received, any size
  std::size_t answers = 0;    // 116-byte datagrams handed to OnEnumProc
  std::string lastSendError;
};

class SearchEngine {
 public:
  static constexpr int kTimerIntervalMs = 1000;  // Timer1, also the receive time-out
  // A receive phase that never falls silent (a stream of datagrams) ends
  // after this many receive time-outs.
  static constexpr int kMaxPhaseTimeouts = 10;

  SearchEngine(SearchTransport& transport, SearchClock& clock, SearchResultSink& sink);
  ~SearchEngine();

  void SetNicIP(const std::string& nicIP) { nicIP_ = nicIP; }
  void SetFilter(const SearchFilter& filter) { handler_.SetFilter(filter); }
  void SetRemainingCycles(int t) { remaining_ = t; }
  void SetCallbacks(SearchCallbacks callbacks) { cb_ = std::move(callbacks); }

  // Progress bar set-up for the current T: max = T*200/3, position = step =
  // max/(T*2/3). Done by the caller before do_search. For T < 2 the divisor
  // is 0: the bar is left alone and false returned; the search still runs.
  bool SetupProgress();

  bool BCUDPInit();
  bool BCUDPSend();
  // 1 when the receive phase ended by time-out or error, 0 when stopped.
  int BCUDPRecv(int timeoutMs);
  void BCUDPClose();
  void do_search();
  void Timer1Timer();
  // The Stop button: has no effect while the button is disabled.
  void btnStopClick();
  void OnEnumProc(std::span<const uint8_t> answer) { handler_.OnEnumProc(answer); }

  // One pass of the event pump: the host's pending events, then at most one
  // Timer1 tick when a full interval has passed since the last tick (or
  // since the timer was enabled).
  void PumpEvents();

  int RemainingCycles() const { return remaining_; }
  bool TimerEnabled() const { return timerEnabled_; }
  bool StopEnabled() const { return stopEnabled_; }
  const SearchRequest& Request() const { return request_; }
  const SearchFailure& Failure() const { return failure_; }
  const SearchStats& Stats() const { return stats_; }
  const AnswerHandler& Handler() const { return handler_; }

 private:
  void SetStopEnabled(bool enabled);
  void EnableTimer();

  SearchTransport& transport_;
  SearchClock& clock_;
  SearchRequest request_;
  AnswerHandler handler_;
  SearchCallbacks cb_;
  std::string nicIP_;
  int remaining_ = 3;
  bool timerEnabled_ = false;
  int64_t lastTickMs_ = 0;
  std::atomic<bool> stopEnabled_{false};  // the Stop button may ask from another thread
  SearchFailure failure_;
  SearchStats stats_;
};

}  // namespace orv

#pragma once
// Live progress of a device run on stderr. On a terminal: one line per device
// under way (MAC, address, blocks done/total, percentage, rate, or the restart
// countdown) and an overall line (devices done/total, elapsed, estimate),
// redrawn in place at most ten times a second; result lines printed through
// it land above that block. Elsewhere: plain lines only.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orv::cli {

class FleetProgress {
 public:
  using Clock = std::chrono::steady_clock;
  // blocksPerDevice: transfer steps of one device (0: the operation has none).
  // bytesPerBlock gives the rate. A terminal display starts its redraw thread.
  FleetProgress(std::FILE* err, bool terminal, std::size_t total, int32_t blocksPerDevice,
                int32_t bytesPerBlock);
  ~FleetProgress();

  void Started(std::size_t index, const std::string& mac, const std::string& ip);
  void Blocks(std::size_t index, int32_t done);
  void Countdown(std::size_t index, int32_t remaining);  // remaining < 0: the wait ended
  // The device's turn ended; line (if not empty) goes to out above the block.
  void Finished(std::size_t index, const std::string& line, std::FILE* out);
  // Clears the block for good (before the summary).
  void Close();

  // The block as it would be drawn now (without terminal controls); width 0:
  // no cut.
  std::vector<std::string> Lines(Clock::time_point now, std::size_t width = 0) const;

 private:
  struct Active {
    std::string mac, ip;
    Clock::time_point since;
    int32_t blocks = 0;
    int32_t countdown = -1;
  };
  void Erase();   // mutex held
  void Draw();    // mutex held
  void Ticker();

  std::FILE* err_;
  const bool terminal_;
  const std::size_t total_;
  const int32_t blocksPerDevice_, bytesPerBlock_;
  const Clock::time_point start_ = Clock::now();
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::map<std::size_t, Active> active_;
  std::size_t done_ = 0;
  std::size_t drawn_ = 0;  // lines on screen
  bool dirty_ = false, closed_ = false;
  Clock::time_point lastDraw_{};
  std::thread ticker_;
};

}  // namespace orv::cli

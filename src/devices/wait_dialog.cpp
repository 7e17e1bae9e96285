#include "devices/wait_dialog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "comm/event_pump.h"

namespace orv {
namespace {
std::atomic<TRestartWait*> g_wait{nullptr};
}

void PumpingWaitClock::WaitMs(int32_t ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    PumpEvents();
    const auto now = Clock::now();
    if (now >= end) return;
    auto slice = end - now;
    if (EventPump* pump = GetEventPump()) {
      slice = std::min<Clock::duration>(slice, std::chrono::milliseconds(pump->IntervalMs()));
    }
    std::this_thread::sleep_for(slice);
  }
}

TfmWait::TfmWait(TWaitDisplay* display, TWaitClock* clock) : display_(display), clock_(clock) {}

void TfmWait::ShowModal() {
  PumpingWaitClock realClock;
  TWaitClock* clock = clock_ ? clock_ : &realClock;
  // Every restart gets the full countdown, also when one object serves a
  // whole run of devices.
  nCount = 6;
  if (display_) {
    display_->Opened();
    display_->ShowCount(nCount);
  }
  while (nCount > 0) {
    clock->WaitMs(1000);
    --nCount;
    if (display_) display_->ShowCount(nCount);
  }
  if (display_) display_->Closed();
}

void SetRestartWait(TRestartWait* wait) { g_wait.store(wait); }
TRestartWait* GetRestartWait() { return g_wait.load(); }

}  // namespace orv

#include "devices/wait_dialog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>


namespace orv {
namespace {
std::atomic<TRestartWait*> g_wait{nullptr};
}

void SleepingWaitClock::WaitMs(int32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TfmWait::TfmWait(TWaitDisplay* display, TWaitClock* clock) : display_(display), clock_(clock) {}

void TfmWait::ShowModal() {
  SleepingWaitClock realClock;
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

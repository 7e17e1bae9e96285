#pragma once
// The countdown shown while a device restarts: six seconds, one step a second,
// then it closes itself. How it is shown and how a second passes are handed in,
// so the window shows a dialog, the command line prints, tests record.
#include <cstdint>

namespace orv {

// What a restart command shows after the device accepted the restart.
class TRestartWait {
 public:
  virtual ~TRestartWait() = default;
  virtual void ShowModal() = 0;
};

class TWaitDisplay {
 public:
  virtual ~TWaitDisplay() = default;
  virtual void Opened() {}
  virtual void ShowCount(int32_t remaining) = 0;  // "6", "5", ... "0"
  virtual void Closed() {}
};

class TWaitClock {
 public:
  virtual ~TWaitClock() = default;
  virtual void WaitMs(int32_t ms) = 0;
};

// Real clock: sleeps. Device work runs off the window's thread, so nothing
// needs to be pumped while it waits.
class SleepingWaitClock : public TWaitClock {
 public:
  void WaitMs(int32_t ms) override;
};

class TfmWait : public TRestartWait {
 public:
  // Null display: nothing shown. Null clock: SleepingWaitClock.
  explicit TfmWait(TWaitDisplay* display = nullptr, TWaitClock* clock = nullptr);
  void ShowModal() override;  // shows 6, then 5 .. 0 a second apart, then closes
  int32_t nCount = 6;

 private:
  TWaitDisplay* display_;
  TWaitClock* clock_;
};

// Process-wide restart wait used by the device commands (not owned). Null:
// a TfmWait with no display and the real clock.
void SetRestartWait(TRestartWait* wait);
TRestartWait* GetRestartWait();

}  // namespace orv

#pragma once
// While a device operation waits for the network, the caller's user interface
// must stay alive. The waiting code calls the installed pump between waits;
// the window installs one that processes its pending events, the command line
// a no-op or progress printer, tests a recorder. No pump installed: the wait
// simply blocks until the work is done.
#include <cstdint>

namespace orv {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Processes pending user-interface events; must return promptly.
  virtual void Pump() = 0;
  // Longest time the waiting code blocks between two Pump() calls. A finished
  // exchange wakes the waiter at once, whatever this value.
  virtual int32_t IntervalMs() const { return 15; }
  // Hour-glass cursor around a device command (nested calls are balanced).
  virtual void BeginBusy() {}
  virtual void EndBusy() {}
};

// Process-wide pump (null: none). Not owned.
void SetEventPump(EventPump* pump);
EventPump* GetEventPump();

// Calls Pump() on the installed pump, if any.
void PumpEvents();

// Shows the busy cursor for its lifetime; restored on every path.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  EventPump* pump_;
};

}  // namespace orv

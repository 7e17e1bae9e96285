#include "comm/event_pump.h"

#include <atomic>

namespace orv {
namespace {
std::atomic<EventPump*> g_pump{nullptr};
}

void SetEventPump(EventPump* pump) { g_pump.store(pump); }
EventPump* GetEventPump() { return g_pump.load(); }

void PumpEvents() {
  if (EventPump* p = g_pump.load()) p->Pump();
}

BusyCursor::BusyCursor() : pump_(g_pump.load()) {
  if (pump_) pump_->BeginBusy();
}

BusyCursor::~BusyCursor() {
  if (pump_) pump_->EndBusy();
}

}  // namespace orv

// Placeholder command service, used only while command_service.cpp is absent
// (CMake picks the real one when it exists). It refuses every connection by
// closing it as soon as a frame arrives, so the discovery side can be built
// and tested on its own.
#include "session.h"

namespace orv::devsim {
namespace {

class RefusingSession : public Session {
 public:
  RefusingSession(Link& link, DeviceControl& control) : link_(link), control_(control) {}
  void OnData(const uint8_t* data, size_t len) override {
    control_.LogFrame("tcp", data, len);
    link_.Close();
  }

 private:
  Link& link_;
  DeviceControl& control_;
};

}  // namespace

std::unique_ptr<Session> MakeCommandSession(Device&, Link& link, DeviceControl& control) {
  return std::make_unique<RefusingSession>(link, control);
}

}  // namespace orv::devsim

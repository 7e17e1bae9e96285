// Command service of a simulated device: one Session per TCP connection on
// port 502. The protocol itself is in command_protocol.cpp; this file logs each
// request, applies the timing faults (slow and split replies, cut replies,
// drops) and carries out restarts and factory resets after the reply is out.
#include "command_service.h"

#include <algorithm>
#include <stdexcept>

#include "command_protocol.h"

namespace orv::devsim {
namespace {

class CommandSession : public Session {
 public:
  CommandSession(Device& device, Link& link, DeviceControl& control, CommandFaults faults)
      : device_(device), link_(link), control_(control), faults_(std::move(faults)),
        engine_(device, control, faults_) {}

  void OnData(const uint8_t* data, size_t len) override {
    while (len > 0 && !closed_) {
      size_t used = assembler_.Feed(data, len);
      data += used;
      len -= used;
      if (assembler_.Bad()) {
        control_.LogFrame("tcp", assembler_.Frame(), 7);
        control_.LogNote("malformed frame header, connection closed");
        closed_ = true;
        link_.Abort();
        return;
      }
      if (!assembler_.HasFrame()) continue;
      control_.LogFrame("tcp", assembler_.Frame(), assembler_.FrameSize());
      Outcome o = engine_.Handle(assembler_.Frame(), assembler_.FrameSize());
      assembler_.Pop();
      Deliver(std::move(o));
    }
  }

 private:
  void Deliver(Outcome o) {
    switch (o.wire) {
      case Outcome::Wire::Silent:
        control_.LogNote("request left unanswered");
        return;
      case Outcome::Wire::Close:
        control_.LogNote("connection dropped");
        closed_ = true;
        link_.Abort();
        return;
      case Outcome::Wire::CloseMidReply: {
        control_.LogNote("connection closed in the middle of a reply");
        closed_ = true;
        auto part = std::make_shared<std::vector<uint8_t>>(o.reply.begin(),
                                                           o.reply.begin() + o.reply.size() / 2);
        Later(faults_.replyDelayMs, [this, part] {
          link_.Send(part->data(), part->size());
          link_.Close();
        });
        return;
      }
      case Outcome::Wire::Send:
        break;
    }
    auto reply = std::make_shared<std::vector<uint8_t>>(std::move(o.reply));
    Outcome::After after = o.after;
    auto finish = [this, after] {
      if (after == Outcome::After::None) return;
      closed_ = true;
      if (after == Outcome::After::FactoryReset) control_.FactoryReset();
      control_.Restart(faults_.restartOfflineMs);
    };
    if (faults_.splitReplies && reply->size() > 5) {
      Later(faults_.replyDelayMs, [this, reply, finish] {
        link_.Send(reply->data(), 5);
        link_.After(faults_.splitPauseMs, [this, reply, finish] {
          link_.Send(reply->data() + 5, reply->size() - 5);
          finish();
        });
      });
    } else {
      Later(faults_.replyDelayMs, [this, reply, finish] {
        link_.Send(reply->data(), reply->size());
        finish();
      });
    }
  }

  void Later(int ms, std::function<void()> fn) {
    if (ms <= 0)
      fn();
    else
      link_.After(ms, std::move(fn));
  }

  Device& device_;
  Link& link_;
  DeviceControl& control_;
  CommandFaults faults_;
  CommandEngine engine_;
  FrameAssembler assembler_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<Session> MakeCommandSession(Device& device, Link& link, DeviceControl& control) {
  CommandFaults faults;
  try {
    faults = CommandFaults::FromJson(device.raw);
  } catch (const std::exception& e) {
    // The fleet loader validates these keys at start-up; a device that got
    // here with bad ones serves without faults rather than taking the loop down.
    control.LogNote(std::string("ignoring faults: ") + e.what());
  }
  return std::make_unique<CommandSession>(device, link, control, std::move(faults));
}

void ValidateCommandFaults(const nlohmann::json& deviceObject) { (void)CommandFaults::FromJson(deviceObject); }

}  // namespace orv::devsim

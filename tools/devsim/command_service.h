#pragma once
// Command service of a simulated device (TCP port 502). The factory
// MakeCommandSession is declared in session.h; this header adds what the fleet
// loader may call.
#include <nlohmann/json.hpp>

#include "session.h"

namespace orv::devsim {

// Throws std::invalid_argument naming the offending key when the device's
// "faults" object is malformed. Keys (all optional):
//   "no_answer": true              accept connections, never answer
//   "exception_on": [RULE...]      answer these requests with an exception
//   "no_answer_on": [RULE...]      leave these requests unanswered
//   "close_mid_reply_on": [RULE...] send half of the reply, then close
//   "close_mid_reply": true        the same for every request
//   "drop_after_fw_blocks": K      drop the connection at firmware block K+1
//   "padded_exception_on": [RULE...] an exception reply padded with zeros to the normal size
//   "double_reply_on": [RULE...]   send the reply twice
//   "reply_delay_ms": MS           hold every reply back
//   "split_replies": true          send replies as 5 bytes, then the rest
//   "split_pause_ms": MS           pause between the pieces (default 20)
//   "restart_offline_ms": MS       unreachable time after restart/reset (3000)
//   "export_size": N               pad or cut the exported text to N bytes
// RULE: "FC" (decimal wire code), "FC:ADDR" (hex wire address) or
// "FC:ADDR#N" (only the N-th such request on a connection), e.g. "116:8210#3".
void ValidateCommandFaults(const nlohmann::json& deviceObject);

}  // namespace orv::devsim

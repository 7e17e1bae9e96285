#include "comm/transaction.h"

#include "comm/socket_worker.h"
#include "common/trace.h"
#include "host/settings.h"
#include "inventory/io_mod.h"

namespace orv {

std::atomic<int32_t> TransactionCounter{0};
std::atomic<bool> DeviceIoHalted{false};

int32_t ModbusTransact(TIOMod& module, ClientSocket* socket, uint8_t (&frame)[kModbusMaxRequest],
                       uint32_t type, uint32_t ref, uint16_t count, const uint8_t* data,
                       uint8_t* reply, bool awaitReply, int32_t timeoutMs, bool retry) {
  ModbusFrameInfo info;
  if (!BuildModbusRequest(frame, static_cast<uint16_t>(TransactionCounter.load() & 0xFFFF),
                          static_cast<uint8_t>(module.nUnitID & 0xFF), type, ref, count, data,
                          awaitReply, info)) {
    return -1;
  }

  int32_t result = -1;
  if (module.bOnline && !DeviceIoHalted.load()) {
    if (socket && !socket->Connected()) RunSocketConnect(*socket);
    if (!socket || !socket->Connected()) {
      module.SetOnline(false);
    } else {
      const int32_t limit = timeoutMs == 0 ? nSocketTimeout : timeoutMs;
      // Bytes that are not the answer to this request (garbage, a stray or
      // repeated reply, an exception of full length) fail the exchange.
      auto exchange = [&] {
        int32_t r = RunSocketRW(*socket, limit, frame, info.requestLength, reply,
                                info.expectedReplyLength);
        if (r > 0 && !ReplyAnswersRequest(frame, reply, r)) {
          ORV_TRACE("the reply does not answer the request");
          socket->CloseConnection();  // what follows on this connection cannot be trusted
          r = -1;
        }
        return r;
      };
      result = exchange();
      if (result < 0 && retry) {
        socket->CloseConnection();
        if (RunSocketConnect(*socket)) {
          // Same frame, same transaction identifier.
          result = exchange();
          if (result < 0) module.SetOnline(false);
        } else {
          module.SetOnline(false);
        }
      }
    }
  }
  int32_t seen = TransactionCounter.load();
  while (!TransactionCounter.compare_exchange_weak(seen, seen >= 0xFFFF ? 0 : seen + 1)) {
  }
  return result;
}

}  // namespace orv

#pragma once
// ModbusTransaction: build one request, make sure the module's command
// connection is open, exchange, and on failure optionally reconnect and repeat
// once with the same transaction identifier.
#include <atomic>
#include <cstdint>

#include "comm/client_socket.h"
#include "comm/modbus_frame.h"

namespace orv {

class TIOMod;

// Process-wide transaction counter: its low 16 bits are the transaction
// identifier; advanced after every request that passed the parameter checks.
// Atomic because parallel runs exchange with several devices at once.
extern std::atomic<int32_t> TransactionCounter;
// Set while the program shuts down or clears the inventory: no request starts
// and no connection is closed by SetOnline.
extern std::atomic<bool> DeviceIoHalted;

// The module supplies its unit id, bOnline and SetOnline(false); socket is
// its command socket (null counts as a connection that cannot open); frame is
// the module's own request buffer. Result: -1 failure, 0 sent without reply,
// otherwise the reply length.
int32_t ModbusTransact(TIOMod& module, ClientSocket* socket, uint8_t (&frame)[kModbusMaxRequest],
                       uint32_t type, uint32_t ref, uint16_t count, const uint8_t* data,
                       uint8_t* reply, bool awaitReply, int32_t timeoutMs, bool retry);

}  // namespace orv
